#!/usr/bin/env bash
# Installs what building, running and testing Korvahub need on Debian 12, if missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-websockets-dev qt6-charts-dev
    libgl-dev
    libqt6svg6 qt6-qpa-plugins
    fonts-wqy-microhei fonts-noto-color-emoji
)
# Extra packages a caller needs (e.g. xvfb for screenshots) come as arguments.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
