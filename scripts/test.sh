#!/usr/bin/env bash
# Sets everything up, builds from scratch with warnings as errors and runs
# every test, makes the Debian package, then runs the whole suite again built
# with the address and undefined-behaviour sanitizers, and each fuzz target
# over its seeds and for a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build
bash scripts/setup.sh -DTL8_WERROR=ON
# Every source in the repository's own layout (.clang-format).
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
(cd build && ctest --output-on-failure -j2)
cmake --build build --target package
bash scripts/sanitize.sh
bash scripts/fuzz.sh 10
