#!/usr/bin/env bash
# Installs the Debian packages the project needs (only when one is missing)
# and builds everything into build/; its arguments go to the configure step.
# Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ cmake ninja-build qt6-base-dev  # the build
  clang-format                        # test.sh checks the layout of every source
  libgtest-dev                        # the tests and the benchmarks
  mbpoll                              # sim_mbpoll_test: an independent Modbus master
  python3-pymodbus python3-serial python3-serial-asyncio  # cli_independent_slave_test: an independent Modbus slave
  ser2net                             # net_ser2net_test: a real serial device server, raw and RFC 2217
  fonts-dejavu-core                   # text for the windows, on screen and offscreen, and the protocol page
  poppler-utils                       # pdftotext: the tests read the service protocol's text
  qt6-translations-l10n               # Qt's own dialogs and menus in Russian (qtbase_ru.qm)
  xvfb                                # run.sh without a display, screenshots.sh
  xdotool imagemagick                 # screenshots.sh drives the windows and takes the pictures
  dpkg-dev file                       # the package target: dpkg-shlibdeps finds its dependencies
)

source scripts/packages.sh
install_packages "${packages[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"
