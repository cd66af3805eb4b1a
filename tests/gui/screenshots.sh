#!/bin/sh
# Takes a picture of the window for each chip family's option page, without a desktop:
#   tests/gui/screenshots.sh [BUILD_DIR] [OUT_DIR]
# BUILD_DIR holds qmx-isp-gui (default: build); OUT_DIR receives family-N.png and the pages
# of the other tabs (default: screenshots). Runs under xvfb-run when no display is set.
set -eu
build=${1:-build}
out=${2:-screenshots}
gui="$build/qmx-isp-gui"
[ -x "$gui" ] || { echo "screenshots.sh: $gui not found (build it first)" >&2; exit 2; }
mkdir -p "$out"
settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT

run() {
    if [ -n "${DISPLAY:-}" ]; then
        "$@"
    else
        xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
    fi
}

# One model of each family: 0 M-064, 1 M-085, 2 M-070, 3 M-002, 4 M-014.
family=0
for model in M-064 M-085 M-070 M-002 M-014; do
    run "$gui" --settings "$settings/s.ini" --model "$model" --tab 1 \
        --screenshot "$out/family-$family.png"
    echo "$out/family-$family.png ($model)"
    family=$((family + 1))
done
# The other setup pages with the default model.
for tab in 4 5 7 8; do
    run "$gui" --settings "$settings/s.ini" --model M-070 --tab "$tab" \
        --screenshot "$out/tab-$tab.png"
    echo "$out/tab-$tab.png"
done
