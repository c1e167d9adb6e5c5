#!/usr/bin/env bash
# The Windows setup program under Wine, in a prefix of its own: a silent install for all users, what it
# leaves (files, the user guide, Start-menu and desktop shortcuts, the uninstall entry, the profile
# association), the installed command-line tool and windows program starting, F1 in it opening the
# installed guide, a newer version installed over it, a silent uninstall that leaves nothing behind, and
# the same for the current user alone. The setup program and the program speak the system's language:
# the all-users install runs in German, the current user's in English. The windows program needs an X
# display (xvfb-run) and xdotool (the key F1).
# Usage: installer_test.sh SETUP.exe NEWER-SETUP.exe VERSION NEWER-VERSION WORKDIR
set -uo pipefail
setup=$1 newer=$2 version=$3 newer_version=$4 work=$5

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
wine=${WINE64:-/usr/lib/wine/wine64}
[ -x "$wine" ] || wine=$(command -v wine64)
wineserver=${WINESERVER:-$(dirname "$wine")/wineserver}
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

failed=0
fail() { echo "FAILED: $*"; failed=1; }
pass() { echo "ok: $*"; }

rm -rf "$work"
mkdir -p "$work"
"$wineserver" -k >/dev/null 2>&1 || true
"$wine" wineboot -i >/dev/null 2>&1 || { echo "FAILED: wineboot"; exit 1; }
# Wine takes a program's language from the Unix locale it starts in, which must exist.
mkdir -p "$work/locales" && localedef -i de_DE -f UTF-8 "$work/locales/de_DE.UTF-8" \
    || { echo "FAILED: localedef de_DE (package locales)"; exit 1; }
german=(env LOCPATH="$work/locales" LC_ALL=de_DE.UTF-8)
english=(env LC_ALL=C.UTF-8)
# F1 opens the guide with the program Windows has for .html files; Wine's winebrowser then runs the
# host's xdg-open, here one that writes down what it is asked to open. Every Windows has .html
# associated; in Wine that comes with its HTML engine, which this prefix leaves out.
"$wine" reg add 'HKLM\Software\Classes\.html' /ve /d htmlfile /f >/dev/null 2>&1 || fail "cannot associate .html"
mkdir -p "$work/browser"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "$0.log"\n' >"$work/browser/xdg-open"
chmod +x "$work/browser/xdg-open"

c="$WINEPREFIX/drive_c"
program_dir="$c/Program Files/Morvandell"
menu_dir="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Morvandell"
desktop="$c/users/Public/Desktop/Morvandell.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvandell'

regvalue() { # regvalue KEY NAME: the value's data, or nothing
    "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^  */, ""); print }'
}
install() { # install SETUP.exe: silent, all users, with the desktop shortcut, in German
    cp "$1" "$c/setup.exe"
    "${german[@]}" "$wine" 'C:\setup.exe' /S /AllUsers /Desktop >/dev/null 2>&1
    local status=$?
    "$wineserver" -w
    rm -f "$c/setup.exe"
    return $status
}
check_installed() { # check_installed VERSION (the uninstall entry's)
    local f name
    for f in morvandell.exe morvandell-cli.exe uninstall.exe Hilfe/index.html Hilfe/en.html Hilfe/style.css; do
        [ -f "$program_dir/$f" ] || fail "$f is not in Program Files\\Morvandell"
    done
    for name in "Morvandell.lnk" "Morvandell (Demo).lnk" "Morvandell Hilfe.lnk"; do
        [ -f "$menu_dir/$name" ] || fail "Start-menu shortcut $name is missing"
    done
    [ -f "$desktop" ] || fail "the desktop shortcut is missing"
    for name in DisplayName DisplayVersion Publisher DisplayIcon InstallLocation UninstallString \
                QuietUninstallString EstimatedSize NoModify NoRepair; do
        [ -n "$(regvalue "$key" "$name")" ] || fail "the uninstall entry has no $name"
    done
    [ "$(regvalue "$key" DisplayVersion)" = "$1" ] || fail "DisplayVersion is '$(regvalue "$key" DisplayVersion)', not $1"
    [[ "$(regvalue "$key" QuietUninstallString)" == *"uninstall.exe\" /S" ]] || fail "QuietUninstallString has no /S"
    "$wine" reg query 'HKLM\Software\Classes\Morvandell.Profile\shell\open\command' /ve 2>/dev/null | grep -q 'morvandell.exe" "%1"' \
        || fail "profiles are not opened by morvandell.exe"
    "$wine" reg query 'HKLM\Software\Classes\.json\OpenWithProgids' /v Morvandell.Profile >/dev/null 2>&1 \
        || fail ".json files do not offer Morvandell"
    local out
    # Both setup programs carry the same programs: their version is the first one's.
    out=$("$wine" 'C:\Program Files\Morvandell\morvandell-cli.exe' --version 2>&1 | tr -d '\r')
    [[ "$out" == *"$version"* ]] || fail "the installed morvandell-cli.exe --version says '$out', not $version"
}

echo "== silent install of $version"
install "$setup" || fail "setup.exe /S exited with an error"
check_installed "$version"
[ $failed -eq 0 ] && pass "installed: files, shortcuts, uninstall entry, association, morvandell-cli.exe --version"

echo "== the installed morvandell.exe --demo starts"
if [ -n "${DISPLAY:-}" ] && command -v xwininfo >/dev/null; then
    PATH="$work/browser:$PATH" "${german[@]}" "$wine" 'C:\Program Files\Morvandell\morvandell.exe' --demo >/dev/null 2>&1 &
    app=$!
    shown=""
    started=$SECONDS
    for _ in $(seq 1 100); do
        if xwininfo -root -tree 2>/dev/null | grep -q '"Morvandell:'; then shown=yes; break; fi
        kill -0 $app 2>/dev/null || break
        sleep 0.2
    done
    [ -n "$shown" ] && pass "the control window is shown (after $((SECONDS - started)) s)" \
        || fail "morvandell.exe --demo shows no control window within $((SECONDS - started)) s"
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Morvandell:' 2>/dev/null | head -n 1)
    if [ -n "$window" ] && xdotool windowfocus --sync "$window" key F1; then
        opened=""
        for _ in $(seq 1 100); do
            opened=$(cat "$work/browser/xdg-open.log" 2>/dev/null)
            [ -n "$opened" ] && break
            sleep 0.2
        done
        [[ "$opened" == file://*"/Program%20Files/Morvandell/Hilfe/index.html" ]] \
            && pass "F1 opens the installed German guide: $opened" \
            || fail "F1 opened '$opened', not the installed Hilfe\\index.html"
    else
        fail "F1 could not be pressed in the control window (xdotool)"
    fi
    kill $app 2>/dev/null
    "$wineserver" -k >/dev/null 2>&1
    wait $app 2>/dev/null
else
    fail "no X display for the windows program (run under xvfb-run)"
fi

echo "== $newer_version installed over $version"
install "$newer" || fail "the newer setup.exe /S exited with an error"
check_installed "$newer_version"
entries=$("$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | tr -d '\r' | grep -ci 'morvandell')
[ "$entries" = 1 ] || fail "$entries uninstall entries after the second install"
[ $failed -eq 0 ] && pass "the newer version replaced the older one"

echo "== silent uninstall"
"$wine" 'C:\Program Files\Morvandell\uninstall.exe' /S >/dev/null 2>&1 || fail "uninstall.exe /S exited with an error"
"$wineserver" -w
[ ! -e "$program_dir" ] || fail "Program Files\\Morvandell is still there: $(ls "$program_dir")"
[ ! -e "$menu_dir" ] || fail "the Start-menu folder is still there"
[ ! -e "$desktop" ] || fail "the desktop shortcut is still there"
"$wine" reg query "$key" >/dev/null 2>&1 && fail "the uninstall entry is still there"
"$wine" reg query 'HKLM\Software\Classes\Morvandell.Profile' >/dev/null 2>&1 && fail "the profile type is still registered"
"$wine" reg query 'HKLM\Software\Classes\.json\OpenWithProgids' /v Morvandell.Profile >/dev/null 2>&1 \
    && fail ".json files still offer Morvandell"
[ $failed -eq 0 ] && pass "uninstalled: files, shortcuts and registry entries gone"

echo "== silent install and uninstall for the current user"
user_dir=$(ls -d "$c/users/"*/AppData/Local 2>/dev/null | grep -v '/Public/' | head -n 1)/Programs/Morvandell
user_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvandell'
cp "$setup" "$c/setup.exe"
"${english[@]}" "$wine" 'C:\setup.exe' /S /CurrentUser >/dev/null 2>&1 || fail "setup.exe /S /CurrentUser exited with an error"
"$wineserver" -w
rm -f "$c/setup.exe"
[ -f "$user_dir/morvandell.exe" ] && [ -f "$user_dir/morvandell-cli.exe" ] || fail "nothing in the user's Programs folder"
[ -f "$user_dir/Hilfe/en.html" ] || fail "the user guide is not in the user's Programs folder"
user_menu=$(ls -d "$c/users/"*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Morvandell 2>/dev/null | head -n 1)
[ -f "$user_menu/Morvandell Help.lnk" ] || fail "the English Start-menu entry \"Morvandell Help\" is missing: $(ls "$user_menu" 2>&1)"
[ "$(regvalue "$user_key" DisplayVersion)" = "$version" ] || fail "no uninstall entry for the current user"
"$wine" reg query "$key" >/dev/null 2>&1 && fail "a current-user install wrote the all-users entry"
"$wine" reg query 'HKCU\Software\Classes\Morvandell.Profile\shell\open\command' /ve >/dev/null 2>&1 \
    || fail "profiles are not opened by morvandell.exe for the current user"
uninstaller=$(regvalue "$user_key" InstallLocation)
"$wine" "$uninstaller\uninstall.exe" /S >/dev/null 2>&1 || fail "the current user's uninstall.exe /S exited with an error"
"$wineserver" -w
[ ! -e "$user_dir" ] || fail "the user's Programs\\Morvandell is still there"
[ ! -e "$user_menu" ] || fail "the user's Start-menu folder is still there"
"$wine" reg query "$user_key" >/dev/null 2>&1 && fail "the current user's uninstall entry is still there"
[ $failed -eq 0 ] && pass "installed and uninstalled for the current user, without the all-users places"

"$wineserver" -k >/dev/null 2>&1 || true
[ $failed -eq 0 ] && echo "Setup program tests passed." || echo "Setup program tests FAILED."
exit $failed
