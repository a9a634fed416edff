#!/usr/bin/env bash
# Builds Velumo and starts it. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build --target velumo
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    # Xvfb is what the advice below needs on a machine without a desktop.
    scripts/deps.sh --xvfb
    echo "Velumo needs a display: no DISPLAY or WAYLAND_DISPLAY is set." >&2
    echo "Run it from a desktop session, or under Xvfb: xvfb-run -a scripts/run.sh" >&2
    exit 1
fi
exec build/velumo "$@"
