#!/usr/bin/env bash
# Installs what the build needs (Debian 12, as root or with sudo), configures build/ and builds everything
# in it (programs, tests, benchmarks). --configure-only stops after configuring (tools/run.sh then builds
# only what it runs).
# Usage: tools/setup.sh [--configure-only] [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
build_all=1
if [ "${1:-}" = "--configure-only" ]; then
    build_all=0
    shift
fi

bash tools/install-packages.sh g++ cmake make pkg-config qt6-base-dev libgl-dev xvfb xauth \
    imagemagick fonts-liberation fonts-dejavu-core dbus-daemon googletest nlohmann-json3-dev libsystemd-dev python3 cmark-gfm

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANDELL_WERROR=ON "$@" >/dev/null
[ "$build_all" -eq 0 ] || cmake --build build -j"$(nproc)"
