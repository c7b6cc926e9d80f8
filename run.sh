#!/usr/bin/env bash
# Sets up what is missing, builds a Release build and starts Korvahub.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKORVAHUB_BUILD_TESTS=OFF -DKORVAHUB_BUILD_BENCH=OFF >/dev/null
cmake --build build --target korvahub -j"$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found (DISPLAY is not set): run it under a virtual display with 'xvfb-run -a ./run.sh'." >&2
    exit 1
fi
exec ./build/korvahub "$@"
