#!/usr/bin/env bash
# Sets everything up, builds from scratch with warnings as errors and runs
# every test, makes the Debian package, then runs the whole suite again built
# by clang with the address and undefined-behaviour sanitizers, and each fuzz
# target of that same build over its seeds and for a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each step's end with the seconds since the start, for the CI's log.
step_done() { echo "test.sh: $1 done at ${SECONDS} s"; }
rm -rf build
# Release at -O2, as Debian builds its packages: the package's build, without
# the debugging information a developer's build keeps (which costs the
# compiler a fifth more).
bash scripts/setup.sh -DTL8_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
step_done "set-up and build"
# Every source in the repository's own layout (.clang-format).
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
(cd build && ctest --output-on-failure -j2)
step_done "layout check and tests"
cmake --build build --target package
bash scripts/sanitize.sh
step_done "package, sanitizer build (with the fuzz targets) and tests"
bash scripts/fuzz.sh 10
step_done "fuzzing"
