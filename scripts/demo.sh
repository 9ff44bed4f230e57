#!/usr/bin/env bash
# A full firmware update against the simulated receiver, without a window:
# installs what is missing, builds the program and the simulator, serves a
# simulated Z4 receiver on a pseudo-terminal, names it COM200 in a throw-away
# settings file and updates it with the built-in test image (a 2,937,712-byte
# CPU image the simulator takes; not firmware for a real receiver).
#
# QUORVEX_BUILD_DIR=DIR  use the program and simulator already built in DIR
#                        (nothing is built)
# QUORVEX_INSTALLED=1    use the installed quorvexupdate-cli and receiver-sim
#                        (the Debian packages; nothing is built)
# QUORVEX_SKIP_DEPS=1    do not look for missing Debian packages
# Extra arguments go to quorvexupdate-cli (e.g. --log FILE).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${QUORVEX_INSTALLED:-0}" = 1 ]; then
    program=$(command -v quorvexupdate-cli) || { echo "demo: quorvexupdate-cli is not installed" >&2; exit 1; }
    sim=$(command -v receiver-sim) || { echo "demo: receiver-sim is not installed (package quorvexupdate-sim)" >&2; exit 1; }
else
    if [ "${QUORVEX_SKIP_DEPS:-0}" != 1 ]; then
        scripts/install-deps.sh
    fi
    if [ -n "${QUORVEX_BUILD_DIR:-}" ]; then
        build=$QUORVEX_BUILD_DIR
    else
        build=build
        echo "== building (cmake, ninja) into $build/"
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
        cmake --build "$build" --target quorvexupdate-cli receiver-sim
    fi
    program=$build/app/quorvexupdate-cli
    sim=$build/tools/receiver-sim
fi
for f in "$program" "$sim"; do
    [ -x "$f" ] || { echo "demo: $f is missing; build it first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-demo.XXXXXX")
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2> /dev/null || true
        wait "$sim_pid" 2> /dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The simulated receiver: its first line is the pseudo-terminal it serves;
# --link gives that a stable name.
"$sim" --quiet --link "$work/receiver" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && [ -e "$work/receiver" ] && break
    kill -0 "$sim_pid" 2> /dev/null || { echo "demo: the simulator did not start" >&2; exit 1; }
    sleep 0.1
done
[ -e "$work/receiver" ] || { echo "demo: the simulator did not start" >&2; exit 1; }

# COM200 -> the simulator, in a settings file of this demo only: the user's
# own settings are neither read nor written. COM1 maps to nothing, so the
# machine's own serial console is never a candidate.
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/Quorvex Solution"
printf '[Ports]\nCOM1=\nCOM200=%s\n' "$work/receiver" > "$XDG_CONFIG_HOME/Quorvex Solution/QuorvexUpdate.ini"

echo "== simulated receiver on $(head -n 1 "$work/sim.out") (COM200)"
echo "== quorvexupdate-cli --firmware builtin COM200 $*"
status=0
"$program" --headless --firmware builtin COM200 "$@" || status=$?
echo "== exit status $status"
exit "$status"
