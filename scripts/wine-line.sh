# Sourced by the Windows scripts, after the cross build: a Wine prefix in
# build-win/wineprefix and the Linux simulator on a pseudo-terminal that Wine
# calls COM5. start_wine_line STATE LOG starts both; stop_wine_line ends them.

wine_line_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=$wine_line_root/build-win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='

start_wine_line() {  # state file, simulator log
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
  fi
  # The Linux simulator, and the Linux command line to compare with.
  local sim=$wine_line_root/build/bin/tl8sim
  if [ ! -x "$sim" ] || [ ! -x "$wine_line_root/build/bin/tl8ctl" ]; then
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$wine_line_root" -B "$wine_line_root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
    cmake --build "$wine_line_root/build" --target tl8sim tl8ctl -j"$(nproc)"
  fi
  WINE_LINK=$WINEPREFIX/dosdevices/com5
  rm -f "$WINE_LINK"
  "$sim" --link "$WINE_LINK" --state "$1" >"$2" 2>&1 &
  wine_sim_pid=$!
  for _ in $(seq 50); do
    [ -e "$WINE_LINK" ] && break
    sleep 0.1
  done
  [ -e "$WINE_LINK" ] || { echo "the simulator made no $WINE_LINK" >&2; cat "$2" >&2; return 1; }
  # Wine lists only the ports it found at its start in the system's port list
  # (a volatile key): a server that stays up keeps COM5 in it for the tool,
  # and spares every program its own server start. Killed, it lists the
  # objects still open on its output; nothing to read there.
  wineserver -k >/dev/null 2>&1 || true  # the one wineboot or an earlier run left: -p needs none there
  wineserver -w
  wineserver -p >/dev/null 2>&1
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial4' /t REG_SZ /d COM5 /f >/dev/null 2>&1
}

stop_wine_line() {
  kill "${wine_sim_pid:-}" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
}
