#!/usr/bin/env bash
# Installs the Node.js packages of tst_interop (tests/interop/node) when they are missing
# or no longer match the lock file. Without node and npm it does nothing: the cases that
# need them skip themselves. Safe to run any number of times.
set -euo pipefail
cd "$(dirname "$0")/../tests/interop/node"

if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    echo "setup-interop: node or npm not found; the JavaScript client's cases of tst_interop will be skipped"
    exit 0
fi

# The stamp holds the checksum of the manifest and lock file that node_modules was
# installed from, so a changed lock file reinstalls whatever the file times say.
stamp=node_modules/.korvahub-installed
want=$(cat package.json package-lock.json | sha256sum | cut -d' ' -f1)
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] \
    && [ -f node_modules/@microsoft/signalr/package.json ]; then
    exit 0
fi

echo "setup-interop: installing the Node.js packages of tst_interop"
npm ci --no-audit --no-fund --loglevel=error >/dev/null
echo "$want" >"$stamp"
