#!/usr/bin/env bash
# Builds the optimised library and the reference host, then renders the showcase: one tile
# per plugin type, written to showcase.png (pass other uvwhost render options to override).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
if [ -x build/release/host/uvwhost/uvwhost ] && build/release/host/uvwhost/uvwhost render --help >/dev/null 2>&1; then
    build/release/host/uvwhost/uvwhost render -o showcase.png "$@"
    echo "wrote showcase.png" >&2
else
    build/release/host/uvwhost/uvwhost list
fi
