#!/usr/bin/env bash
# Fails when a folder includes one it must not (see README, Layout), or when the core uses a toolkit.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
status=0
files() { # files dir... : the C++ files directly in each folder that exists
    local d
    for d in "$@"; do ls "$d"/*.h "$d"/*.cpp 2>/dev/null; done
}
forbid() { # forbid "files..." "pattern" "rule"
    local files=$1 pattern=$2 rule=$3 hits
    [ -n "$files" ] || return 0
    # shellcheck disable=SC2086
    hits=$(grep -Hn -E "^[[:space:]]*#[[:space:]]*include[[:space:]]+[\"<]($pattern)" $files 2>/dev/null)
    if [ -n "$hits" ]; then
        echo "$rule:"
        echo "$hits"
        status=1
    fi
}
qt='Q[A-Za-z]*|q[a-z]*\.h|Qt'
os='windows\.h|winbase\.h|commctrl\.h|unistd\.h|termios\.h|poll\.h|fcntl\.h|sys/'
updater_core=$(ls updater/*.h updater/*.cpp 2>/dev/null | grep -v '/form2')
window_logic="$(files control) $(ls updater/form2* 2>/dev/null)"
core="$(files platform loop serial catalogue writer unix windows simulator ui/model) $updater_core"

forbid "$core" "$qt|control/|ui/qt/|ui/win32/|updater/form2|cli/|app/" \
    "the core must not include Qt, window or front-end code"
forbid "$(files platform loop serial catalogue writer ui/model) $updater_core \
        $(ls simulator/{simulatorconfig,displaylogic,demodisplay}.{h,cpp} 2>/dev/null)" "$os" \
    "portable core code must leave the operating system to unix/ and windows/"
forbid "$window_logic" "$qt|$os|ui/qt/|ui/win32/|cli/|app/|unix/|windows/" \
    "the window logic is written once, for every front end: no toolkit, no operating system"
forbid "$(files ui/qt)" "ui/win32/|windows/|cli/|app/" "the Qt front end must not include Win32 or program code"
forbid "$(files ui/win32)" "$qt|ui/qt/|unix/|cli/|app/" "the Win32 front end must not include Qt or POSIX code"
forbid "$(files cli)" "$qt|control/|ui/|updater/form2|app/" "the command-line tool must not include Qt or window code"
[ $status -eq 0 ] && echo "Includes follow the layers."
exit $status
