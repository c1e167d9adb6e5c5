#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/fuzz_*.cpp) with clang into build-fuzz/ and runs each for the
# given number of seconds on a scratch copy of its seed corpus (tests/fuzz/corpus/<target>/), so runs
# never add to the repository. Prints per target the executions and executions per second. Exits
# non-zero when a target crashes, leaks or reports a property failure; the failing input is kept
# under build-fuzz/findings/<target>/ with the command that replays it.
# Usage: tools/fuzz.sh [seconds] [target...]      (default: 30 seconds, every target that builds;
#        FUZZ_JOBS sets the parallel build jobs, default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
[ $# -gt 0 ] && shift
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: tools/fuzz.sh [seconds >= 1] [target...]" >&2
    exit 2
fi

# clang with its sanitizer and libFuzzer runtimes (libclang-rt-14-dev is only recommended by clang,
# so it is named), plus what configuring the project needs (nlohmann-json, libsystemd).
bash tools/install-packages.sh clang libclang-rt-14-dev cmake make pkg-config nlohmann-json3-dev libsystemd-dev

for t in "$@"; do
    [ -f "tests/fuzz/$t.cpp" ] || { echo "No fuzz target $t (tests/fuzz/$t.cpp)" >&2; exit 2; }
done

mkdir -p build-fuzz
if ! cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANDELL_FUZZ=ON \
        -DBUILD_TESTING=OFF >build-fuzz/configure.log 2>&1; then
    cat build-fuzz/configure.log >&2
    exit 1
fi
# The targets the build offers: one per tests/fuzz/fuzz_*.cpp.
mapfile -t built < <(grep -v '^$' build-fuzz/tests/fuzz/targets.txt)
if [ $# -gt 0 ]; then
    targets=("$@")
    for t in "${targets[@]}"; do
        printf '%s\n' "${built[@]}" | grep -qx "$t" || { echo "Fuzz target $t cannot be built yet." >&2; exit 2; }
    done
else
    targets=("${built[@]}")
fi
[ ${#targets[@]} -gt 0 ] || { echo "No fuzz target can be built." >&2; exit 1; }
cmake --build build-fuzz -j"${FUZZ_JOBS:-2}" --target "${targets[@]}" | grep -v -E '^\[ *[0-9]+%\] (Built target|Automatic)' || true
for t in "${targets[@]}"; do
    [ -x "build-fuzz/tests/fuzz/$t" ] || { echo "Fuzz target $t was not built." >&2; exit 1; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/morvandell-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

echo "Fuzzing ${#targets[@]} target(s) for $seconds s each:"
failed=0
for t in "${targets[@]}"; do
    mkdir -p "$scratch/$t/corpus" "$scratch/$t/artifacts"
    [ -d "tests/fuzz/corpus/$t" ] && cp -r "tests/fuzz/corpus/$t/." "$scratch/$t/corpus/"
    log="$scratch/$t/log"
    rc=0
    started=$SECONDS
    "build-fuzz/tests/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 -rss_limit_mb=2560 \
        -artifact_prefix="$scratch/$t/artifacts/" "$scratch/$t/corpus" >"$log" 2>&1 || rc=$?
    execs=$(awk '/^stat::number_of_executed_units:/ {print $2}' "$log" | tail -n 1)
    rate=$(awk '/^stat::average_exec_per_sec:/ {print $2}' "$log" | tail -n 1)
    if [ "${rate:-0}" = 0 ] && [ -n "$execs" ]; then # libFuzzer says 0 when it stopped within a second
        rate=$(( execs / (SECONDS - started > 0 ? SECONDS - started : 1) ))
    fi
    if [ "$rc" -eq 0 ]; then
        printf '  %-24s %12s executions %8s exec/s  ok\n' "$t" "${execs:-?}" "${rate:-?}"
    else
        failed=1
        printf '  %-24s %12s executions %8s exec/s  FAILED (exit %s)\n' "$t" "${execs:-?}" "${rate:-?}" "$rc"
        findings="build-fuzz/findings/$t"
        rm -rf "$findings"
        mkdir -p "$findings"
        cp "$log" "$findings/log"
        cp "$scratch/$t/artifacts/"* "$findings/" 2>/dev/null || true
        # What went wrong: the property message, else the sanitizer's or libFuzzer's report.
        if grep -q '^\*\*\* property violated' "$log"; then
            grep -A2 '^\*\*\* property violated' "$log" | head -n 3 | sed 's/^/      /'
        else
            grep -E -A8 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log" \
                | head -n 12 | sed 's/^/      /'
        fi
        grep -E '^(SUMMARY|Base64):' "$log" | sed 's/^/      /' || true
        for input in "$findings"/crash-* "$findings"/leak-* "$findings"/timeout-* "$findings"/oom-*; do
            [ -e "$input" ] && echo "      replay: build-fuzz/tests/fuzz/$t $input"
        done
    fi
done
if [ "$failed" -ne 0 ]; then
    echo "Fuzzing found failures (inputs and logs in build-fuzz/findings/)."
fi
exit "$failed"
