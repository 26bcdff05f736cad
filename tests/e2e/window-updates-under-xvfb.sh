#!/usr/bin/env bash
# A firmware update as a technician does it in the real program: connected to the
# simulated instrument, Orvane > Update Orvane Firmware, the warning answered
# Continue, the image chosen with Browse, a screenshot of the comparison, Update,
# Close; the window comes back and the instrument runs the new firmware.
#
#   window-updates-under-xvfb.sh ORVANE ORVANE_SIM SCREENSHOT.png
set -euo pipefail
orvane=$1 simulator=$2 screenshot=$3
here=$(dirname "$0")
source "$here/session.sh"
source "$here/hex-image.sh"

write_image "$work/image.hex"
start_display
start_simulator --app-end 0x001FFF
start_program -noadmin
connect_and_stream

# Clicks at a point of a window, counted from its top left or (negative) from its
# bottom right: the dialogs have no keyboard focus without a window manager.
click() { # window x y
  local WIDTH HEIGHT x=$2 y=$3 geometry
  # A window that went meanwhile takes no click.
  geometry=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null) || return 0
  eval "$(grep -E '^(WIDTH|HEIGHT)=' <<<"$geometry")"
  [ "$x" -lt 0 ] && x=$((WIDTH + x))
  [ "$y" -lt 0 ] && y=$((HEIGHT + y))
  xdotool mousemove --window "$1" "$x" "$y" click 1
}
find_window() { # title
  timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -1
}

xdotool windowfocus --sync "$window"
xdotool key --window "$window" --clearmodifiers alt+o
sleep 0.5
xdotool key --window "$window" u
warning=$(find_window Orvane) || fail "no warning before the update"
click "$warning" 114 101 # Continue
dialog=$(find_window 'Firmware Update') || fail "the update dialog did not appear"
await 30 logged 'Received Target Info' || fail "the bootloader was never queried"
sleep 1

click "$dialog" 410 50 # Browse
files=$(find_window 'Open HEX File|Open|Choose.*') || fail "Browse opened no file dialog"
xdotool type --delay 5 "$work/image.hex"
xdotool key Return
await 30 logged 'Load Source' || fail "the image was not loaded"
sleep 2
screenshot "$screenshot"

click "$dialog" -138 -24 # Update
await 120 logged 'Write Target\] \[Completed\], result \[0\]' || fail "the update did not complete"
# Close is taken once the image is verified and signed; the window then returns.
main_window_back() { xdotool search --onlyvisible --name '^Tolvek - Orvane$' >/dev/null; }
for _ in 1 2 3 4 5; do
  click "$dialog" -52 -24 # Close
  await 6 main_window_back && break
done
await 20 main_window_back || fail "the main window did not come back"
logged 'Reset Target\] \[None\], result \[0\]' || fail "the device was not restarted"
window=$(find_window 'Tolvek - Orvane')
# Scanning again finds the device running the new image and its serial number.
connect_and_stream
await 10 logged '|4660|3\.4\.0\.7|' || fail "the device does not report its new firmware"
exit_program
echo "updated and ended cleanly; screenshot: $screenshot"
