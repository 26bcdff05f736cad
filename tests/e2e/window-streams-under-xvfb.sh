#!/usr/bin/env bash
# The real program as a person meets it: a virtual X server, the simulated
# instrument on a pseudo-terminal, Connect chosen from the menu with the keyboard.
# The window must scan, validate and stream, leave a screenshot of the streaming
# window, and end cleanly through File > Exit.
#
#   window-streams-under-xvfb.sh ORVANE ORVANE_SIM SCREENSHOT.png
set -euo pipefail
orvane=$1 simulator=$2 screenshot=$3

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -n "${log:-}" ] && [ -f "$log" ] && tail -30 "$log" >&2
  [ -f "$work/orvane.out" ] && grep -v '^[0-9/]*|' "$work/orvane.out" | tail -40 >&2
  exit 1
}
# Polls `condition` every 0.2 s for at most `seconds`.
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
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
exec 3>&-
await 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -1 "$work/display")

"$simulator" --port 200 --heartbeat-ms 250 >/dev/null 2>&1 &
pids+=($!)
await 10 test -e "$ORVANE_PORT_DIR/COM200" || fail "the simulator did not publish COM200"

"$orvane" -noadmin -debug >"$work/orvane.out" 2>&1 &
app=$!
pids+=($app)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tolvek - Orvane$' | head -1) ||
  fail "the main window did not appear"
log=$(ls "$TEMP"/Tolvek-OrvaneUI_DEBUG-* 2>/dev/null | head -1)
[ -n "$log" ] || fail "-debug wrote no log file"

# Orvane > Connect, as with the keyboard.
xdotool windowfocus --sync "$window"
xdotool key --window "$window" --clearmodifiers alt+o
sleep 0.5
xdotool key --window "$window" c

streaming() { grep -q 'START_STREAMING' "$log"; }
await 60 streaming || fail "the window never started streaming"
grep -q 'Validating Orvane settings.' "$log" || fail "no validation was logged"
# Let the traces fill part of the plot.
sleep 4
import -window root "$screenshot"
# A window drawn, not a blank screen.
deviation=$(convert "$screenshot" -format '%[fx:standard_deviation]' info:)
awk -v d="$deviation" 'BEGIN { exit !(d > 0.05) }' || fail "the screenshot is blank ($deviation)"

# File > Exit disconnects first, then ends the program.
xdotool key --window "$window" --clearmodifiers alt+f
sleep 0.5
xdotool key --window "$window" x
await 15 bash -c "! kill -0 $app 2>/dev/null" || fail "the program did not end after File > Exit"
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with $status"
[ -f "$XDG_CONFIG_HOME/Tolvek/Orvane.reg" ] || fail "the settings were not saved"
grep -q 'Rectangle' "$XDG_CONFIG_HOME/Tolvek/Orvane.reg" || fail "the window placement was not saved"
echo "streamed and ended cleanly; screenshot: $screenshot"
