# Bash completion for tavboot: commands, each command's options, ports and image files.
# Commands and options are read from the program's own --help, so they follow the program
# that is installed; ports come from `tavboot ports`.

# Names in the help of "$@": the commands (lines "  name  text" under Subcommands), or with
# options the option names, or with valued only the options that take a value ("--port TEXT").
_tavboot_help_names() {
    local kind=$1
    shift
    case $kind in
        commands) "$@" --help 2>/dev/null | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p' ;;
        options) "$@" --help 2>/dev/null | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' ' ' ;;
        valued) "$@" --help 2>/dev/null | sed -n 's/^  \(-[^ ]*\) [A-Z].*/\1/p' | tr ',' ' ' ;;
    esac
}

# The first field (up to a blank or tab) of each line `tavboot ports` prints that names a port.
_tavboot_ports() {
    "$1" ports 2>/dev/null | while IFS=$' \t' read -r port _; do
        case $port in /* | COM* | usb:*) printf '%s\n' "$port" ;; esac
    done
}

# Intel HEX and memory image files, and folders to look into.
_tavboot_images() {
    compgen -f -X '!*.hex' -- "$1"
    compgen -f -X '!*.tvk' -- "$1"
    compgen -d -- "$1"
}

_tavboot() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]} command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} != -* ]]; then
            command=${COMP_WORDS[i]}
            break
        fi
    done
    local IFS=$'\n'
    COMPREPLY=()
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$(_tavboot_help_names commands "$program")"$'\n'"--help"$'\n'"--version" -- "$cur"))
        return
    fi
    case $prev in
        -p | --port)
            COMPREPLY=($(compgen -W "$(_tavboot_ports "$program")" -- "$cur"))
            return
            ;;
        --ports-from | --log | --flash-out | --link | --link-prefix)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --fault)
            COMPREPLY=($(compgen -W "$("$program" simulate --help 2>/dev/null |
                sed -n 's/.*fault to show: //p' | tr -d ',' | tr ' ' '\n')" -- "$cur"))
            return
            ;;
    esac
    local valued
    valued=" $(_tavboot_help_names valued "$program" "$command" | tr '\n' ' ') "
    [[ $prev == -* && $valued == *" $prev "* ]] && return
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_tavboot_help_names options "$program" "$command" | tr ' ' '\n')" -- "$cur"))
    else
        case $command in
            download | inspect | station) COMPREPLY=($(_tavboot_images "$cur")) ;;
            report) COMPREPLY=($(compgen -f -- "$cur")) ;;
        esac
    fi
}
complete -o filenames -F _tavboot tavboot
