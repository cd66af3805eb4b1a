# bash completion for qmx-isp and qmx-chipsim.
#
# Commands and options are read from the programs' own --help, so the completion always matches
# the installed version; values are offered where their set is known (models, ports, fill
# bytes ...), files elsewhere. Needs nothing beyond bash itself.

declare -gA _qmx_help_cache

# Sets _qmx_text to the output of "$@ --help"; each help is asked for once per completion.
_qmx_help() {
    local key="$*"
    if [[ -z ${_qmx_help_cache[$key]+set} ]]; then
        _qmx_help_cache[$key]=$("$@" --help 2>/dev/null)
    fi
    _qmx_text=${_qmx_help_cache[$key]}
}

# The options "$@ --help" lists, one a line: "-h", "--help", "--port" ...
_qmx_options() {
    _qmx_help "$@"
    sed -n 's/^ \{1,4\}\(-[-a-zA-Z0-9,]*\).*/\1/p' <<<"$_qmx_text" | tr ',' '\n' | grep -- '^-'
}

# True when option $1 takes a value in "${@:2} --help": its line names an argument after it
# ("--port TEXT", "--model M"), not a flag ("--series Excludes: ...", "--trace   Dump ...").
_qmx_takes_value() {
    local option=$1
    shift
    _qmx_help "$@"
    grep -qE -- "^ {1,4}(-[-a-zA-Z0-9]*,)*${option}(,[-a-zA-Z0-9]*)* [A-Z][][A-Z,.]*([ :]|$)" \
        <<<"$_qmx_text"
}

# The commands "qmx-isp --help" lists under "Subcommands:".
_qmx_isp_commands() {
    _qmx_help "$1"
    sed -n '/^Subcommands:/,/^[^ ]/s/^  \([a-z][-a-z0-9]*\) .*/\1/p' <<<"$_qmx_text"
}

_qmx_models() {
    "$1" models 2>/dev/null | awk '$1 !~ /^#/ { print $1 }'
}

_qmx_ports() {
    "$1" ports 2>/dev/null | cut -f1
    local p
    for p in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM*; do
        [ -e "$p" ] && echo "$p"
    done
}

_qmx_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

# Completes the value of option $1 for word $2; $3 is the qmx-isp to ask for models and ports.
_qmx_value() {
    local option=$1 cur=$2 isp=$3 words=
    case $option in
        --model) words=$(_qmx_models "$isp") ;;
        --port) words=$(_qmx_ports "$isp") ;;
        --fill) words="FF 00" ;;
        --format) words="text json" ;;
        --lang) words="en zh both" ;;
        --max-baud) words="115200 57600 38400 19200 14400 9600 4800 2400 1200" ;;
        --power-cycle) words="dtr rts dtr-inverted rts-inverted cmd:" ;;
        --personality) words="bootloader app offline-board monitor" ;;
        --delay) words="2 3 4 5 6 7 8 9" ;;
        --monitor-dir)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return
            ;;
        *)
            _qmx_files "$cur"
            return
            ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
    # A typed path may name any device or link, e.g. a pseudo-terminal.
    if [ "$option" = --port ] && [ -n "$cur" ]; then
        compopt -o filenames 2>/dev/null
        mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -f -- "$cur")
    fi
}

_qmx_isp() {
    local prog=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    _qmx_help_cache=()

    # The command: the first word that is neither an option nor an option's value.
    _qmx_help "$prog" # asked here, outside the $(...) below, so that it is asked once
    local command= i word commands
    commands=" $(_qmx_isp_commands "$prog" | tr '\n' ' ') "
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == -* ]]; then
            [[ $word != *=* ]] && _qmx_takes_value "$word" "$prog" && ((i++))
        elif [[ $commands == *" $word "* ]]; then
            command=$word
            break
        fi
    done

    local -a ask=("$prog")
    [ -n "$command" ] && ask+=("$command")
    _qmx_help "${ask[@]}"
    if [[ $prev == -* ]] && _qmx_takes_value "$prev" "${ask[@]}"; then
        _qmx_value "$prev" "$cur" "$prog"
    elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_qmx_options "${ask[@]}")" -- "$cur")
    elif [ -z "$command" ]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    else
        _qmx_files "$cur"
    fi
}

_qmx_chipsim() {
    local prog=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    _qmx_help_cache=()
    _qmx_help "$prog"
    if [ "$prev" = --model ]; then
        # The simulator's own list: the model name is the first word of each line.
        mapfile -t COMPREPLY < <(compgen -W "$("$prog" --list-models 2>/dev/null |
            awk '{ print $1 }')" -- "$cur")
    elif [[ $prev == -* ]] && _qmx_takes_value "$prev" "$prog"; then
        _qmx_value "$prev" "$cur" ""
    else
        mapfile -t COMPREPLY < <(compgen -W "$(_qmx_options "$prog")" -- "$cur")
    fi
}

complete -F _qmx_isp qmx-isp
complete -F _qmx_chipsim qmx-chipsim
