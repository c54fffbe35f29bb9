#!/usr/bin/env bash
# Sets everything up, builds, starts the simulated adapter where the tool's
# built-in port "COM1" finds it, and starts the tool. With a real adapter on a
# USB RS-485 converter, run build/bin/Tl8v05 directly instead.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what runs here: the tool, the simulator and tl8ctl (the tests build
# with scripts/test.sh or `cmake --build build`).
# A first build compiles merged batches (half the time); a build already
# configured keeps its own choice.
first_build=()
[ -f build/CMakeCache.txt ] || first_build=(-DTL8_UNITY=ON)
TL8_TARGETS="Tl8v05 tl8sim tl8ctl" bash scripts/setup.sh "${first_build[@]}"
source scripts/demo-line.sh

state="$PWD/build/demo-adapter.txt"
journal="$PWD/build/demo-journal.txt"
cleanup() {
  stop_demo_line
  if [ -n "${xvfb_pid:-}" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
start_demo_line "$state" "$journal"
if [ -n "$DEMO_PORT" ]; then
  echo "Simulated adapter (address 1) on $DEMO_PTY, linked as /dev/$DEMO_PORT."
  [ "$DEMO_PORT" = COM1 ] || echo "Choose \"$DEMO_PORT\" in Настройки -> Настройка порта."
else
  echo "Simulated adapter on $DEMO_PTY; no /dev/COMn link could be made, so the tool cannot reach it." >&2
fi
echo "Its memory: $state; its line journal: $journal"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # The first display number no X server holds (its lock file or socket).
  display=99
  while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
  echo "No display found: starting a virtual one (Xvfb :$display). Screenshots: DISPLAY=:$display import -window root shot.png"
  Xvfb ":$display" -screen 0 1280x900x24 -nolisten tcp &  # its errors stay on the terminal
  xvfb_pid=$!
  export DISPLAY=":$display"
  # Up when its socket is there; a failed start ends the script here.
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb :$display did not start (see above)." >&2; exit 1; }
    sleep 0.1
  done
fi
# The tool writes tmp.dat into the folder it runs in: a folder of its own.
workdir="$PWD/build/run"
mkdir -p "$workdir"
echo "Working folder (tmp.dat lands here): $workdir"
cd "$workdir"
../bin/Tl8v05
