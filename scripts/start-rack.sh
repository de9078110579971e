# Sourced by the demo scripts: start_rack SIM NAME starts the virtual rack
# SIM in a private network namespace NAME and returns once it is ready,
# its start-up lines in $rack_log; the rack stops when the script exits.
# Uses $sudo_cmd ("" as root, else "sudo").
start_rack() {
  rack_log="$(mktemp)"
  $sudo_cmd "$1" --netns --name "$2" >"$rack_log" 2>&1 &
  rack_pid=$!
  trap stop_rack EXIT
  for _ in $(seq 100); do
    grep -q '^ready' "$rack_log" && break
    kill -0 "$rack_pid" 2>/dev/null || { cat "$rack_log" >&2; exit 1; }
    sleep 0.1
  done
  grep -q '^ready' "$rack_log" || { cat "$rack_log" >&2; exit 1; }
}

stop_rack() {
  $sudo_cmd kill "$rack_pid" 2>/dev/null || true
  wait "$rack_pid" 2>/dev/null || true
  rm -f "$rack_log"
}
