#!/usr/bin/env bash
# Screenshots of the Windows program under Wine, to look at every caption: the control window at
# start-up, with the demo display connected, the update window during a transfer and the question when
# it is closed then. Needs xvfb-run, xdotool and ImageMagick's import.
#   tests/win32/screenshots.sh BUILD-FOLDER OUT-FOLDER      (BUILD-FOLDER: the Windows build, e.g. build-windows)
set -euo pipefail
build=$(realpath "$1")
out=$(mkdir -p "$2" && realpath "$2")
exe=$build/app/morvandell.exe
[ -f "$exe" ] || { echo "no $exe: build the Windows program first" >&2; exit 1; }
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
wine=${MORVANDELL_WINE64:-/usr/lib/wine/wine64}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1
python3 -c "open('$WINEPREFIX/drive_c/morvandell-shot.bin','wb').write(bytes(i % 251 for i in range(100000)))"

# On an 800x600 Wine desktop the control window opens at its top left: the clicks below are screen
# positions of its controls (client area at 3,21; twips / 15).
xvfb-run -a -s "-screen 0 800x600x24" bash -c "
    '$wine' explorer /desktop=Screenshots,800x600 '$exe' --demo & sleep 7
    import -window root '$out/form1.png'
    xdotool mousemove 76 367 click 1; sleep 1; xdotool mousemove 50 386 click 1; sleep 1   # Com #1
    xdotool mousemove 155 369 click 1; sleep 2                                             # Connect
    import -window root '$out/form1-connected.png'
    xdotool mousemove 279 369 click 1; sleep 3                                             # Firmwareupdate
    import -window root '$out/form2.png'
    xdotool mousemove 72 43 click 1; sleep 3                                               # Load File
    xdotool type 'C:\\morvandell-shot.bin'; xdotool key Return; sleep 2
    xdotool mousemove 72 75 click 1; sleep 4                                               # Update - Normal
    import -window root '$out/form2-transfer.png'
    xdotool mousemove 258 12 click 1; sleep 2                                              # its close box
    import -window root '$out/form2-question.png'
    xdotool key Return; sleep 1                                                            # Nein
    kill %1" >/dev/null 2>&1 || true
"$(dirname "$wine")/wineserver" -k >/dev/null 2>&1 || true
ls "$out"/*.png
