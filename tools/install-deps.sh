#!/bin/sh
# Every Debian package the project needs to build, run, test and benchmark.
# Installs the missing ones when run as root; otherwise prints the apt-get line.
set -eu

PACKAGES="
build-essential cmake pkg-config
libsdl1.2-dev libsdl-mixer1.2-dev
libgtest-dev libbenchmark-dev
clang libclang-rt-14-dev
libpng-dev libfreetype-dev fonts-dejavu-core
xvfb xdotool x11-utils libx11-dev imagemagick
ffmpeg python3 python3-pil python3-numpy
"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
else
    echo "Missing packages. Install them with:"
    echo "  sudo apt-get install -y$missing"
    exit 1
fi
