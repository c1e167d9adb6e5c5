#!/usr/bin/env bash
# Sets up, builds, and runs every test headless, ending in CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j2
