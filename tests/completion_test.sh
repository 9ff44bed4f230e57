#!/usr/bin/env bash
# The bash completion of quorvexupdate-cli, called as bash calls it on Tab:
# options from the program's own --help, installed package names by the XDG
# rules, COM numbers from the settings file.
# Usage: completion_test.sh COMPLETION-SCRIPT PROGRAM
set -uo pipefail
completion=$(realpath "$1") program=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_DATA_HOME=$work/user XDG_DATA_DIRS=$work/local:$work/system
export XDG_CONFIG_HOME=$work/config
for pkg in user/quorvexupdate/firmware/z4-mine local/quorvexupdate/firmware/z4-site \
    system/quorvexupdate/firmware/z4-2024.1 system/quorvexupdate/firmware/z4-mine; do
    mkdir -p "$work/$pkg" && touch "$work/$pkg/images.conf"
done
mkdir -p "$work/system/quorvexupdate/firmware/not-a-package" "$work/cwd/z4-folder" \
    "$work/config/Quorvex Solution"
printf '[Ports]\nCOM1=\nCOM33=\nCOM200=/tmp/z4-receiver\nCOM201=/dev/serial/by-id/x\n\n[Usb]\nCOM202=x\n' \
    > "$work/config/Quorvex Solution/QuorvexUpdate.ini"
cd "$work/cwd"
# shellcheck source=/dev/null
source "$completion"

failed=0
# expect WANTED WORD...: the sorted candidates for the last word.
expect() {
    local want=$1
    shift
    COMP_WORDS=("$program" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _quorvexupdate_cli 2> /dev/null
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ')
    if [ "$got" != "$want" ]; then
        echo "FAIL: ${*@Q} -> '$got', wanted '$want'"
        failed=1
    fi
}
expect "--firmware " --firm
expect "--manual-restart --max-restarts " --ma
expect "builtin z4-2024.1 z4-folder z4-mine z4-site " --firmware ""
expect "z4-2024.1 z4-folder z4-mine z4-site " --firmware z4
expect "no yes " --firmware builtin --boot ""
expect "COM200 COM201 " --firmware builtin COM2
expect "COM200 COM201 " --port C
exit "$failed"
