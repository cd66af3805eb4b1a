#!/usr/bin/env bash
# Builds QMX-ISP and runs the whole test suite (unit, end-to-end against the simulated chip,
# and the window's tests on the offscreen platform).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh"
build="${QMX_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
