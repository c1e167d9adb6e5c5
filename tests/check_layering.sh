#!/usr/bin/env bash
# Fails when a folder includes one above it, or when the core uses a toolkit.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
status=0
forbid() { # forbid "files..." "pattern" "rule"
    local files=$1 pattern=$2 rule=$3 hits
    # shellcheck disable=SC2086
    hits=$(grep -Hn -E "^[[:space:]]*#[[:space:]]*include[[:space:]]+[\"<]($pattern)" $files 2>/dev/null)
    if [ -n "$hits" ]; then
        echo "$rule:"
        echo "$hits"
        status=1
    fi
}
core=$(ls platform/*.{h,cpp} serial/*.{h,cpp} catalogue/*.{h,cpp} writer/*.{h,cpp} unix/*.{h,cpp} windows/*.{h,cpp} \
          tools/simulator/*.{h,cpp} 2>/dev/null; ls updater/*.{h,cpp} 2>/dev/null | grep -v '/form2')
forbid "$core" 'Q[A-Za-z]*|q[a-z]*\.h|Qt|control/|ui/|updater/form2|cli/|app/' "the core must not include Qt, window or widget code"
forbid "$(ls platform/*.{h,cpp} serial/*.{h,cpp} catalogue/*.{h,cpp} writer/*.{h,cpp} \
             tools/simulator/{simulatorconfig,displaylogic,demodisplay}.{h,cpp} 2>/dev/null)" 'windows\.h|unistd\.h|termios\.h|poll\.h|sys/' \
    "portable core code must leave the operating system to unix/ and windows/"
# The windows' handlers are written once for every front end: no toolkit, no front end.
forbid "$(ls control/*.{h,cpp} updater/form2*.{h,cpp} ui/model/*.h 2>/dev/null)" 'Q[A-Za-z]*|q[a-z]*\.h|Qt|ui/qt/|ui/win32/|windows\.h|app/|cli/' \
    "the windows' handlers and the window model must not include a toolkit or a front end"
forbid "$(ls cli/*.{h,cpp} 2>/dev/null)" 'Q[A-Za-z]*|Qt|control/|ui/|updater/form2|app/' "the command-line tool must not include Qt or window code"
[ $status -eq 0 ] && echo "Includes follow the layers."
exit $status
