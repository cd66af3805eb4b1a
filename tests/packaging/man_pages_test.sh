#!/usr/bin/env bash
# The generated man page of qmx-isp holds a subsection for every command the program lists,
# and every option of that command's --help appears there as an item of its own.
# usage: man_pages_test.sh BUILD_DIR
set -u
build=$1
page=$build/man/qmx-isp.1
failures=0
for p in qmx-isp qmx-chipsim; do
    [ -s "$build/man/$p.1" ] || { echo "FAIL: no man page $p.1"; exit 1; }
done
grep -q '^\.SH "SERIAL PORT PERMISSIONS"' "$page" || { echo "FAIL: no permissions section"; failures=1; }

commands=$("$build/qmx-isp" --help | sed -n '/^Subcommands:/,/^[^ ]/s/^  \([a-z][-a-z0-9]*\) .*/\1/p')
[ -n "$commands" ] || { echo "FAIL: no commands in qmx-isp --help"; exit 1; }
for command in $commands; do
    # The subsection of the command, with roff's escaped minus signs made plain again.
    section=$(awk -v c=".SS \"$command\"" '$0 == c { on = 1; next } /^\.S[SH] / { on = 0 } on' "$page" |
        sed 's/\\-/-/g')
    [ -n "$section" ] || { echo "FAIL: no subsection for $command"; failures=$((failures + 1)); continue; }
    for option in $("$build/qmx-isp" "$command" --help | sed -n 's/^  \(--[a-z][-a-z0-9]*\).*/\1/p'); do
        [ "$option" = --help ] && continue
        grep -qE -- "^\.B $option( |$)" <<<"$section" ||
            { echo "FAIL: $command $option missing or not an item of its own"; failures=$((failures + 1)); }
    done
done
[ "$failures" -eq 0 ] && echo "man pages: every command and option present"
exit $((failures > 0))
