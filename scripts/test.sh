#!/usr/bin/env bash
# Sets everything up, builds from scratch and runs every test, then the whole
# suite again built with the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build
bash scripts/setup.sh
(cd build && ctest --output-on-failure -j2)
bash scripts/sanitize.sh
