#!/usr/bin/env bash
# The Wine prefix of the Windows tests, in the build folder: `prefix.sh setup DIR` makes it (the first
# time, about 6 s) and starts a Wine session whose server outlives each test for a minute;
# `prefix.sh cleanup DIR` ends it. The server is started here, with its output going nowhere: one started
# inside a test would hold the test's output open and CTest would wait for it. wineboot -i starts the
# session's services; without it the first program waits a minute for them.
set -uo pipefail
action=$1
prefix=$2
wine=${MORVANDELL_WINE64:-/usr/lib/wine/wine64}
wineserver=${MORVANDELL_WINESERVER:-$(dirname "$wine")/wineserver}
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export HOME=$prefix/home
case $action in
setup)
    mkdir -p "$prefix" "$HOME"
    "$wineserver" -k >/dev/null 2>&1
    "$wineserver" -p60 >/dev/null 2>&1 </dev/null || { echo "wineserver did not start" >&2; exit 1; }
    "$wine" wineboot -i >/dev/null 2>&1 </dev/null || { echo "wineboot -i failed in $prefix" >&2; exit 1; }
    # Every COM port a test maps gets its link afresh; none is left from an earlier run.
    rm -f "$prefix"/dosdevices/com[2-9] "$prefix"/dosdevices/com[1-9][0-9]
    ;;
cleanup)
    "$wineserver" -k >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: prefix.sh setup|cleanup DIR" >&2
    exit 2
    ;;
esac
