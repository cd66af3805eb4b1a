#!/usr/bin/env bash
# Fails when a file under src/ includes from a higher layer, and prints the offending lines.
#
# Layers, lowest first (a file may include from its own layer and any layer below it):
#   0 catalogue   1 settings   2 image, link   3 core   4 ops, offline, monitor   5 app, cli
# The face interface core/ui.h depends on nothing and may be included from anywhere.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

declare -A layer=(
    [catalogue]=0 [settings]=1 [image]=2 [link]=2 [core]=3
    [ops]=4 [offline]=4 [monitor]=4 [app]=5 [cli]=5
)

# Includes that are known to point upward and are being removed; each line is
# "file:included-header". Still open: the link layer reaches the core object and the button
# states while its handshake, baud and status steps are moved onto the channel, the facts and
# a face of their own. Delete each line as its include goes; keep the list empty after that.
allowed=(
)

is_allowed() {
    local entry
    for entry in "${allowed[@]}"; do
        [ "$entry" = "$1" ] && return 0
    done
    return 1
}

found=0
checked=0
while IFS= read -r file; do
    dir=${file#src/}
    dir=${dir%%/*}
    own=${layer[$dir]:-}
    [ -n "$own" ] || continue
    checked=$((checked + 1))
    while IFS=: read -r line text; do
        header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$text")
        target=${header%%/*}
        [ "$target" != "$header" ] || continue
        theirs=${layer[$target]:-}
        [ -n "$theirs" ] || continue
        [ "$header" = "core/ui.h" ] && continue
        if [ "$theirs" -gt "$own" ] && ! is_allowed "$file:$header"; then
            echo "$file:$line: $text  ($dir may not include $target)"
            found=$((found + 1))
        fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(git ls-files 'src/*.cpp' 'src/*.h'; git ls-files --others --exclude-standard 'src/*.cpp' 'src/*.h')

if [ "$found" -gt 0 ]; then
    echo "check-layers: $found upward include(s) in $checked files" >&2
    exit 1
fi
echo "check-layers: $checked files, no upward include"
