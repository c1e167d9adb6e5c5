#!/usr/bin/env bash
# The Unix locales that tests under Wine run in, generated into a folder of the build (LOCPATH=DIR):
# Wine takes its ANSI code page from the locale (pl_PL gives 1250), and without the locale itself it
# also mangles non-ASCII command-line arguments.
#   locales.sh DIR NAME...   (NAME as pl_PL; each becomes DIR/NAME.UTF-8)
set -uo pipefail
dir=$1
shift
mkdir -p "$dir"
for name in "$@"; do
    [ -d "$dir/$name.UTF-8" ] && continue
    # localedef warns (and exits 1) about some sources' details; the locale is there all the same.
    localedef -i "$name" -f UTF-8 "$dir/$name.UTF-8" >/dev/null 2>&1
    [ -f "$dir/$name.UTF-8/LC_CTYPE" ] || { echo "localedef could not make $name.UTF-8 in $dir" >&2; exit 1; }
done
