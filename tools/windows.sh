#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 (build-windows/, Release, -static: one .exe each, no
# MinGW DLLs) and runs their tests under Wine, in a Wine prefix inside the build folder (nothing in
# $HOME). The command-line tool's end-to-end test drives morvandell-cli.exe against the Linux display
# simulator, built for this machine in build-windows/host/. Leaves build-windows/morvandell-cli.exe,
# build-windows/morvandell.exe, the setup program morvandell-<version>-setup.exe and the portable
# morvandell-<version>-windows.zip (packaging/windows/package.sh, which tests the setup program under
# Wine). Exits non-zero on any failure.
# Usage: tools/windows.sh [extra cmake arguments for the Windows build]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-packages.sh cmake make pkg-config g++ g++-mingw-w64-x86-64-posix \
    wine64 fonts-wine xvfb xauth x11-utils xdotool locales nsis python3 googletest nlohmann-json3-dev libsystemd-dev cmark-gfm

build=build-windows
host=$build/host
jobs=$(nproc)
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64)

echo "== Display simulator and command-line tool for this machine ($host/)"
cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DMORVANDELL_QT=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$host" -j"$jobs" --target morvandell-sim morvandell-cli

echo "== Windows build ($build/)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DMORVANDELL_WERROR=ON -DMORVANDELL_WINE64="$wine" \
    -DMORVANDELL_HOST_TOOLS="$(realpath "$host")" "$@" >/dev/null
cmake --build "$build" -j"$jobs"

for program in cli/morvandell-cli.exe app/morvandell.exe ui/win32/morvandell.exe; do
    [ -f "$build/$program" ] && cp "$build/$program" "$build/"
done
[ -f "$build/morvandell-cli.exe" ] || { echo "FAILED: $build/morvandell-cli.exe was not built"; exit 1; }

echo "== Tests under Wine"
# One prefix for every test; its setup test starts the Wine session, its cleanup ends it. Window tests
# need an X display: a virtual one.
export WINEPREFIX=$(realpath "$build")/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
status=0
(cd "$build" && xvfb-run -a ctest --output-on-failure -j"$jobs") || status=1
"$(dirname "$wine")/wineserver" -k >/dev/null 2>&1 || true

echo "== Setup program and zip (packaging/windows)"
if [ -f "$build/morvandell.exe" ]; then
    version=$(sed -n 's/^project(morvandell VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    bash packaging/windows/package.sh "$build" "$version" || status=1
else
    echo "FAILED: $build/morvandell.exe was not built"
    status=1
fi

[ $status -eq 0 ] && echo "Windows build and tests: passed" || echo "Windows build or tests: FAILED"
exit $status
