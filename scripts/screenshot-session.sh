#!/usr/bin/env bash
# Inside the virtual display: start the program, wait for it to identify the
# receiver, click Update on the tool bar, wait for the end, save the window.
set -euo pipefail
program=$1 png=$2
"$program" &
pid=$!
trap 'kill $pid 2> /dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --class quorvexupdate | head -n 1)
sleep 2  # identification: four lines in the list
# The Update button is the fourth button of the tool bar, after a separator.
xdotool mousemove --window "$window" "${QUORVEX_UPDATE_X:-133}" "${QUORVEX_UPDATE_Y:-38}" click 1
sleep "${QUORVEX_UPDATE_SECONDS:-20}"
xwd -silent -id "$window" | convert xwd:- "$png"
