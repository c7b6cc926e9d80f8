#!/usr/bin/env bash
# Sets up what is missing, builds and runs the whole test suite with CTest.
#   ./test.sh             Release build in build/
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps.sh
# The interop suite's JavaScript client (skipped by its test when Node.js is absent).
./scripts/setup-interop.sh

dir=build
flags=(-DCMAKE_BUILD_TYPE=Release)
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVAHUB_SANITIZE=ON -DKORVAHUB_BUILD_BENCH=OFF)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j2
