#!/usr/bin/env bash
# Builds the benchmarks and prints their figures.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
# The programs measured must not ask the promotion service on the internet.
export KORVAHUB_OFFLINE=1
for b in build/bench/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b"
done
