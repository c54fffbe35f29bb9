#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) in the sanitizer build, build-asan/
# (clang, the address and undefined-behaviour sanitizers; shared with
# sanitize.sh), then for each target runs its seed corpus once (the
# regression run) and SECONDS seconds of new inputs (default 10; 0: the
# regression run only). Any crash, broken property, leak or hang fails the
# script. New inputs go to build-asan/corpus/<target>, a copy of the seeds,
# never into the tree; a failing input is kept in build-asan/artifacts/. Safe
# to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}

source scripts/sanitizer-build.sh
if [ -z "${TL8_SANITIZER_BUILT:-}" ]; then
  configure_sanitizer_build
  cmake --build build-asan --target tl8_fuzzers -j"$(nproc)"
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
limits=(-timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1)
mkdir -p build-asan/artifacts build-asan/fuzz-logs

# Fuzzes one target (its seeds' folder is $1); its output goes to its log.
fuzz_target() {
  local seeds=$1 target binary corpus
  target=$(basename "$seeds")
  binary=build-asan/fuzz/$target
  corpus=build-asan/corpus/$target
  mkdir -p "$corpus"
  cp "$seeds"* "$corpus"/  # the seeds as in the tree, beside what earlier runs found
  {
    echo "== $target: regression run over $(ls "$seeds" | wc -l) seeds"
    "$binary" "${limits[@]}" -artifact_prefix=build-asan/artifacts/"$target"- "$seeds"* || return 1
    if ((seconds > 0)); then
      echo "== $target: $seconds s of new inputs"
      "$binary" "${limits[@]}" -artifact_prefix=build-asan/artifacts/"$target"- \
        -max_total_time="$seconds" "$corpus" || return 1
    fi
  } >"build-asan/fuzz-logs/$target.log" 2>&1
}

# The targets run side by side, one per core; each log is shown whole, after.
pids=()
targets=()
for seeds in fuzz/corpus/fuzz_*/; do
  while (($(jobs -rp | wc -l) >= $(nproc))); do sleep 0.2; done
  fuzz_target "$seeds" &
  pids+=($!)
  targets+=("$(basename "$seeds")")
done
failed=()
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || failed+=("${targets[$i]}")
done
for target in "${targets[@]}"; do
  cat "build-asan/fuzz-logs/$target.log"
done
if ((${#failed[@]})); then
  echo "Fuzzing failed: ${failed[*]} (inputs kept in build-asan/artifacts/)" >&2
  exit 1
fi
echo "All fuzz targets ran clean."
