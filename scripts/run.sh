#!/usr/bin/env bash
# Sets everything up, builds, starts the simulated adapter where the tool's
# built-in port "COM1" finds it, and starts the tool. With a real adapter on a
# USB RS-485 converter, run build/bin/Tl8v05 directly instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
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
  echo "No display found: starting a virtual one (Xvfb :99). Screenshots: DISPLAY=:99 import -window root shot.png"
  Xvfb :99 -screen 0 1280x900x24 >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:99
  sleep 1
fi
# The tool writes tmp.dat into the folder it runs in: a folder of its own.
workdir="$PWD/build/run"
mkdir -p "$workdir"
echo "Working folder (tmp.dat lands here): $workdir"
cd "$workdir"
../bin/Tl8v05
