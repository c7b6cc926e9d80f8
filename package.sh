#!/usr/bin/env bash
# Builds the Debian package of Korvahub in build-pkg/ and prints the path of the .deb.
#   ./package.sh          then: sudo apt install ./build-pkg/korvahub_*.deb
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps.sh

dir=build-pkg
# The packaged program must find only the installed guide, never this source tree.
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKORVAHUB_BUILD_TESTS=OFF \
    -DKORVAHUB_BUILD_BENCH=OFF -DKORVAHUB_GUIDE_FROM_SOURCE=OFF >/dev/null
cmake --build "$dir" --target korvahub -j"$(nproc)" >&2
rm -f "$dir"/korvahub_*.deb
(cd "$dir" && cpack -G DEB >&2)

shopt -s nullglob
debs=("$PWD/$dir"/korvahub_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "package.sh: expected one korvahub_*.deb in $dir, found ${#debs[@]}" >&2
    exit 1
fi
echo "${debs[0]}"
