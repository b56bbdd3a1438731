#!/usr/bin/env bash
# lxdravik developer entry point.
#   ./dev.sh demo            build what is needed and show the driver receiving levels
#   ./dev.sh test            install what is missing, build every target, run every test
#   ./dev.sh bench           run the benchmarks (release build)
#   ./dev.sh fuzz [SECONDS]  run every fuzz target for SECONDS each (default 60)
#   ./dev.sh package         write the release packages into dist/
set -euo pipefail
cd "$(dirname "$0")"

# Debian packages, by what needs them. Each command installs only its own
# sets: the demo needs the native build alone.
#   the native build (driver, tools, tests): the compiler, GoogleTest, CLI11,
#   ncurses, libpcap, standalone Asio, and the bridge's toml++, websocketpp
#   and nlohmann-json (header-only, so the Windows build has them too)
BUILD_PACKAGES=(cmake ninja-build g++ ccache googletest libgtest-dev libcli11-dev libncurses-dev
  libpcap-dev libasio-dev libtomlplusplus-dev libwebsocketpp-dev nlohmann-json3-dev)
#   the release build, which holds the benchmarks
RELEASE_PACKAGES=(libbenchmark-dev)
#   the fuzzers (clang's libFuzzer)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
#   the Windows builds and their tests under Wine
WINDOWS_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64)
#   the release packages
PACKAGE_PACKAGES=(nsis p7zip-full zip unzip dpkg-dev file)
#   the tests beyond the build: network namespaces, tshark for the dissector,
#   OLA as an independent sACN and Art-Net sender, chromium with node and npm
#   for the status page, systemd's systemd-analyze for the unit
TEST_PACKAGES=(iproute2 procps util-linux tshark ola chromium nodejs npm systemd clang-format)
#   32-bit Wine: optional. Without it (or where the kernel cannot run 32-bit
#   programs) the Windows tests run on the windows64 build under wine64.
WINE32_PACKAGE=wine32:i386

say() { printf '\033[1m==> %s\033[0m\n' "$*"; }

# Root runs apt-get directly; anyone else through sudo.
SUDO=()
((EUID == 0)) || SUDO=(sudo)

installed() {
  case $1 in
    # Node.js and npm may come from elsewhere (a nodejs that bundles npm
    # conflicts with Debian's npm): a working command is enough.
    nodejs) command -v node >/dev/null && return 0 ;;
    npm) command -v npm >/dev/null && return 0 ;;
  esac
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'
}

# setup PACKAGE... [-- OPTIONAL...]: installs what is missing. A failed
# apt-get update (a mirror in the middle of a sync) is reported and the
# install goes on with the package lists at hand; only a package that then
# cannot be installed fails the command, and it is named. An optional package
# that cannot be installed is said in one line.
setup() {
  local required=() optional=() missing=() missing_optional=() pkg into=required
  for pkg in "$@"; do
    if [[ $pkg == -- ]]; then into=optional; continue; fi
    if [[ $into == required ]]; then required+=("$pkg"); else optional+=("$pkg"); fi
  done
  for pkg in "${required[@]}"; do installed "$pkg" || missing+=("$pkg"); done
  for pkg in "${optional[@]}"; do installed "$pkg" || missing_optional+=("$pkg"); done
  if ((${#missing_optional[@]})) && [[ " ${missing_optional[*]} " == *:i386* ]] &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${SUDO[@]}" dpkg --add-architecture i386
  fi
  if ((${#missing[@]} + ${#missing_optional[@]})); then
    say "installing ${missing[*]} ${missing_optional[*]}"
    local status=0
    "${SUDO[@]}" apt-get update -qq >/dev/null 2>&1 || status=$?
    if ((status)); then
      say "apt-get update failed (exit $status): installing from the package lists at hand"
    fi
  fi
  if ((${#missing[@]})) && ! install_quietly "${missing[@]}" 2>/dev/null; then
    # Which of them: each on its own, so that the message names the culprits.
    local failed=()
    for pkg in "${missing[@]}"; do
      installed "$pkg" || install_quietly "$pkg" 2>/dev/null || failed+=("$pkg")
    done
    if ((${#failed[@]})); then
      echo "dev.sh: cannot install ${failed[*]} (apt-get install ${failed[*]} says why)" >&2
      exit 1
    fi
  fi
  for pkg in "${missing_optional[@]}"; do
    install_quietly "$pkg" 2>/dev/null || say "$pkg could not be installed (optional: going on without it)"
  done
  # puppeteer-core for the status page's browser test, as package-lock.json
  # says; it uses Debian's chromium and downloads no browser.
  if [[ " ${required[*]} " == *" chromium "* && ! -d tests/web/node_modules/puppeteer-core ]]; then
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

# Whether 32-bit Windows programs run here: 32-bit Wine is installed and the
# kernel runs 32-bit programs (some have ia32 emulation switched off).
runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
why_not_32bit() {
  if [[ ! -x /usr/lib/wine/wine ]]; then
    echo "32-bit Wine ($WINE32_PACKAGE) is not installed"
  else
    echo "this kernel cannot run 32-bit programs"
  fi
}

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

# Runs a preset's tests and counts them from CTest's JUnit report.
run_ctest() {
  local preset=$1 log junit counts
  log=$TMPDIR/ctest-$preset.log
  junit=$TMPDIR/ctest-$preset.xml
  rm -f "$junit"
  say "testing $preset"
  if (unset DISPLAY; export WINEDEBUG=-all; isolated ctest --preset "$preset" --output-junit "$junit" 2>&1 | tee "$log" | grep -vE '^ *([0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|Start +[0-9]+: )'); then :; fi
  # One <testcase> per test; its status is run, fail, notrun (skipped) or
  # disabled.
  if ! counts=$(junit_counts "$junit"); then
    echo "no test report from ctest --preset $preset"
    FAILED=$((FAILED + 1))
    return
  fi
  read -r passed failed skipped <<<"$counts"
  PASSED=$((PASSED + passed))
  FAILED=$((FAILED + failed))
  SKIPPED=$((SKIPPED + skipped))
}

# "PASSED FAILED SKIPPED" of a CTest JUnit file; fails when there is none.
junit_counts() {
  [[ -s $1 ]] || return 1
  python3 - "$1" <<'PY'
import sys
import xml.etree.ElementTree as ET
counts = {"run": 0, "fail": 0, "skipped": 0}
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status = case.get("status", "")
    if status == "run":
        counts["run"] += 1
    elif status in ("notrun", "disabled"):
        counts["skipped"] += 1
    else:
        counts["fail"] += 1
print(counts["run"], counts["fail"], counts["skipped"])
PY
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

# What a test run must not leave behind: processes and network namespaces of
# its own, counted as one failure each. The run's processes carry
# LXD_TEST_RUN in their environment, and the tests name their namespaces
# after it (tests/support/netns.h), so that what another program on the
# machine starts meanwhile does not count.
export LXD_TEST_RUN=r$$
run_processes() {
  local pid
  # The process names are cut to 15 characters by the kernel.
  for pid in $(ps -eo pid=,comm= | awk '$2 ~ /^(olad|wineserver(32|64)?|lxdravik-.*|chromium|node|.*\.exe)$/ {print $1}'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "LXD_TEST_RUN=$LXD_TEST_RUN" && echo "$pid"
  done
}
run_namespaces() { ip netns list 2>/dev/null | cut -d' ' -f1 | grep "^lxd-$LXD_TEST_RUN-" || true; }
leftovers_check() {
  local pid netns
  sleep 1 # a Wine server ends a moment after its last program
  for pid in $(run_processes); do
    echo "left running by the tests: $(ps -o pid=,comm= -p "$pid" 2>/dev/null)"
    FAILED=$((FAILED + 1))
  done
  for netns in $(run_namespaces); do
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
  setup "${BUILD_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
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
    say "$(why_not_32bit): the Windows tests run as a 64-bit build under wine64"
  fi
  run_ctest "$WINPRESET"
}

# One result per fuzz target, from the lines fuzz/run.sh writes.
fuzz_stage() {
  [[ -f fuzz/CMakeLists.txt ]] || return 0
  say "fuzz smoke"
  local results=$TMPDIR/fuzz-results target result
  : >"$results"
  LXD_FUZZ_RESULTS=$results ./dev.sh fuzz "${LXD_FUZZ_SMOKE_SECONDS:-10}" || true
  if [[ ! -s $results ]]; then
    FAILED=$((FAILED + 1))
    return
  fi
  while read -r target result; do
    if [[ $result == passed ]]; then PASSED=$((PASSED + 1)); else FAILED=$((FAILED + 1)); fi
  done <"$results"
}

cmd_test() {
  setup "${BUILD_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" \
    "${WINDOWS_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" "${TEST_PACKAGES[@]}" -- "$WINE32_PACKAGE"
  WINPRESET=$(windows_test_preset)
  # Everything the tests write to a temporary folder goes below build/tmp,
  # which goes at the end of the run, also when the run is interrupted.
  export TMPDIR=$PWD/build/tmp
  rm -rf "$TMPDIR"
  mkdir -p "$TMPDIR"
  chmod 755 "$TMPDIR"
  trap 'rm -rf "$TMPDIR"' EXIT
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

# The demo builds only the driver and the two tools it runs.
cmd_demo() {
  setup "${BUILD_PACKAGES[@]}"
  build native lxdravik lxdravik-monitor lxdravik-send
  if [[ -x tools/demo.sh ]]; then
    exec tools/demo.sh build/native/bin
  fi
  build/native/bin/lxdravik-monitor
}

cmd_bench() {
  setup "${BUILD_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}" iproute2 util-linux tshark ola
  build release
  if [[ -x bench/run.sh ]]; then
    exec bench/run.sh build/release/bin
  fi
}

cmd_fuzz() {
  setup "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
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
