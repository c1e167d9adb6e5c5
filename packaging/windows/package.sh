#!/usr/bin/env bash
# Builds the Windows setup program and the portable zip (both with the user guide, docs/handbuch of the
# build, as "Hilfe") from a Windows build folder, then tests the setup program under Wine
# (tests/wine/installer_test.sh; needs an X display, so it runs under xvfb-run).
# Usage: packaging/windows/package.sh BUILD-FOLDER VERSION
# Leaves BUILD-FOLDER/morvandell-VERSION-setup.exe and BUILD-FOLDER/morvandell-VERSION-windows.zip.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "$1")
version=$2
nsi=$(realpath packaging/windows/morvandell.nsi)

for f in morvandell.exe morvandell-cli.exe docs/handbuch/index.html docs/handbuch/en.html; do
    [ -f "$build/$f" ] || { echo "FAILED: $build/$f has not been built"; exit 1; }
done

echo "== Setup program (makensis)"
setup="$build/morvandell-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DSOURCE="$build" -DOUTFILE="$setup" "$nsi"
echo "$setup"

echo "== Portable zip"
# A folder of its own inside the zip, so that unpacking it puts nothing loose on the desktop.
stage="$build/zip/morvandell-$version"
rm -rf "$build/zip"
mkdir -p "$stage"
cp "$build/morvandell.exe" "$build/morvandell-cli.exe" "$stage/"
# The user guide beside the program, where F1 looks for it (as the setup program installs it).
cp -r "$build/docs/handbuch" "$stage/Hilfe"
sed 's/$/\r/' packaging/windows/LIESMICH.txt >"$stage/LIESMICH.txt"  # Windows line ends
cp packaging/debian/copyright "$stage/COPYRIGHT.txt"
zip="$build/morvandell-$version-windows.zip"
rm -f "$zip"
(cd "$build/zip" && cmake -E tar cf "$zip" --format=zip "morvandell-$version")
listing=$(cmake -E tar tf "$zip" | grep -v '/Hilfe/.' | sort | tr '\n' ' ')
expected="morvandell-$version/ morvandell-$version/COPYRIGHT.txt morvandell-$version/Hilfe/ morvandell-$version/LIESMICH.txt morvandell-$version/morvandell-cli.exe morvandell-$version/morvandell.exe "
[ "$listing" = "$expected" ] || { echo "FAILED: the zip holds: $listing"; exit 1; }
guide=$(cmake -E tar tf "$zip" | grep '/Hilfe/.' | sed "s|^morvandell-$version/Hilfe/||" | grep -v '/$' | sort | tr '\n' ' ')
built=$(cd "$build/docs/handbuch" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
[ "$guide" = "$built" ] || { echo "FAILED: the zip's Hilfe holds: $guide (built: $built)"; exit 1; }
echo "$zip"

echo "== Setup program under Wine"
# A second setup program that calls itself newer, built from the same programs: the update test.
newer="$build/installer-test/morvandell-9.9.9-setup.exe"
mkdir -p "$(dirname "$newer")"
makensis -V2 -DVERSION=9.9.9 -DSOURCE="$build" -DOUTFILE="$newer" "$nsi"
run=()
[ -n "${DISPLAY:-}" ] || run=(xvfb-run -a)
"${run[@]}" bash tests/wine/installer_test.sh "$setup" "$newer" "$version" 9.9.9 "$build/installer-test/work"
