#!/usr/bin/env bash
# Shows the driver receiving levels: the monitor loads the built driver and
# three senders feed it on loopback for about ten seconds, one with level
# packets, one with run-length coded blocks and one with raw blocks.
#   tools/demo.sh BIN_DIR     (BIN_DIR holds the driver and both tools)
set -euo pipefail

bin=${1:?usage: tools/demo.sh BIN_DIR}
monitor=$bin/lxdravik-monitor
send=$bin/lxdravik-send
seconds=10
for program in "$monitor" "$send"; do
  [[ -x $program ]] || { echo "demo: $program is missing; build the native preset first" >&2; exit 1; }
done

log=$(mktemp -d)
children=()
cleanup() {
  local pid
  for pid in "${children[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${children[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Each sender starts half a second later, once the monitor holds the driver's port.
start_sender() {
  local name=$1
  shift
  (sleep 0.5; exec "$send" --quiet --duration "$seconds" "$@") >"$log/$name" 2>&1 &
  children+=($!)
}
start_senders() {
  start_sender chase --pattern chase --ports 0-3 --coding rle
  start_sender fade --pattern fade --ports 4-5 --packet level
  start_sender ramp --pattern ramp --ports 6 --coding raw --fps 10
}

if [[ -t 0 && -t 1 ]]; then
  echo "demo: live view for $((seconds + 2)) s (q quits; Left/Right change the port, f the format)"
  sleep 2
  start_senders
  "$monitor" --live --duration $((seconds + 2)) || exit
else
  echo "demo: listening for $((seconds + 1)) s, then printing the levels that arrived"
  "$monitor" --duration $((seconds + 1)) >"$log/report" &
  monitor_pid=$!
  children+=("$monitor_pid")
  start_senders
  wait "$monitor_pid"
  cat "$log/report"
fi
for pid in "${children[@]}"; do
  wait "$pid" 2>/dev/null || true
done
echo
echo "senders:"
cat "$log/chase" "$log/fade" "$log/ramp" | sed 's/^/  /'
