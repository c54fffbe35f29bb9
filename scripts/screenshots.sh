#!/usr/bin/env bash
# Takes the README's screenshots: the tool against the simulated adapter on a
# virtual display (Xvfb, no window manager, so windows land where they are
# moved), driven with xdotool. Run after scripts/setup.sh; writes docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
install_packages xvfb xdotool imagemagick  # the display, the clicks, the pictures
source scripts/demo-line.sh

out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
export DISPLAY=:97
Xvfb "$DISPLAY" -screen 0 1280x900x24 >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  [ -n "${tool_pid:-}" ] && kill "$tool_pid" 2>/dev/null || true
  stop_demo_line
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
sleep 1
start_demo_line "$work/adapter.txt" "$work/journal.txt"
[ "$DEMO_PORT" = COM1 ] || { echo "cannot link the simulator as /dev/COM1" >&2; exit 1; }

window() { xdotool search --sync --onlyvisible --name "$1" | head -n 1; }
shot() { sleep 0.5; import -window "$(window "$1")" "$out/$2"; echo "$out/$2"; }
screen() { import -window root -crop "$1" "$out/$2"; echo "$out/$2"; }
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.4; }

(cd "$work" && exec "$OLDPWD/build/bin/Tl8v05") &
tool_pid=$!
shot '^Tl8v05$' question.png
xdotool key Return
shot '^Работа с ТЛ-8К' main-window.png

click 43 8; click 90 51                      # Настройки -> Настройка адреса
sleep 1
shot '^Перебор адресов' address-window.png
xdotool windowmove "$(window '^Перебор адресов')" 820 0
click 138 8                                  # the menu the address setup opened
screen 480x240+0+0 work-menu.png
xdotool key Escape

click 43 8; click 88 29                      # Настройки -> Настройка порта
shot '^Настройка порта$' port-settings.png
read -r x y w h < <(xdotool getwindowgeometry --shell "$(window '^Настройка порта$')" |
                    awk -F= '{v[$1]=$2} END {print v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]}')
click $((x + w - 34)) $((y + 48))            # the port list, each port with what is known of it
screen 250x60+$((x + 150))+$((y + 35)) port-list.png
xdotool key Escape
click $((x + w - 52)) $((y + h - 23))        # "Отмена"

click 138 8; click 160 29                    # Режим работы -> Изм.границ пар-ров
sleep 5
shot '^Режим  изменения' bounds-window.png
xdotool windowmove "$(window '^Режим  изменения')" 0 560

click 138 8; click 160 73                    # Режим работы -> Технолог.режим
sleep 1
xdotool type --delay 50 Rumel
screen 480x240+0+0 password.png
xdotool key Return
sleep 5
shot '^Технолог.режим работы' calibration-window.png

xdotool windowmove "$(window '^Технолог.режим работы')" 480 300
click 43 8; click 90 73                      # Настройки -> Журнал обмена: the session so far
shot '^Журнал обмена$' line-monitor.png
