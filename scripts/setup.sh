#!/usr/bin/env bash
# Installs the Debian packages the project needs (only when one is missing)
# and builds into build/; its arguments go to the configure step. With
# TL8_TARGETS set (names of targets, space-separated) it installs only what
# running the tool takes and builds only those targets: scripts/run.sh's
# first run. ccache, when installed, keeps the compiler's results between
# builds; nothing needs it. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

run_packages=(
  g++ cmake ninja-build qt6-base-dev  # the build
  lld                                 # links the many test programs faster than GNU ld (optional)
  libgtest-dev                        # the tests and the benchmarks (also configured on a first run)
  fonts-dejavu-core                   # text for the windows, on screen and offscreen, and the protocol page
  qt6-translations-l10n               # Qt's own dialogs and menus in Russian (qtbase_ru.qm)
  xvfb                                # run.sh without a display, screenshots.sh
)
test_packages=(
  clang-format                        # test.sh checks the layout of every source
  mbpoll                              # sim_mbpoll_test: an independent Modbus master
  python3-pymodbus python3-serial python3-serial-asyncio  # cli_independent_slave_test: an independent Modbus slave
  ser2net                             # net_ser2net_test: a real serial device server, raw and RFC 2217
  poppler-utils                       # pdftotext: the tests read the service protocol's text
  xdotool imagemagick                 # screenshots.sh drives the windows and takes the pictures
  dpkg-dev file                       # the package target: dpkg-shlibdeps finds its dependencies
)

source scripts/packages.sh
if [ -n "${TL8_TARGETS:-}" ]; then
  install_packages "${run_packages[@]}"
else
  install_packages "${run_packages[@]}" "${test_packages[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(compiler_cache) "$@"
targets=()
for target in ${TL8_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build build -j"$(nproc)" "${targets[@]}"
