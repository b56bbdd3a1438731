#!/usr/bin/env bash
# lxdravik developer entry point.
#   ./dev.sh demo            build what is needed and show the driver receiving levels
#   ./dev.sh test            install what is missing, build every target, run every test
#   ./dev.sh bench           run the benchmarks (release build)
#   ./dev.sh fuzz [SECONDS]  run every fuzz target for SECONDS each (default 60)
#   ./dev.sh package         write the release packages into dist/
set -euo pipefail
cd "$(dirname "$0")"

# Debian packages the builds and tests need; wine32 needs the i386 architecture.
# ola is the independent sACN and Art-Net sender of the bridge tests; toml++,
# websocketpp and nlohmann-json (header-only, so the Windows build has them
# too) are the bridge's configuration and status page; chromium, nodejs and
# npm test that page in a browser; systemd's systemd-analyze checks its unit.
PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format googletest libgtest-dev
  libbenchmark-dev libcli11-dev libncurses-dev libpcap-dev tshark g++-mingw-w64-i686
  g++-mingw-w64-x86-64 libasio-dev wine wine64 wine32:i386 nsis p7zip-full zip unzip dpkg-dev
  file iproute2 procps ccache ola libtomlplusplus-dev libwebsocketpp-dev nlohmann-json3-dev
  chromium nodejs npm systemd)

say() { printf '\033[1m==> %s\033[0m\n' "$*"; }

# Root runs apt-get directly; anyone else through sudo.
SUDO=()
((EUID == 0)) || SUDO=(sudo)

setup() {
  local missing=() pkg
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${SUDO[@]}" dpkg --add-architecture i386
  fi
  for pkg in "${PACKAGES[@]}"; do
    # Node.js and npm may come from elsewhere (a nodejs that bundles npm
    # conflicts with Debian's npm): a working command is enough.
    case $pkg in
      nodejs) command -v node >/dev/null && continue ;;
      npm) command -v npm >/dev/null && continue ;;
    esac
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
  done
  if ((${#missing[@]})); then
    say "installing ${missing[*]}"
    "${SUDO[@]}" apt-get update -qq
    install_quietly "${missing[@]}"
  fi
  # puppeteer-core for the status page's browser test, as package-lock.json
  # says; it uses Debian's chromium and downloads no browser.
  if [[ ! -d tests/web/node_modules/puppeteer-core ]]; then
    say "installing puppeteer-core into tests/web"
    (cd tests/web && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --silent) ||
      say "puppeteer-core could not be installed: the status page's browser test will skip"
  fi
}

# Installs packages without starting the services they bring (olad of ola):
# the tests start their own daemons in network namespaces, and nothing of the
# machine's is started, stopped or disabled by us. A policy-rc.d that refuses
# every start is in place for the install only, and only if there was none.
install_quietly() {
  local policy=/usr/sbin/policy-rc.d placed=0
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\n# placed by lxdravik dev.sh during apt-get install\nexit 101\n' |
      "${SUDO[@]}" tee "$policy" >/dev/null
    "${SUDO[@]}" chmod 755 "$policy"
    placed=1
    trap '"${SUDO[@]}" rm -f '"$policy"'' EXIT
  fi
  local status=0
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null || status=$?
  if ((placed)); then
    "${SUDO[@]}" rm -f "$policy"
    trap - EXIT
  fi
  return "$status"
}

# ccache (where installed) shares compiled objects between clones of the tree:
# paths below the tree are hashed relative to it.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1

# Configures a preset once; later builds re-run CMake only when its inputs change.
#   build PRESET [TARGET...]   (default: every target)
build() {
  local preset=$1 targets=()
  shift
  (($#)) && targets=(--target "$@")
  # Configured again when the presets changed, so that a new cache variable
  # reaches an existing build folder.
  if [[ ! -f build/$preset/build.ninja || CMakePresets.json -nt build/$preset/CMakeCache.txt ]]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build --preset "$preset" "${targets[@]}" -- --quiet
}

# Whether this kernel runs 32-bit programs (some have ia32 emulation switched off).
runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# Windows tests: the real 32-bit DLL under Wine, or, where 32-bit programs cannot
# run, the same sources built for 64-bit Windows under wine64.
windows_test_preset() { if runs_32bit; then echo windows; else echo windows64; fi; }

PASSED=0
FAILED=0
SKIPPED=0

# Tests run in a network namespace of their own where we may make one (root,
# or unprivileged user namespaces): no daemon of the machine holds their ports,
# two test runs on one machine do not meet on the driver's UDP port, and
# nothing they send can leave the machine. Elsewhere they run as they are.
isolated() {
  if unshare -n true 2>/dev/null; then
    unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$@"
  elif unshare -rn true 2>/dev/null; then
    unshare -rn sh -c 'ip link set lo up && exec "$@"' sh "$@"
  else
    "$@"
  fi
}

run_ctest() {
  local preset=$1 log
  log=$TMPDIR/ctest-$preset.log
  say "testing $preset"
  if (unset DISPLAY; export WINEDEBUG=-all; isolated ctest --preset "$preset" 2>&1 | tee "$log" | grep -vE '^ *([0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|Start +[0-9]+: )'); then :; fi
  local line total bad skipped
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [[ -n $line ]]; then
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
    PASSED=$((PASSED + total - bad - skipped))
    FAILED=$((FAILED + bad))
    SKIPPED=$((SKIPPED + skipped))
  else
    FAILED=$((FAILED + 1))
  fi
}

# How long each stage took, printed at the end of the run.
STAGES=()
stage() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  STAGES+=("$name $((SECONDS - start)) s")
  return "$status"
}

# What a test run must not leave behind: processes of its own and network
# namespaces. Counted as one failure each.
PROCESSES_BEFORE=""
NETNS_BEFORE=""
# The process names are cut to 15 characters by the kernel.
run_processes() {
  ps -eo pid=,comm= | awk '$2 ~ /^(olad|wineserver(32|64)?|lxdravik-.*|chromium|node)$/ {print $1}' | sort
}
leftovers_snapshot() {
  PROCESSES_BEFORE=$(run_processes)
  NETNS_BEFORE=$(ip netns list 2>/dev/null | cut -d' ' -f1 | sort || true)
}
leftovers_check() {
  local pid now netns
  sleep 1 # a Wine server ends a moment after its last program
  now=$(run_processes)
  for pid in $(comm -13 <(echo "$PROCESSES_BEFORE") <(echo "$now")); do
    echo "left running by the tests: $(ps -o pid=,comm= -p "$pid" 2>/dev/null)"
    FAILED=$((FAILED + 1))
  done
  for netns in $(comm -13 <(echo "$NETNS_BEFORE") <(ip netns list 2>/dev/null | cut -d' ' -f1 | sort)); do
    echo "network namespace left by the tests: $netns"
    FAILED=$((FAILED + 1))
  done
}

# The release packages: the Debian package (cpack, release build) and the
# Windows zip and installer (packaging/windows.sh, the 32-bit build).
make_packages() {
  say "building the release files"
  build release lxd_release_files
  build windows lxd_release_files
  rm -rf dist build/release/cpack
  mkdir -p dist
  local log
  if ! log=$(cd build/release && cpack -G DEB -B "$PWD/cpack" 2>&1); then
    echo "$log" >&2
    return 1
  fi
  mv build/release/cpack/*.deb dist/
  packaging/windows.sh build/windows build/release/samples dist >/dev/null
}

# Where 32-bit programs cannot run, the installer's tests run a 64-bit build of
# the same script, holding the 64-bit build's programs (the service is started
# from it), under wine64.
make_check_installer() {
  if ! runs_32bit; then
    packaging/windows.sh build/windows64 build/release/samples build/package-check amd64-unicode >/dev/null
  fi
}

cmd_package() {
  setup
  make_packages
  say "packages in dist/"
  ls -l dist
}

build_all() {
  local preset
  for preset in native asan "$WINPRESET"; do
    say "building $preset"
    build "$preset"
  done
  # The 32-bit DLL and tools for the packages and the export-table test; its
  # test programs only where 32-bit programs run (then it is $WINPRESET).
  if [[ $WINPRESET != windows ]]; then
    say "building windows (the 32-bit DLL and tools)"
    build windows lxd_release_files
  fi
}

packages_stage() {
  make_packages && make_check_installer
}

windows_stage() {
  if [[ $WINPRESET == windows64 ]]; then
    say "this kernel cannot run 32-bit programs: the Windows tests run as a 64-bit build under wine64"
  fi
  run_ctest "$WINPRESET"
}

fuzz_stage() {
  [[ -f fuzz/CMakeLists.txt ]] || return 0
  say "fuzz smoke"
  if ./dev.sh fuzz "${LXD_FUZZ_SMOKE_SECONDS:-10}"; then PASSED=$((PASSED + 1)); else FAILED=$((FAILED + 1)); fi
}

cmd_test() {
  setup
  WINPRESET=$(windows_test_preset)
  # Everything the tests write to a temporary folder goes below build/tmp,
  # which goes at the end of the run, also when the run is interrupted.
  export TMPDIR=$PWD/build/tmp
  rm -rf "$TMPDIR"
  mkdir -p "$TMPDIR"
  chmod 755 "$TMPDIR"
  trap 'rm -rf "$TMPDIR"' EXIT
  leftovers_snapshot
  stage build build_all
  stage packages packages_stage
  stage native run_ctest native
  stage ASan run_ctest asan
  stage Windows windows_stage
  stage "fuzz smoke" fuzz_stage
  leftovers_check
  local joined
  joined=$(printf '%s, ' "${STAGES[@]}")
  echo "stage times: ${joined%, } (total $SECONDS s)"
  echo "summary: $PASSED passed, $FAILED failed, $SKIPPED skipped"
  ((FAILED == 0))
}

cmd_demo() {
  setup
  build native
  if [[ -x tools/demo.sh ]]; then
    exec tools/demo.sh build/native/bin
  fi
  build/native/bin/lxdravik-monitor
}

cmd_bench() {
  setup
  build release
  if [[ -x bench/run.sh ]]; then
    exec bench/run.sh build/release/bin
  fi
}

cmd_fuzz() {
  setup
  build fuzz
  if [[ -x fuzz/run.sh ]]; then
    exec fuzz/run.sh build/fuzz/bin "${1:-60}"
  fi
}

case "${1:-}" in
  test) cmd_test ;;
  demo) cmd_demo ;;
  bench) cmd_bench ;;
  fuzz) shift; cmd_fuzz "$@" ;;
  package) cmd_package ;;
  *) echo "usage: ./dev.sh demo | test | bench | fuzz [SECONDS] | package" >&2; exit 2 ;;
esac
