#!/usr/bin/env bash
# The real program as a person meets it: a virtual X server, the simulated
# instrument on a pseudo-terminal, Connect chosen from the menu with the keyboard.
# The window must scan, validate and stream, leave a screenshot of the streaming
# window, and end cleanly through File > Exit.
#
#   window-streams-under-xvfb.sh ORVANE ORVANE_SIM SCREENSHOT.png
set -euo pipefail
orvane=$1 simulator=$2 screenshot=$3
source "$(dirname "$0")/session.sh"

start_display
start_simulator
start_program -noadmin
connect_and_stream
logged 'Validating Orvane settings.' || fail "no validation was logged"
# Let the traces fill part of the plot.
sleep 4
screenshot "$screenshot"

exit_program
[ -f "$XDG_CONFIG_HOME/Tolvek/Orvane.reg" ] || fail "the settings were not saved"
grep -q 'Rectangle' "$XDG_CONFIG_HOME/Tolvek/Orvane.reg" || fail "the window placement was not saved"
echo "streamed and ended cleanly; screenshot: $screenshot"
