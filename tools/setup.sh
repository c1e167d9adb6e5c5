#!/usr/bin/env bash
# Installs what the build needs (Debian 12, as root or with sudo) and builds into build/.
# Usage: tools/setup.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-packages.sh g++ cmake make pkg-config qt6-base-dev libgl-dev xvfb xauth \
    imagemagick fonts-liberation fonts-dejavu-core dbus-daemon googletest nlohmann-json3-dev libsystemd-dev cmark-gfm

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANDELL_WERROR=ON "$@" >/dev/null
cmake --build build -j"$(nproc)"
