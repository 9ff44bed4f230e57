# bash completion for quorvexupdate-cli

# Installed firmware packages: the folders under quorvexupdate/firmware that
# hold an images.conf, in the user's data folder and in each of XDG_DATA_DIRS;
# a name found twice is one package.
_quorvexupdate_cli_packages() {
    local data dirs pkg
    IFS=: read -ra dirs <<< "${XDG_DATA_HOME:-$HOME/.local/share}:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
    for data in "${dirs[@]}"; do
        for pkg in "$data"/quorvexupdate/firmware/*/images.conf; do
            [[ -f $pkg ]] || continue
            pkg=${pkg%/images.conf}
            printf '%s\n' "${pkg##*/}"
        done
    done | sort -u
}

# Ports: the COM numbers of the USB-serial and ACM devices present (by the
# default map: ttyUSB0 is COM33, ttyACM0 COM65) and those the settings file
# gives a device, the device paths themselves and their stable by-id names.
# The ttyS ports are left out: one of them is often the machine's console.
_quorvexupdate_cli_ports() {
    local dev n key value
    local -A off=()
    local ini="${XDG_CONFIG_HOME:-$HOME/.config}/Quorvex Solution/QuorvexUpdate.ini"
    if [[ -r $ini ]]; then
        local group=
        while IFS='=' read -r key value; do
            key=${key%$'\r'} value=${value%$'\r'}
            if [[ $key == \[*\] ]]; then group=$key; continue; fi
            [[ $group == '[Ports]' && $key =~ ^COM[0-9]+$ ]] || continue
            if [[ -n $value ]]; then printf '%s\n' "$key"; else off[$key]=1; fi
        done < "$ini"
    fi
    for dev in /dev/ttyUSB* /dev/ttyACM*; do
        [[ -e $dev ]] || continue
        n=${dev##*tty[A-Z][A-Z][A-Z]}
        [[ $n =~ ^[0-9]+$ ]] || continue
        if ((n < 32)); then
            if [[ $dev == /dev/ttyUSB* ]]; then n=$((33 + n)); else n=$((65 + n)); fi
            [[ -n ${off[COM$n]:-} ]] || printf '%s\n' "COM$n"
        fi
        printf '%s\n' "$dev"
    done
    for dev in /dev/serial/by-id/*; do
        [[ -e $dev ]] && printf '%s\n' "$dev"
    done
}

_quorvexupdate_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local IFS=$'\n'
    COMPREPLY=()
    case $prev in
        --firmware)
            compopt -o filenames
            COMPREPLY=($(compgen -W "builtin"$'\n'"$(_quorvexupdate_cli_packages)" -- "$cur")
                $(compgen -d -- "$cur"))
            return
            ;;
        --port)
            COMPREPLY=($(compgen -W "$(_quorvexupdate_cli_ports)" -- "$cur"))
            [[ $cur == /* ]] && COMPREPLY+=($(compgen -f -- "$cur"))
            return
            ;;
        --boot)
            COMPREPLY=($(compgen -W $'yes\nno' -- "$cur"))
            return
            ;;
        --log)
            compopt -o filenames
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --timeout | --max-restarts)
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        # The options as the program's own --help lists them, so this never
        # falls behind the program.
        COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" --help 2> /dev/null |
            grep -oE -- '--[a-z0-9][a-z0-9-]*' | sort -u)" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -W "$(_quorvexupdate_cli_ports)" -- "$cur"))
    [[ $cur == /* ]] && COMPREPLY+=($(compgen -f -- "$cur"))
}

complete -F _quorvexupdate_cli quorvexupdate-cli
