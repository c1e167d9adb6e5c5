#!/usr/bin/env bash
# Fails when a folder includes one above it: the protocol layers (serial/, catalogue/, writer/, the update
# protocol and transfer) know nothing of windows or widgets; the update window knows nothing of the
# control window; the shared widget helpers know neither window; the command-line tool has no widgets.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
status=0
forbid() { # forbid "files..." "pattern" "rule"
    local files=$1 pattern=$2 rule=$3 hits
    # shellcheck disable=SC2086
    hits=$(grep -Hn -E "^[[:space:]]*#[[:space:]]*include[[:space:]]+\"($pattern)" $files 2>/dev/null)
    if [ -n "$hits" ]; then
        echo "$rule:"
        echo "$hits"
        status=1
    fi
}
lower=$(ls serial/*.{h,cpp} catalogue/*.{h,cpp} writer/*.{h,cpp} 2>/dev/null; ls updater/*.{h,cpp} 2>/dev/null | grep -v '/form2')
forbid "$lower" 'control/|ui/|updater/form2|cli/|app/' "protocol code must not include window or widget code"
forbid "$(ls updater/*.{h,cpp} 2>/dev/null)" 'control/|cli/|app/' "the update window must not include the control window"
forbid "$(ls ui/*.{h,cpp} 2>/dev/null)" 'control/|updater/|cli/|app/' "shared widget helpers must not include a window"
forbid "$(ls cli/*.{h,cpp} 2>/dev/null)" 'control/|ui/|updater/form2|app/' "the command-line tool must not include widget code"
[ $status -eq 0 ] && echo "Includes follow the layers."
exit $status
