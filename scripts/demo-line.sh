# Sourced by the demo scripts: starts the simulated adapter and links its line
# as /dev/COMn (the first free n, normally COM1, the tool's built-in port),
# through sudo when not root. Sets DEMO_PORT and DEMO_PTY; stop_demo_line
# stops the simulator and removes the link.

demo_sudo=()
[ "$(id -u)" -eq 0 ] || demo_sudo=(sudo)

start_demo_line() {  # state file, journal file
  DEMO_PORT=""
  for n in 1 2 3 4 5 6 7 8 9; do
    # Free: nothing there, or a dangling link left by an earlier run. A live
    # link may be the user's own link to a real converter and is left alone.
    if [ ! -e "/dev/COM$n" ]; then
      DEMO_PORT="COM$n"; break
    fi
    echo "/dev/COM$n is in use ($(readlink "/dev/COM$n" 2>/dev/null || echo 'not a link')); trying the next one." >&2
  done
  demo_out=$(mktemp)
  build/bin/tl8sim --state "$1" --journal "$2" >"$demo_out" &
  demo_sim_pid=$!
  for _ in $(seq 50); do [ -s "$demo_out" ] && break; sleep 0.1; done
  DEMO_PTY=$(head -n 1 "$demo_out")
  rm -f "$demo_out"
  demo_link=""
  if [ -n "$DEMO_PORT" ] && "${demo_sudo[@]}" ln -sfn "$DEMO_PTY" "/dev/$DEMO_PORT"; then
    demo_link="/dev/$DEMO_PORT"
  else
    DEMO_PORT=""
  fi
}

stop_demo_line() {
  kill "$demo_sim_pid" 2>/dev/null || true
  wait "$demo_sim_pid" 2>/dev/null || true
  # Only our own link: someone may have pointed the name elsewhere meanwhile.
  if [ -n "${demo_link:-}" ] && [ "$(readlink "$demo_link")" = "$DEMO_PTY" ]; then
    "${demo_sudo[@]}" rm -f "$demo_link"
  fi
}
