#!/usr/bin/env bash
# Runs the real program in a virtual X display against the simulated
# receiver, gives Update from the tool bar as an operator would, and saves a
# PNG of the window after the full update, once in English and once in
# Chinese; then the station with three receivers, one done, one mid-update
# and one whose cable was pulled.
# Usage: scripts/screenshots.sh [OUTPUT-DIR]   (default: screenshots)
# With QUORVEX_BUILD_DIR set, uses that build as it is. The virtual screen is
# 1280 x 800, an operator's laptop; with QT_SCALE_FACTOR=2 it is 2560 x 1600
# and the program draws at twice the size.
set -euo pipefail
cd "$(dirname "$0")/.."
QUORVEX_SCREENSHOTS=1 scripts/install-deps.sh
build=${QUORVEX_BUILD_DIR:-build}
if [ -z "${QUORVEX_BUILD_DIR:-}" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build "$build" --target quorvexupdate receiver-sim
fi
out=$(realpath -m "${1:-screenshots}")
scale=${QT_SCALE_FACTOR:-1}
screen="$((1280 * scale))x$((800 * scale))x24"
mkdir -p "$out"
work=$(mktemp -d)
# The runs' logs and history go with the rest of the throw-away state, not
# into the user's own folders.
export XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The carried image as a package folder, chosen in the settings: the window
# then sends it without asking, as it would the maker's images.
package="$work/Z4-test-package"
mkdir -p "$package/CPU"
cp "$build/firmware/CPU_248.bin" "$package/CPU/248.bin"
# Only the row of the simulated receiver: a package holds every image it names.
{ grep -v '^cpu ' firmware/images.conf; grep '^cpu Q4B1C20 ' firmware/images.conf; } \
    > "$package/images.conf"

shoot() {
    local lang=$1 ui=$2
    "$build/tools/receiver-sim" --quiet --link "$work/sim" > /dev/null &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$work/sim" ] && break; sleep 0.1; done
    # A settings store of its own: the saved port is the simulator's, and
    # COM1-32 map to nothing, so the machine's own serial ports (its console
    # among them) are never opened or probed.
    local cfg="$work/config-$lang"
    mkdir -p "$cfg/Quorvex Solution"
    {
        echo "[Ports]"
        for n in $(seq 1 32); do echo "COM$n="; done
        echo "COM200=$work/sim"
        echo
        echo "[Firmware]"
        echo "Package=$package"
        echo
        echo "[Software]"
        echo "Quorvex%20Solution\\PortOfMonitor=COM200"
        echo "Quorvex%20Solution\\Quorvex%20Update%20\\Quorvex%20Solution\\UI=dword:0000000$ui"
    } > "$cfg/Quorvex Solution/QuorvexUpdate.ini"
    XDG_CONFIG_HOME="$cfg" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 $screen" \
        bash scripts/screenshot-session.sh "$build/app/quorvexupdate" "$out/quorvexupdate-$lang.png"
    kill "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
    sim_pid=""
}

# The station: three simulators as its saved rows. The first runs at full
# speed and is done, the second paces the line as a real one does and is
# mid-update, the third closes its line part way through.
shoot_station() {
    local pids=()
    "$build/tools/receiver-sim" --quiet --link "$work/st1" --serial Z4A00511 > /dev/null &
    pids+=($!)
    "$build/tools/receiver-sim" --quiet --link "$work/st2" --serial Z4A00512 --pace > /dev/null &
    pids+=($!)
    "$build/tools/receiver-sim" --quiet --link "$work/st3" --serial Z4A00513 \
        --hang-up-after 4000 > /dev/null &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$work/st1" ] && [ -e "$work/st2" ] && [ -e "$work/st3" ] && break; sleep 0.1; done
    local cfg="$work/config-station"
    mkdir -p "$cfg/Quorvex Solution"
    {
        echo "[Ports]"
        for n in $(seq 1 32); do echo "COM$n="; done
        echo "COM201=$work/st1"
        echo "COM202=$work/st2"
        echo "COM203=$work/st3"
        echo
        echo "[Firmware]"
        echo "Package=$package"
        echo
        echo "[Station]"
        echo "Ports=COM201, COM202, COM203"
    } > "$cfg/Quorvex Solution/QuorvexUpdate.ini"
    XDG_CONFIG_HOME="$cfg" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 $screen" \
        bash scripts/screenshot-session.sh "$build/app/quorvexupdate" \
        "$out/quorvexupdate-station.png" station || true
    kill "${pids[@]}" 2> /dev/null || true
    wait "${pids[@]}" 2> /dev/null || true
    [ -s "$out/quorvexupdate-station.png" ]
}

shoot en 1
shoot zh 0
shoot_station
# Smaller files for the README, the same pixels.
optipng -quiet -o2 "$out"/quorvexupdate-{en,zh,station}.png
echo "Saved $out/quorvexupdate-en.png, $out/quorvexupdate-zh.png and $out/quorvexupdate-station.png"
