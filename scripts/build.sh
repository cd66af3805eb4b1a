#!/usr/bin/env bash
# Installs what is missing, then configures and builds QMX-ISP into build/ (or $QMX_BUILD_DIR).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
build="${QMX_BUILD_DIR:-$root/build}"
extra=()
[ "${QMX_WERROR:-OFF}" = "ON" ] && extra+=(-DQMX_WERROR=ON)
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja "${extra[@]}" >/dev/null
elif [ ${#extra[@]} -gt 0 ]; then
    cmake "$build" "${extra[@]}" >/dev/null
fi
cmake --build "$build" -- -k 0 "$@"
