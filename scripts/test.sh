#!/usr/bin/env bash
# Sets everything up, builds from scratch and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build
bash scripts/setup.sh
cd build
ctest --output-on-failure -j2
