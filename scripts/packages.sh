# Sourced by the set-up scripts: install_packages NAME... installs the Debian
# packages among NAME... that are missing (through sudo when not root), and
# does nothing, not even a download, when all are there. build_packages are
# what the build takes, run_packages what running the tool adds,
# test_packages what the suite adds.
build_packages=(
  g++ cmake ninja-build qt6-base-dev  # the build
  libgtest-dev                        # the tests and the benchmarks (also configured on a first run)
)
run_packages=(
  "${build_packages[@]}"
  fonts-dejavu-core                   # text for the windows, on screen and offscreen, and the protocol page
  qt6-translations-l10n               # Qt's own dialogs and menus in Russian (qtbase_ru.qm)
  xvfb                                # run.sh without a display, screenshots.sh
)
test_packages=(
  lld                                 # links the test programs and benchmarks faster than GNU ld (optional)
  clang-format                        # test.sh checks the layout of every source
  mbpoll                              # sim_mbpoll_test: an independent Modbus master
  python3-pymodbus python3-serial python3-serial-asyncio  # cli_independent_slave_test: an independent Modbus slave
  ser2net                             # net_ser2net_test: a real serial device server, raw and RFC 2217
  poppler-utils                       # pdftotext: the tests read the service protocol's text
  dpkg-dev file                       # the package target: dpkg-shlibdeps finds its dependencies
)

install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # CI installs while it builds: one installation at a time (apt's own lock
  # would fail the second), and apt waits for one another program holds.
  local lock=${TMPDIR:-/tmp}/tl8-apt.lock
  (
    flock 9
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y \
      --no-install-recommends "${missing[@]}"
  ) 9>>"$lock"
}

# The configure option that puts ccache before the compiler, when ccache is
# installed; nothing otherwise (no build needs it). The sloppiness lets it
# keep the sources that take the precompiled headers too.
compiler_cache() {
  if command -v ccache >/dev/null 2>&1; then
    echo "-DCMAKE_CXX_COMPILER_LAUNCHER=env;CCACHE_SLOPPINESS=pch_defines,time_macros;ccache"
  fi
}
