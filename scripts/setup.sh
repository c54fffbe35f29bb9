#!/usr/bin/env bash
# Installs the Debian packages the project needs (only when one is missing)
# and builds into build/; its arguments go to the configure step. With
# TL8_TARGETS set (names of targets, space-separated) it installs only what
# running the tool takes and builds only those targets: scripts/run.sh's
# first run; TL8_PACKAGES=build installs only what the build takes (test.sh
# installs the rest while the build runs). ccache, when installed, keeps the compiler's
# results between builds; nothing needs it. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/packages.sh
if [ "${TL8_PACKAGES:-}" = build ]; then
  install_packages "${build_packages[@]}"
elif [ -n "${TL8_TARGETS:-}" ]; then
  install_packages "${run_packages[@]}"
else
  install_packages "${run_packages[@]}" "${test_packages[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(compiler_cache) "$@"
targets=()
for target in ${TL8_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build build -j"$(nproc)" "${targets[@]}"
