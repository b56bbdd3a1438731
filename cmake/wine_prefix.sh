#!/bin/sh
# The Windows tests' own Wine prefix, kept in the build folder.
#   wine_prefix.sh WINE PREFIX prepare   make it once, serially, before any test
#                                        runs under Wine (a half-made one is
#                                        made again)
#   wine_prefix.sh WINE PREFIX stop      end its Wine server after the tests
set -eu
wine=$1
export WINEPREFIX="$2" WINEDEBUG=-all
unset DISPLAY
ready=$WINEPREFIX/.lxdravik-ready-2

case $3 in
  prepare)
    [ -f "$ready" ] && exit 0
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed for $WINEPREFIX" >&2; exit 1; }
    # The bridge's tests run with the heap's free checking on: freed memory is
    # filled, so that a use after free fails them (as ASan does on Linux).
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options\bridge_tests.exe' \
      /v GlobalFlag /t REG_DWORD /d 0x20 /f >/dev/null 2>&1 || { echo "reg add failed for $WINEPREFIX" >&2; exit 1; }
    wineserver -w
    touch "$ready"
    echo "Wine prefix ready: $WINEPREFIX"
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
  *)
    echo "usage: wine_prefix.sh WINE PREFIX prepare|stop" >&2
    exit 2
    ;;
esac
