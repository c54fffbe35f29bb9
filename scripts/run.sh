#!/usr/bin/env bash
# Sets everything up, builds, starts the simulated adapter where the tool's
# built-in port "COM1" finds it, and starts the tool. With a real adapter on a
# USB RS-485 converter, run build/bin/Tl8v05 directly instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# The simulator's line: /dev/COM1 unless something else already lives there.
port=""
for n in 1 2 3 4 5 6 7 8 9; do
  if [ ! -e "/dev/COM$n" ] || [ -L "/dev/COM$n" ]; then port="COM$n"; break; fi
done
state="${TL8_SIM_STATE:-$PWD/build/demo-adapter.txt}"
sim_out=$(mktemp)
build/bin/tl8sim --state "$state" --journal build/demo-journal.txt >"$sim_out" &
sim_pid=$!
link=""
cleanup() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  if [ -n "$link" ]; then "${sudo[@]}" rm -f "$link"; fi
  rm -f "$sim_out"
  if [ -n "${xvfb_pid:-}" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$sim_out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$sim_out")
if [ -n "$port" ] && "${sudo[@]}" ln -sfn "$pty" "/dev/$port"; then
  link="/dev/$port"
  echo "Simulated adapter (address 1) on $pty, linked as $link."
  [ "$port" = COM1 ] || echo "Choose \"$port\" in Настройки -> Настройка порта."
else
  echo "Simulated adapter on $pty; no /dev/COMn link could be made." >&2
fi
echo "Its memory: $state; its line journal: build/demo-journal.txt"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting a virtual one (Xvfb :99). Screenshots: DISPLAY=:99 import -window root shot.png"
  Xvfb :99 -screen 0 1280x900x24 >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:99
  sleep 1
fi
build/bin/Tl8v05
