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
if [ "$mode" = station ]; then
    sleep 1
    # App is the first menu; Station... is its last item, which Up reaches
    # from the top.
    xdotool mousemove --window "$window" 18 12 click 1
    sleep 0.5
    xdotool key Up Return
    station=$(timeout 20 xdotool search --sync --onlyvisible --name '^Station$' | head -n 1)
    sleep 2  # the rows connect and identify
    eval "$(xdotool getwindowgeometry --shell "$station")"
    # Update All is the last button of the top row.
    xdotool mousemove --window "$station" $((WIDTH - 55)) 24 click 1
    sleep "${QUORVEX_STATION_SECONDS:-8}"
    xwd -silent -id "$station" | convert xwd:- "$png"
    exit 0
fi
sleep 2  # identification: four lines in the list
# The Update button is the fourth button of the tool bar, after a separator.
xdotool mousemove --window "$window" "${QUORVEX_UPDATE_X:-133}" "${QUORVEX_UPDATE_Y:-38}" click 1
sleep "${QUORVEX_UPDATE_SECONDS:-20}"
xwd -silent -id "$window" | convert xwd:- "$png"
