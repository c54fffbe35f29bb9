#!/usr/bin/env bash
# The README's screenshot of the Windows build: Tl8v05.exe under Wine on a
# virtual display (Xvfb, Wine's own desktop window), against the Linux
# simulator on COM5: the start-up question, "Настройка порта" → COM5, the
# address search, then the bounds window. Run after scripts/windows.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/docs/screenshots
work=$(mktemp -d)
source "$root/scripts/wine-line.sh"

export DISPLAY=:96
Xvfb "$DISPLAY" -screen 0 1100x760x24 >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  stop_wine_line
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
start_wine_line "$work/adapter.bin" "$work/sim.log"

# Wine's own text drawing leaves the text of input fields out; Qt's FreeType
# engine draws it as Windows does.
(cd "$work" && exec wine explorer /desktop=tl8,1100x760 "$root/build-win/dist/Tl8v05.exe" \
  -platform windows:fontengine=freetype) >"$work/tool.log" 2>&1 &

click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.8}"; }
sleep 6
xdotool key Return                # "Yes" to the jumper question
sleep 2
click 348 269; click 394 292 2    # Настройки → Настройка порта
click 598 371 1.2; click 576 400  # Порт: COM5
click 535 512 1.5                 # OK
click 348 269; click 398 314 5    # Настройки → Настройка адреса: the search
click 438 269; click 450 292 6    # Режим работы → Изм.границ пар-ров
import -window root -crop 760x400+220+110 "$out/windows-wine.png"
echo "$out/windows-wine.png"
