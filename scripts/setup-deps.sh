#!/usr/bin/env bash
# Installs what building, running and testing Korvahub need on Debian 12, if missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-websockets-dev qt6-charts-dev
    # Qt6Charts' CMake package needs Qt6OpenGL's, which qt6-charts-dev does not pull in.
    libqt6opengl6-dev libgl-dev
    # Qt's own translations (dialogs, socket errors in Chinese); msgpack-c encodes and
    # decodes the MessagePack hub protocol.
    libmsgpack-dev qt6-translations-l10n
    # Root certificates, without which no wss:// hub or https:// feed can be verified.
    ca-certificates
    libqt6svg6 qt6-qpa-plugins
    fonts-wqy-microhei fonts-noto-color-emoji
    # The virtual display that `xvfb-run -a ./run.sh` needs on a machine without one.
    xvfb xauth
)
# Extra packages a caller needs (e.g. x11-utils for xwininfo) come as arguments.
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
