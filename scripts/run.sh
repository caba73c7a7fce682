#!/usr/bin/env bash
# Builds the optimised library and the reference host, then renders the showcase: one tile
# per plugin type, written to showcase.png (other uvwhost render options pass through).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
build/release/host/uvwhost/uvwhost render -o showcase.png "$@"
echo "wrote showcase.png" >&2
