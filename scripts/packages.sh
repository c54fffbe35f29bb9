# Sourced by the set-up scripts: install_packages NAME... installs the Debian
# packages among NAME... that are missing (through sudo when not root), and
# does nothing, not even a download, when all are there.
install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

# The configure option that puts ccache before the compiler, when ccache is
# installed; nothing otherwise (no build needs it). The sloppiness lets it
# keep the sources that take the precompiled headers too.
compiler_cache() {
  if command -v ccache >/dev/null 2>&1; then
    echo "-DCMAKE_CXX_COMPILER_LAUNCHER=env;CCACHE_SLOPPINESS=pch_defines,time_macros;ccache"
  fi
}
