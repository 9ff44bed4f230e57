#!/usr/bin/env bash
# Inside the virtual display: start the program, wait for it to identify the
# receiver, click Update on the tool bar, wait for the end, save the window.
# With "station" as third argument: open App > Station..., whose saved rows
# connect by themselves, click Update All, wait a while, save the station.
set -euo pipefail
program=$1 png=$2 mode=${3:-window}
"$program" &
pid=$!
trap 'kill $pid 2> /dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --class quorvexupdate | head -n 1)
scale=${QT_SCALE_FACTOR:-1}
xdotool windowfocus --sync "$window"
if [ "$mode" = station ]; then
    sleep 1
    xdotool key ctrl+t  # App > Station...
    station=$(timeout 20 xdotool search --sync --onlyvisible --name '^Station$' | head -n 1)
    sleep 2  # the rows connect and identify
    # Update All is the first button of the top row.
    xdotool mousemove --window "$station" $((45 * scale)) $((24 * scale)) click 1
    sleep "${QUORVEX_STATION_SECONDS:-8}"
    xwd -silent -id "$station" | convert xwd:- "$png"
    exit 0
fi
sleep 2  # identification: four lines in the list
xdotool key ctrl+u  # Update
sleep "${QUORVEX_UPDATE_SECONDS:-20}"
xwd -silent -id "$window" | convert xwd:- "$png"
