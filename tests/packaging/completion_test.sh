#!/usr/bin/env bash
# The bash completion, driven as bash drives it (COMP_WORDS, COMP_CWORD), against the built
# programs: commands, options of the command being typed, option values, and the flags that
# take no value so that the word after them is not eaten.
# usage: completion_test.sh COMPLETION_SCRIPT BUILD_DIR
set -u
source "$1"
export PATH="$2:$PATH"
failures=0

# complete WORD...: the offers for the last word.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    if [ "$1" = qmx-chipsim ]; then _qmx_chipsim; else _qmx_isp; fi
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
    local want=$1
    shift
    local got
    got=$(complete_words "$@" | tr '\n' ' ' | sed 's/ $//')
    if [ "$got" != "$want" ]; then
        echo "FAIL: [$*] offered [$got], expected [$want]"
        failures=$((failures + 1))
    fi
}

expect "download" qmx-isp dow
expect "read-options" qmx-isp --settings /tmp/x.ini --yes read
expect "models" qmx-isp --yes mod
# --settings takes a value, so "mod" is a file name there, not a command.
expect "" qmx-isp --settings mod
expect "--port" qmx-isp download --por
expect "--count" qmx-isp download f.hex --series --c
expect "00 FF" qmx-isp image a.hex --fill ""
expect "00 FF" qmx-isp download --fill ""
# --lang takes a value, so the command comes after it.
expect "both en zh" qmx-isp --lang ""
expect "models" qmx-isp --lang zh mod
expect "app bootloader monitor offline-board" qmx-chipsim --personality ""
expect "--personality" qmx-chipsim --pers
expect "--model" qmx-chipsim --no-wire-time --mo

# Models come from the catalogue of the program itself.
want=$(qmx-isp models | awk '$1 ~ /^M-07/ { print $1 }' | sort | tr '\n' ' ' | sed 's/ $//')
[ -n "$want" ] || { echo "FAIL: no model M-07x in the catalogue"; failures=$((failures + 1)); }
expect "$want" qmx-isp --settings x download --model M-07
want=$(qmx-chipsim --list-models | awk '$1 ~ /^M-06/ { print $1 }' | sort | tr '\n' ' ' | sed 's/ $//')
expect "$want" qmx-chipsim --model M-06

# Every command qmx-isp lists is offered, and every long option of its help after "--".
for command in $(qmx-isp --help | sed -n '/^Subcommands:/,/^[^ ]/s/^  \([a-z][-a-z0-9]*\) .*/\1/p'); do
    expect "$command" qmx-isp "$command"
    want=$(qmx-isp "$command" --help | sed -n 's/^  \(--[a-z][-a-z0-9]*\).*/\1/p' | sort)
    got=$(complete_words qmx-isp "$command" --)
    missing=$(comm -23 <(echo "$want") <(echo "$got"))
    [ -z "$missing" ] || { echo "FAIL: qmx-isp $command -- does not offer" $missing; failures=$((failures + 1)); }
done

[ "$failures" -eq 0 ] && echo "completion: all offers as expected"
exit $((failures > 0))
