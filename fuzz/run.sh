#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, one after the other (one core).
#   fuzz/run.sh BIN_DIR SECONDS
# With LXD_FUZZ_RUNS=N set, each target stops after N executions instead,
# SECONDS still being the limit.
# With LXD_FUZZ_RESULTS=FILE set, one line per target is appended to FILE:
# "<target> passed" or "<target> failed" (dev.sh test counts them).
# Seeds are generated into fuzz/corpus/<target>/, which also keeps what the
# runs find; crashes land in fuzz/artifacts/<target>/. Exits non-zero when any
# target crashes, leaks, times out or fails to run.
set -uo pipefail

if (($# != 2)); then
  echo "usage: $0 BIN_DIR SECONDS" >&2
  exit 2
fi
bin=$(cd "$1" && pwd) || exit 2
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus
artifacts=$here/artifacts

# target:max_len. Datagrams are at most 1,316 bytes; a little more tests the
# length checks. The codecs and the bitmap need room for a few hundred codes
# or a small picture; captures, for a few frames. The bridge targets take a
# batch of datagrams: sACN data packets are at most 638 bytes and discovery
# pages 1,144, Art-Net packets 530; room for a handful of each.
targets=(
  fuzz_datagram:1400
  fuzz_decode_run_length:4096
  fuzz_strided:4096
  fuzz_bmp:4096
  fuzz_capture:4096
  fuzz_sacn:4096
  fuzz_artnet:2800
)

"$bin/make_seeds" "$corpus" || exit 1

failed=0
summary=()
for entry in "${targets[@]}"; do
  target=${entry%%:*}
  max_len=${entry##*:}
  mkdir -p "$corpus/$target" "$artifacts/$target"
  log=$(mktemp)
  printf '==> %s for %s s\n' "$target" "$seconds"
  "$bin/$target" "$corpus/$target" -max_total_time="$seconds" -max_len="$max_len" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 ${LXD_FUZZ_RUNS:+-runs=$LXD_FUZZ_RUNS} \
    -artifact_prefix="$artifacts/$target/" >"$log" 2>&1
  status=$?
  # libFuzzer's closing lines: "#N DONE cov: C ft: F corp: ..." and the
  # stat:: block printed by -print_final_stats.
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 | sed -nE 's/.* cov: ([0-9]+).*/\1/p')
  ft=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 | sed -nE 's/.* ft: ([0-9]+).*/\1/p')
  if ((status != 0)) || [[ -z $execs ]]; then
    failed=1
    echo "FAILED: $target (exit $status); the end of its log:"
    tail -n 40 "$log"
    summary+=("$(printf '%-24s FAILED (exit %s)' "$target" "$status")")
    [[ -n ${LXD_FUZZ_RESULTS:-} ]] && echo "$target failed" >>"$LXD_FUZZ_RESULTS"
  else
    [[ -n ${LXD_FUZZ_RESULTS:-} ]] && echo "$target passed" >>"$LXD_FUZZ_RESULTS"
    summary+=("$(printf '%-24s %12s execs %8s/s  cov %5s  ft %6s' "$target" "$execs" "$rate" \
      "${cov:-?}" "${ft:-?}")")
  fi
  rm -f "$log"
done

echo "==> fuzz summary (${seconds} s per target)"
printf '%s\n' "${summary[@]}"
if ((failed)); then
  echo "fuzz: a target failed; reproduce with BIN/<target> fuzz/artifacts/<target>/<file>"
  exit 1
fi
echo "fuzz: ${#targets[@]} passed, 0 failed"
