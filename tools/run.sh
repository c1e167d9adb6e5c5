#!/usr/bin/env bash
# Sets up, builds, and starts the configuration tool with the display simulator attached as port 1.
# Builds only these two programs (and the user guide F1 opens), not the tests: the first start takes
# the least time the build allows. Extra arguments go to the simulator (see:
# build/simulator/morvandell-sim --help), e.g. --firmware V2.0.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh --configure-only
cmake --build build -j"$(nproc)" --target morvandell morvandell-sim

link=/tmp/morvandell-display
build/simulator/morvandell-sim --link "$link" "$@" > /tmp/morvandell-sim.out &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "The display simulator did not start." >&2; exit 1; }
echo "Simulated display on $(readlink -f "$link"), offered as \"Com #1\"."
export MORVANDELL_PORTS="1=$link"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No graphical session here (DISPLAY is not set): running under a virtual display (xvfb-run)."
    echo "A screenshot is written to build/morvandell.png after 3 s; stop with Ctrl-C."
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        build/app/morvandell & app=$!
        sleep 3; import -window root build/morvandell.png && echo "Screenshot: build/morvandell.png"
        wait $app'
else
    build/app/morvandell
fi
