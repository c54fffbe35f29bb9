#!/usr/bin/env bash
# Sets everything up, builds from scratch with warnings as errors and runs
# every test, makes the Debian package, then runs the whole suite again built
# by clang with the address and undefined-behaviour sanitizers, and each fuzz
# target of that same build over its seeds and for a few seconds.
#
# The steps overlap where one waits and another computes: the suite's peers and
# clang are installed while the first build compiles, the sanitizer build
# compiles, at the lowest priority, while the suite waits on its lines, and
# the fuzz targets run beside the sanitizer suite.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each step's end with the seconds since the start, for the CI's log.
step_done() { echo "test.sh: $1 done at ${SECONDS} s"; }
rm -rf build
mkdir -p build
source scripts/packages.sh
source scripts/sanitizer-build.sh

install_packages "${build_packages[@]}"
install_packages "${run_packages[@]}" "${test_packages[@]}" "${sanitizer_packages[@]}" \
  >build/later-packages.log 2>&1 &
later_packages=$!
# Release at -O2, as Debian builds its packages: the package's build, without
# the debugging information a developer's build keeps (which costs the
# compiler a fifth more).
TL8_PACKAGES=build bash scripts/setup.sh -DTL8_WERROR=ON -DTL8_UNITY=ON -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
if ! wait "$later_packages"; then
  cat build/later-packages.log >&2
  exit 1
fi
touch build/linux-programs-built  # .ci/run's Windows tests use tl8sim and tl8ctl from here
step_done "set-up and build"

(configure_sanitizer_build && nice -n 19 cmake --build build-asan -j"$(nproc)") \
  >build/sanitizer-build.log 2>&1 &
sanitizer_build=$!
trap 'kill "$sanitizer_build" 2>/dev/null || true' EXIT
# Every source in the repository's own layout (.clang-format).
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
(cd build && ctest --output-on-failure -j2)
step_done "layout check and tests"
cmake --build build --target package
if ! wait "$sanitizer_build"; then
  cat build/sanitizer-build.log >&2
  exit 1
fi
trap - EXIT
step_done "package and sanitizer build (with the fuzz targets)"

# The fuzz targets run (for a fixed time each) at the lowest priority beside
# the sanitizer suite, which mostly waits on its lines.
export TL8_SANITIZER_BUILT=1
nice -n 19 bash scripts/fuzz.sh 10 >build/fuzz.log 2>&1 &
fuzzing=$!
trap 'kill "$fuzzing" 2>/dev/null || true' EXIT
bash scripts/sanitize.sh
step_done "sanitizer tests"
fuzz_status=0
wait "$fuzzing" || fuzz_status=$?
trap - EXIT
cat build/fuzz.log
((fuzz_status == 0)) || exit "$fuzz_status"
step_done "fuzzing"
