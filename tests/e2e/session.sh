# Shared by the end-to-end scripts: a private home, a virtual X server, the
# simulated instrument, and the helpers to wait and to fail with what was seen.
# KEEP=1 keeps the private home (log, settings, a screenshot of a failure) in
# /tmp/e2e/kept for a look afterwards.
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${KEEP:-}" ]; then
    rm -rf /tmp/e2e/kept && mkdir -p /tmp/e2e && cp -r "$work" /tmp/e2e/kept
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -n "${KEEP:-}" ] && [ -n "${DISPLAY:-}" ] && import -window root "$work/failure.png" 2>/dev/null
  [ -n "${log:-}" ] && [ -f "$log" ] && tail -30 "$log" >&2
  [ -f "$work/orvane.out" ] && grep -v '^[0-9/]*|' "$work/orvane.out" | tail -40 >&2
  exit 1
}
# Polls the command every 0.2 s for at most `seconds`.
await() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 5))); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime ORVANE_PORT_DIR=$work/ports
export TEMP=$work/tmp TMPDIR=$work/tmp
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$ORVANE_PORT_DIR" "$TEMP"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# The server picks a free display and says which.
start_display() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  exec 3>&-
  await 10 test -s "$work/display" || fail "Xvfb did not start"
  export DISPLAY=:$(head -1 "$work/display")
}

start_simulator() { # orvane-sim options...
  "$simulator" --port 200 --heartbeat-ms 250 "$@" >/dev/null 2>&1 &
  pids+=($!)
  await 10 test -e "$ORVANE_PORT_DIR/COM200" || fail "the simulator did not publish COM200"
}

# The program with a log of everything; sets `app`, `window` and `log`.
start_program() { # switches...
  "$orvane" "$@" -debug >"$work/orvane.out" 2>&1 &
  app=$!
  pids+=($app)
  window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tolvek - Orvane$' | head -1) ||
    fail "the main window did not appear"
  log=$(ls "$TEMP"/Tolvek-OrvaneUI_DEBUG-* 2>/dev/null | head -1)
  [ -n "$log" ] || fail "-debug wrote no log file"
}

logged() { grep -q -- "$1" "$log"; }

# Orvane > Connect with the keyboard, until the device streams (again).
streams_since() { [ "$(grep -c START_STREAMING "$log")" -gt "$1" ]; }
connect_and_stream() {
  local before
  before=$(grep -c START_STREAMING "$log" || true)
  xdotool windowfocus --sync "$window"
  xdotool key --window "$window" --clearmodifiers alt+o
  sleep 0.5
  xdotool key --window "$window" c
  await 60 streams_since "$before" || fail "the window never started streaming"
}

# File > Exit; the program must end by itself, with 0.
exit_program() {
  xdotool windowfocus --sync "$window"
  xdotool key --window "$window" --clearmodifiers alt+f
  sleep 0.5
  xdotool key --window "$window" x
  await 15 bash -c "! kill -0 $app 2>/dev/null" || fail "the program did not end after File > Exit"
  local status=0
  wait "$app" || status=$?
  [ "$status" -eq 0 ] || fail "the program ended with $status"
}

# A screenshot that shows a drawn window, not a blank screen.
screenshot() { # path
  import -window root "$1"
  local deviation
  deviation=$(convert "$1" -format '%[fx:standard_deviation]' info:)
  awk -v d="$deviation" 'BEGIN { exit !(d > 0.05) }' || fail "the screenshot is blank ($deviation)"
}
