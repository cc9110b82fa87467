#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need from Debian's packages.
# Safe to run again: when every package is present it changes nothing.
set -euo pipefail

PACKAGES=(
    # build
    build-essential cmake pkg-config clang libclang-rt-14-dev
    # libraries the launcher calls
    libcurl4-openssl-dev libinih-dev libplist-dev libzip-dev zlib1g-dev libgif-dev libssl-dev
    libsdl2-dev libsdl2-image-dev libsdl2-ttf-dev libglib2.0-dev libzstd-dev
    # launcher-publish's --json output
    nlohmann-json3-dev
    # tests
    libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev openssl
    xvfb xauth x11-utils libx11-dev libgl1-mesa-dri libegl-mesa0 mesa-utils
    imagemagick gifsicle zip unzip p7zip-full
    # demo and end-to-end runs
    nginx curl bc time xdg-utils fonts-dejavu-core procps python3 python3-minimal
    # bench/patch_benchmark.sh compares with the zstd tool
    zstd
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
