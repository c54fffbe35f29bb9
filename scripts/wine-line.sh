# Sourced by the Windows scripts, after the cross build: a Wine prefix in
# build-win/wineprefix and the Linux simulator on a pseudo-terminal that Wine
# calls COM5. start_wine_line STATE LOG starts both, start_wine_sim more
# simulators on other ports; stop_wine_line ends them all.

wine_line_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=$wine_line_root/build-win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='

start_wine_line() {  # state file, simulator log
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
  fi
  # The Linux simulator, and the Linux command line to compare with.
  # Built when missing, brought up to date when there (nothing to do after the Linux build).
  if [ ! -f "$wine_line_root/build/CMakeCache.txt" ]; then
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$wine_line_root" -B "$wine_line_root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
  fi
  cmake --build "$wine_line_root/build" --target tl8sim tl8ctl -j"$(nproc)" >/dev/null
  WINE_LINK=$WINEPREFIX/dosdevices/com5
  start_wine_sim com5 "$1" "$2"
  # Wine lists only the ports it found at its start in the system's port list
  # (a volatile key): a server that stays up keeps COM5 in it for the tool,
  # and spares every program its own server start. Killed, it lists the
  # objects still open on its output; nothing to read there.
  wineserver -k >/dev/null 2>&1 || true  # the one wineboot or an earlier run left: -p needs none there
  wineserver -w
  wineserver -p >/dev/null 2>&1
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial4' /t REG_SZ /d COM5 /f >/dev/null 2>&1
}

# start_wine_sim PORT STATE LOG [OPTION...]: one more simulated adapter (tl8sim
# with the options), as Wine's PORT (com6, ...). Wine finds a port's device when
# the port is opened, so this may come after the server's start.
wine_sim_pids=()
start_wine_sim() {
  local link=$WINEPREFIX/dosdevices/$1 state=$2 log=$3
  shift 3
  rm -f "$link"
  "$wine_line_root/build/bin/tl8sim" --link "$link" --state "$state" "$@" >"$log" 2>&1 &
  wine_sim_pids+=($!)
  for _ in $(seq 50); do
    [ -e "$link" ] && break
    sleep 0.1
  done
  [ -e "$link" ] || { echo "the simulator made no $link" >&2; cat "$log" >&2; return 1; }
}

stop_wine_line() {
  ((${#wine_sim_pids[@]} == 0)) || kill "${wine_sim_pids[@]}" 2>/dev/null || true
  wine_sim_pids=()
  wineserver -k >/dev/null 2>&1 || true
}
