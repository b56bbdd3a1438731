#!/usr/bin/env bash
# The release packages in dist/ as users get them.
#   package_test.sh contents       what the zip, the installer and the .deb hold
#   package_test.sh deb-runs       the .deb's monitor, unpacked, receives its sender's levels
#   package_test.sh deb-service    the .deb's bridge service: its unit verified, its
#                                  configuration run by its program as an unprivileged user
#   package_test.sh wine-install   the installer, silently, into a fresh Wine prefix and out
#                                  (with the bridge's service, inside a network namespace)
# CMake passes LXD_DIST, LXD_VERSION, LXD_ARCH (multiarch triplet), LXD_SAMPLES
# (the build's sample bitmaps), LXD_EXPORT_TEST, LXD_CHECK_SETUP (the installer
# built for 64-bit Windows, for machines without 32-bit Wine) and LXD_OPTIONAL
# (tools/files whose sources exist: bridge, dissector) and LXD_SOURCE (the
# source tree). Exit 77: skipped.
set -euo pipefail

version=$LXD_VERSION
name=lxdravik-$version-windows-x86
zip=$LXD_DIST/$name.zip
setup=$LXD_DIST/lxdravik-$version-setup.exe
deb=$LXD_DIST/lxdravik_${version}_amd64.deb
for file in "$zip" "$setup" "$deb"; do
  [[ -f $file ]] || { echo "skipped: $file is missing; ./dev.sh package makes it"; exit 77; }
done
# The installer makes the bridge a Windows service, which Wine starts at
# once and which uses the host's sockets: that test runs in a network
# namespace of its own, where loopback carries the multicast.
if [[ ${1:-} == wine-install && " $LXD_OPTIONAL " == *" bridge "* && -z ${LXD_OWN_NETWORK:-} ]]; then
  unshare -n true 2>/dev/null || { echo "skipped: the bridge's service needs a network namespace of its own (root)"; exit 77; }
  exec unshare -n env LXD_OWN_NETWORK=1 bash "$0" "$@"
fi
# own_network: loopback up, and a veth pair whose ends both stay in this
# namespace, as the network card that the packaged configuration receives on.
own_network() {
  ip link set lo up && ip route add 224.0.0.0/4 dev lo &&
    ip link add lxd0 type veth peer name lxd1 && ip addr add 198.18.9.1/24 dev lxd0 &&
    ip link set lxd1 up && ip link set lxd0 up
}
if [[ -n ${LXD_OWN_NETWORK:-} ]]; then
  own_network
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

tools=(lxdravik-monitor lxdravik-send)
[[ " $LXD_OPTIONAL " == *" bridge "* ]] && tools+=(lxdravik-bridge)
bitmaps=(welcome.bmp modebar.bmp)
bitmap_dir=/opt/dravik-lighting/vistane

# same LABEL ACTUAL EXPECTED: two newline-separated lists hold the same lines.
same() {
  if ! diff <(sort <<<"$2") <(sort <<<"$3") >"$tmp/diff"; then
    fail "$1 (< found, > expected):"
    cat "$tmp/diff"
  fi
}
lines() { printf '%s\n' "$@"; }
# pixel FILE WIDTH HEIGHT X Y: "bb gg rr" of a 24-bit bottom-up BMP.
pixel() {
  local row=$((($2 * 3 + 3) / 4 * 4))
  od -An -tx1 -j$((54 + ($3 - 1 - $5) * row + $4 * 3)) -N3 "$1" | xargs
}

check_contents() {
  local zip_want=("$name/lxdravik.dll" "$name/lxdravik.h" "$name/README.txt")
  local setup_want=(lxdravik.dll tools/README.txt tools/uninstall-lxdravik.exe)
  local deb_want=(/usr/lib/$LXD_ARCH/liblxdravik.so /usr/include/lxdravik.h
    /usr/include/lxdravik_bitmap.h)
  local tool bitmap
  for tool in "${tools[@]}"; do
    zip_want+=("$name/tools/$tool.exe")
    setup_want+=("tools/$tool.exe")
    deb_want+=("/usr/bin/$tool")
  done
  for bitmap in "${bitmaps[@]}"; do
    zip_want+=("$name/bitmaps/$bitmap")
    setup_want+=("C:/Program Files/Dravik Lighting/Vistane/$bitmap")
    deb_want+=("$bitmap_dir/$bitmap")
  done
  [[ " $LXD_OPTIONAL " == *" dissector "* ]] &&
    deb_want+=("/usr/lib/$LXD_ARCH/wireshark/plugins/lxdravik.lua")
  local conffiles=("${bitmaps[@]/#/$bitmap_dir/}")
  if [[ " $LXD_OPTIONAL " == *" bridge "* ]]; then
    zip_want+=("$name/tools/bridge.toml")
    setup_want+=("\$APPDATA/Dravik Lighting/lxdravik/bridge.toml" "\$PLUGINSDIR/nsExec.dll")
    deb_want+=(/usr/lib/systemd/system/lxdravik-bridge.service /etc/lxdravik/bridge.toml)
    conffiles+=(/etc/lxdravik/bridge.toml)
  fi

  same "zip" "$(unzip -Z1 "$zip" | grep -v '/$')" "$(lines "${zip_want[@]}")"
  same "installer" "$(7z l -slt "$setup" | sed -n 's/^Path = //p' | tail -n +2)" \
    "$(lines "${setup_want[@]}")"
  same "deb" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}')" \
    "$(lines "${deb_want[@]}")"
  same "deb conffiles" "$(dpkg-deb -I "$deb" conffiles)" "$(lines "${conffiles[@]}")"
  same "deb version" "$(dpkg-deb -f "$deb" Version)" "$version"

  unzip -q "$zip" -d "$tmp"
  local root=$tmp/$name
  grep -q "^lxdravik $version for Windows"$'\r$' "$root/README.txt" || fail "README.txt title"
  if grep -q '@VERSION@' "$root/README.txt"; then fail "README.txt keeps a placeholder"; fi
  [[ $(grep -c $'\r$' "$root/README.txt") == $(wc -l <"$root/README.txt") ]] ||
    fail "README.txt has lines without CRLF"

  # The DLL: machine, twenty exports at their ordinals, system imports only.
  if ! LXD_WINDOWS_DLL=$root/lxdravik.dll "$LXD_EXPORT_TEST" \
    --gtest_filter='Exports/DllExportTable.*/windows' >"$tmp/exports" 2>&1 ||
    grep -q SKIPPED "$tmp/exports"; then
    fail "export table of the zip's DLL:"
    cat "$tmp/exports"
  fi
  # Every program file: 32-bit, a version resource, nothing but system DLLs.
  local file base
  for file in "$root/lxdravik.dll" "$root"/tools/*.exe; do
    base=$(basename "$file")
    same "$base: version resource" \
      "$(strings -el "$file" | grep -A1 -xE 'CompanyName|FileVersion|ProductVersion|OriginalFilename' | grep -v '^--')" \
      "$(lines CompanyName "Dravik Lighting" FileVersion "$version.0" OriginalFilename "$base" \
        ProductVersion "$version.0")"
    i686-w64-mingw32-objdump -f "$file" | grep -q 'file format pei-i386' || fail "$base is not 32-bit"
    if i686-w64-mingw32-objdump -p "$file" | sed -n 's/.*DLL Name: //p' |
      grep -viE '^(kernel32|user32|gdi32|ws2_32|mswsock|advapi32|iphlpapi|msvcrt)\.dll$'; then
      fail "$base needs the DLLs above"
    fi
  done

  # The sample bitmaps: the same in every package; 24-bit, uncompressed, whole,
  # magenta in the top left corner and not in the middle.
  dpkg-deb -x "$deb" "$tmp/deb"
  local bitmap width height copy
  while read -r bitmap width height; do
    for copy in "$root/bitmaps/$bitmap" "$tmp/deb$bitmap_dir/$bitmap"; do
      cmp -s "$LXD_SAMPLES/$bitmap" "$copy" || fail "$copy differs from the build's"
    done
    file=$LXD_SAMPLES/$bitmap
    same "$bitmap: width, height, bits, compression" \
      "$(od -An -tu4 -j18 -N8 "$file" | xargs) $(od -An -tu2 -j28 -N2 "$file" | xargs) $(od -An -tu4 -j30 -N4 "$file" | xargs)" \
      "$width $height 24 0"
    same "$bitmap size" "$(stat -c %s "$file")" "$((54 + (width * 3 + 3) / 4 * 4 * height))"
    same "$bitmap corner" "$(pixel "$file" "$width" "$height" 0 0)" "ff 00 ff"
    if [[ $(pixel "$file" "$width" "$height" $((width / 2)) $((height / 2))) == "ff 00 ff" ]]; then
      fail "$bitmap middle is see-through"
    fi
  done <<<"welcome.bmp 320 200
modebar.bmp 200 24"
}

check_deb_runs() {
  local root=$tmp/root
  dpkg-deb -x "$deb" "$root"
  export LD_LIBRARY_PATH=$root/usr/lib/$LXD_ARCH
  "$root/usr/bin/lxdravik-monitor" --duration 4 --json >"$tmp/out" 2>"$tmp/err" &
  local monitor=$! i
  for ((i = 0; i < 100; i++)); do
    grep -q listening "$tmp/err" && break
    sleep 0.1
  done
  printf '5 7 42\n5 511 9\n' >"$tmp/levels.txt"
  "$root/usr/bin/lxdravik-send" --file "$tmp/levels.txt" --quiet || fail "sender"
  wait "$monitor" || fail "monitor: $(cat "$tmp/err")"
  grep -qF "\"driver\": \"$root/usr/lib/$LXD_ARCH/liblxdravik.so\"" "$tmp/out" ||
    fail "the monitor did not load the package's library: $(grep driver "$tmp/out")"
  same "changed ports" "$(grep changed_ports "$tmp/out" | xargs)" "changed_ports: [5],"
  local levels
  levels=$(sed -n 's/.*"port": 5,.*"levels": \[\([^]]*\)\].*/\1/p' "$tmp/out" | tr -d ' ')
  same "port 5, channels 7 and 511" "$(cut -d, -f8,512 <<<"$levels")" "42,9"
}

# The bridge's service as the .deb installs it, without installing it: the
# unit passes systemd-analyze verify against the package's files, the
# maintainer scripts parse, and the packaged program runs the packaged
# configuration as an unprivileged user inside a network namespace of this
# test's own, where its status page answers.
check_deb_service() {
  [[ " $LXD_OPTIONAL " == *" bridge "* ]] || { echo "skipped: no bridge in this build"; exit 77; }
  unshare -n true 2>/dev/null || { echo "skipped: a network namespace of its own needs root"; exit 77; }
  local root=$tmp/root unit=usr/lib/systemd/system/lxdravik-bridge.service script
  chmod 755 "$tmp" # the unprivileged bridge reads the package from here
  dpkg-deb -x "$deb" "$root"
  dpkg-deb -e "$deb" "$tmp/control"
  for script in postinst prerm postrm; do
    sh -n "$tmp/control/$script" || fail "$script does not parse"
  done
  grep -q 'deb-systemd-helper' "$tmp/control/postinst" && grep -q ldconfig "$tmp/control/postinst" ||
    fail "postinst lacks the service or the loader steps"
  if command -v systemd-analyze >/dev/null; then
    # The unit against the package's files and this system's targets.
    mkdir -p "$root/bin"
    cp /bin/kill "$root/bin/"
    cp -a /usr/lib/systemd/system/*.target "$root/usr/lib/systemd/system/"
    systemd-analyze verify --root="$root" lxdravik-bridge.service >"$tmp/verify" 2>&1 ||
      fail "systemd-analyze verify failed"
    [[ ! -s $tmp/verify ]] || fail "systemd-analyze verify: $(cat "$tmp/verify")"
  else
    echo "systemd-analyze is missing (Debian package systemd): the unit is not verified"
  fi
  same "ExecStart" "$(sed -n 's/^ExecStart=//p' "$root/$unit")" \
    "/usr/bin/lxdravik-bridge --config /etc/lxdravik/bridge.toml"
  local http
  http=$(sed -n 's/^http = "\(.*\)"$/\1/p' "$root/etc/lxdravik/bridge.toml")
  [[ $http == 127.0.0.1:* ]] || fail "the status page is not on 127.0.0.1 by default: '$http'"
  # As the service runs it, but with the paths of the unpacked package. The
  # checkout may lie below a folder other users cannot enter (a clone in a
  # mktemp -d folder): the package is seen at /mnt, in a mount namespace of
  # the test's own, so that the unprivileged user reaches it whatever lies
  # above it.
  export -f own_network
  unshare -n -m bash -c '
    own_network || exit 1
    mount --bind "$1" /mnt && set -- /mnt "$2" "$3"
    setpriv --reuid=65534 --regid=65534 --clear-groups "$1/usr/bin/lxdravik-bridge" \
      --config "$1/etc/lxdravik/bridge.toml" --duration 4 >"$3/out" 2>"$3/err" &
    for ((i = 0; i < 50; i++)); do
      answer=$(curl -s "http://$2/healthz") && break
      sleep 0.1
    done
    echo "$answer" >"$3/health"
    curl -s "http://$2/status.json" >"$3/status"
    wait' _ "$root" "$http" "$tmp" || fail "the packaged bridge: $(cat "$tmp/err")"
  same "healthz" "$(cat "$tmp/health")" "ok"
  same "mapped ports" "$(grep -o '"label":"sACN [0-9]*"' "$tmp/status" | wc -l)" 36
  grep -q "listening for 36 sACN universes" "$tmp/err" || fail "the bridge said: $(cat "$tmp/err")"
}

check_wine_install() {
  local wine=/usr/lib/wine/wine installer=$setup
  if ! "$wine" --version >/dev/null 2>&1; then
    if [[ ! -f ${LXD_CHECK_SETUP:-} ]]; then
      echo "skipped: this machine cannot run 32-bit Windows programs, and there is no 64-bit build of the installer"
      exit 77
    fi
    echo "this machine cannot run 32-bit Windows programs: checking the same installer script built for 64-bit Windows under wine64"
    wine=/usr/lib/wine/wine64
    installer=$LXD_CHECK_SETUP
  fi
  export WINEPREFIX=$tmp/prefix WINEDEBUG=-all
  unset DISPLAY
  wineserver=${wine%/*}/wineserver
  trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$tmp"' EXIT
  "$wine" wineboot -i >/dev/null 2>&1
  local c=$WINEPREFIX/drive_c key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\lxdravik'
  local pictures="$c/Program Files/Dravik Lighting/Vistane" host=$c/Hosts/Vistane i
  mkdir -p "$pictures"
  echo "a user's own picture" >"$pictures/welcome.bmp"

  "$wine" "$installer" /S '/D=C:\Hosts\Vistane' || fail "installer exit code $?"
  local want=(lxdravik.dll tools/README.txt tools/uninstall-lxdravik.exe) tool
  for tool in "${tools[@]}"; do want+=("tools/$tool.exe"); done
  for file in "${want[@]}"; do
    [[ -f $host/$file ]] || fail "not installed: $file"
  done
  cmp -s "$pictures/modebar.bmp" "$LXD_SAMPLES/modebar.bmp" || fail "modebar.bmp not installed"
  grep -qx "a user's own picture" "$pictures/welcome.bmp" || fail "the user's welcome.bmp was replaced"
  "$wine" reg query "$key" /v DisplayVersion 2>/dev/null | grep -q "$version" ||
    fail "no entry in the installed programs"

  local config_dir="$c/ProgramData/Dravik Lighting/lxdravik"
  local link="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/lxdravik bridge status.url"
  local service_key='HKLM\System\CurrentControlSet\Services\lxdravik-bridge'
  if [[ " $LXD_OPTIONAL " == *" bridge "* ]]; then
    "$wine" sc query lxdravik-bridge >"$tmp/query" 2>&1 || fail "sc query: $(cat "$tmp/query")"
    grep -q 'SERVICE_NAME: lxdravik-bridge' "$tmp/query" || fail "not registered: $(cat "$tmp/query")"
    "$wine" reg query "$service_key" >"$tmp/service" 2>&1
    grep -q 'Start.*0x2' "$tmp/service" || fail "the service does not start automatically: $(cat "$tmp/service")"
    grep -qF 'tools\lxdravik-bridge.exe" --config "C:\ProgramData\Dravik Lighting\lxdravik\bridge.toml"' \
      "$tmp/service" || fail "the service's command line: $(cat "$tmp/service")"
    # Its own virtual account, not LocalSystem. (Wine's sc sets no failure
    # actions, failureflag or sidtype, and its icacls changes nothing: those
    # cannot be checked here.)
    grep -qE 'ObjectName +REG_SZ +NT SERVICE\\lxdravik-bridge\s*$' "$tmp/service" ||
      fail "the service's account: $(grep ObjectName "$tmp/service")"
    cmp -s "$config_dir/bridge.toml" <(sed 's/$/\r/' "$LXD_BRIDGE_CONFIG") ||
      fail "the default configuration is not in ProgramData"
    tr -d '\r' <"$link" 2>/dev/null | grep -qx 'URL=http://127.0.0.1:8250/' ||
      fail "no Start-menu link to the status page"
    # Started again as Windows starts, the automatic service runs with that
    # configuration: its status page answers. (Wine's service manager is
    # still busy starting its own services right after the first boot, so the
    # installer's own start may find it locked.)
    # The server is kept (-p) while the page is read: left to itself, Wine's
    # server ends a few seconds after its last program that is not a
    # service, and takes the services with it.
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    "$wineserver" -p
    "$wine" wineboot >/dev/null 2>&1
    local health="" i
    for ((i = 0; i < 300; i++)); do
      health=$(curl -s http://127.0.0.1:8250/healthz) && [[ $health == ok ]] && break
      sleep 0.2
    done
    same "the service's /healthz" "$health" "ok"
    same "the service's mapped ports" \
      "$(curl -s http://127.0.0.1:8250/status.json | grep -o '"label":"sACN [0-9]*"' | wc -l)" 36
    grep -q "listening for 36 sACN universes" "$config_dir/bridge.log" ||
      fail "the service's log: $(cat "$config_dir/bridge.log" 2>&1)"
    # The firewall rules cannot be checked here: Wine's netsh has no firewall.
  fi

  "$wine" 'C:\Hosts\Vistane\tools\uninstall-lxdravik.exe' /S || fail "uninstaller exit code $?"
  for ((i = 0; i < 300; i++)); do # it goes on running from a copy of itself
    [[ -e $c/Hosts ]] || break
    sleep 0.1
  done
  [[ ! -e $c/Hosts ]] || fail "left behind: $(find "$c/Hosts" | xargs)"
  [[ ! -e $pictures/modebar.bmp ]] || fail "modebar.bmp left behind"
  grep -qx "a user's own picture" "$pictures/welcome.bmp" || fail "the user's welcome.bmp was removed"
  if "$wine" reg query "$key" >/dev/null 2>&1; then fail "the installed programs entry is left"; fi
  if [[ " $LXD_OPTIONAL " == *" bridge "* ]]; then
    if "$wine" reg query "$service_key" >/dev/null 2>&1; then fail "the service is left"; fi
    [[ ! -e $link ]] || fail "the Start-menu link is left"
    [[ -f $config_dir/bridge.toml ]] || fail "the configuration was removed"
    grep -q "stopped; lxdravik-bridge: " "$config_dir/bridge.log" ||
      fail "the uninstaller did not stop the service: $(cat "$config_dir/bridge.log")"
    if curl -s -m 2 http://127.0.0.1:8250/healthz >/dev/null; then fail "the bridge still runs"; fi
  fi
}

case ${1:-} in
  contents) check_contents ;;
  deb-runs) check_deb_runs ;;
  deb-service) check_deb_service ;;
  wine-install) check_wine_install ;;
  *) echo "usage: package_test.sh contents|deb-runs|deb-service|wine-install" >&2; exit 2 ;;
esac
echo "$1: $failures failures"
((failures == 0))
