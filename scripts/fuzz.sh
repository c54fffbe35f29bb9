#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, the address and
# undefined-behaviour sanitizers into build-fuzz/, then for each target runs
# its seed corpus once (the regression run) and SECONDS seconds of new inputs
# (default 10; 0: the regression run only). Any crash, broken property, leak
# or hang fails the script. New inputs go to build-fuzz/corpus/<target>, a
# copy of the seeds, never into the tree; a failing input is kept in
# build-fuzz/artifacts/. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}

source scripts/packages.sh
install_packages clang libclang-rt-14-dev cmake ninja-build qt6-base-dev

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTL8_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build build-fuzz --target tl8_fuzzers -j"$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
limits=(-timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1)
mkdir -p build-fuzz/artifacts
for seeds in fuzz/corpus/fuzz_*/; do
  target=$(basename "$seeds")
  binary=build-fuzz/fuzz/$target
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  cp "$seeds"* "$corpus"/  # the seeds as in the tree, beside what earlier runs found
  echo "== $target: regression run over $(ls "$seeds" | wc -l) seeds"
  "$binary" "${limits[@]}" -artifact_prefix=build-fuzz/artifacts/"$target"- "$seeds"*
  if ((seconds > 0)); then
    echo "== $target: $seconds s of new inputs"
    "$binary" "${limits[@]}" -artifact_prefix=build-fuzz/artifacts/"$target"- \
      -max_total_time="$seconds" "$corpus"
  fi
done
echo "All fuzz targets ran clean."
