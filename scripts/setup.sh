#!/usr/bin/env bash
# Installs the Debian packages QMX-ISP builds, tests and runs with, when any is missing.
# Idempotent and quiet when everything is present. Runs apt-get directly as root, otherwise
# through sudo.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev
    libcli11-dev libfmt-dev libserialport-dev
    libgtest-dev libgmock-dev
    srecord sdcc help2man dpkg-dev
    clang libclang-rt-14-dev clang-format
    xvfb xauth fonts-noto-cjk
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    run() { "$@"; }
else
    run() { sudo "$@"; }
fi
export DEBIAN_FRONTEND=noninteractive
run apt-get update -qq
run apt-get install -y -qq "${missing[@]}" >/dev/null
