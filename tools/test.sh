#!/usr/bin/env bash
# Sets up, builds and runs every test headless (build/); then builds again with AddressSanitizer and
# UndefinedBehaviorSanitizer, leak checking on (build-asan/), and runs every test there, where any
# sanitizer report fails the test; then a short fuzz pass (tools/fuzz.sh 30, about 30 s per target); then
# builds and checks the Debian package (tools/package.sh, build-package/); then cross-builds the Windows
# programs and runs their tests under Wine (tools/windows.sh, build-windows/).
# Every stage runs even when an earlier one failed; the exit status is non-zero if any failed.
# Ends with CTest's summaries: the normal build's, then the sanitizer build's.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
export QT_QPA_PLATFORM=offscreen

logs=$(mktemp -d "${TMPDIR:-/tmp}/morvandell-test.XXXXXX")
trap 'rm -rf "$logs"' EXIT
status=0

echo "== Tests (build/)"
(cd build && ctest --output-on-failure -j2) 2>&1 | tee "$logs/normal" || status=1

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
# -O1 keeps the instrumented tests quick; every report aborts the test that caused it. Warnings are
# the normal build's business (-Werror there): instrumentation makes some compilers warn spuriously.
if cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DMORVANDELL_SANITIZE=ON >/dev/null \
   && cmake --build build-asan -j"$(nproc)"; then
    (cd build-asan \
        && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
           UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
           ctest --output-on-failure -j2) 2>&1 | tee "$logs/asan" || status=1
else
    echo "The sanitizer build failed." | tee "$logs/asan"
    status=1
fi

echo "== Fuzz pass"
fuzz="passed"
bash tools/fuzz.sh 30 || { fuzz="FAILED (see above)"; status=1; }

echo "== Package (build-package/)"
package="passed"
bash tools/package.sh || { package="FAILED (see above)"; status=1; }

echo "== Windows (build-windows/, tests under Wine)"
windows="passed"
bash tools/windows.sh || { windows="FAILED (see above)"; status=1; }

# CTest's summary from a saved log: from its "... tests failed out of N" line to the end.
summary() {
    if grep -q 'tests failed out of' "$1"; then
        sed -n '/tests failed out of/,$p' "$1"
    else
        echo "No CTest summary: $(tail -n 1 "$1")"
    fi
}

echo
echo "== Summary"
echo "Fuzz pass: $fuzz"
echo "Package: $package"
echo "Windows: $windows"
echo "Tests (build/):"
summary "$logs/normal"
echo "Tests under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/):"
summary "$logs/asan"
exit "$status"
