#!/usr/bin/env bash
# Installs the Debian packages the project needs (only when one is missing)
# and builds everything into build/; its arguments go to the configure step.
# Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ cmake ninja-build qt6-base-dev  # the build
  libgtest-dev                        # the tests and the benchmarks
  mbpoll                              # sim_mbpoll_test: an independent Modbus master
  python3-pymodbus python3-serial python3-serial-asyncio  # cli_tl8ctl_test: an independent Modbus slave
  fonts-dejavu-core                   # text for the windows, on screen and offscreen
  xvfb                                # run.sh without a display, screenshots.sh
  xdotool imagemagick                 # screenshots.sh drives the windows and takes the pictures
  dpkg-dev file                       # the package target: dpkg-shlibdeps finds its dependencies
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"
