#!/usr/bin/env bash
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, build-asan/, shared with fuzz.sh) and runs it; the first report of
# either stops the program that made it, so the test fails. Expects the
# packages of setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitizer-build.sh
if [ -z "${TL8_SANITIZER_BUILT:-}" ]; then
  configure_sanitizer_build
  cmake --build build-asan -j"$(nproc)"
fi
cd build-asan
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$PWD/../scripts/lsan.supp"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --output-on-failure -j2
