#!/usr/bin/env bash
# The Win32 window tests run in a Wine virtual desktop ("Morvandell", 1024x768): Wine then draws the
# title bars itself, and a window that hides or closes does not wait for a window manager that a bare
# X server (xvfb-run) lacks (two seconds each time otherwise).
# Usage: desktop.sh PROGRAM.exe...   (in the environment of the Wine prefix)
set -uo pipefail
wine=${MORVANDELL_WINE64:-/usr/lib/wine/wine64}
if [ -z "${DISPLAY:-}" ]; then
    echo "The window tests need an X display: run them under xvfb-run -a (tools/windows.sh does)." >&2
    exit 1
fi
"$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Morvandell /t REG_SZ /d 1024x768 /f >/dev/null 2>&1 ||
    { echo "cannot set the virtual desktop in $WINEPREFIX" >&2; exit 1; }
for program in "$@"; do
    "$wine" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\Explorer" /v Desktop /t REG_SZ /d Morvandell /f \
        >/dev/null 2>&1 || { echo "cannot put $program on the virtual desktop" >&2; exit 1; }
done
