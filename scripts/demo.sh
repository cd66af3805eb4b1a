#!/usr/bin/env bash
# Builds QMX-ISP and runs its main job with no hardware attached: a download of the example
# image into the simulated chip.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh" >&2
build="${QMX_BUILD_DIR:-$root/build}"
cd "$root"
exec "$build/qmx-isp" demo "$@"
