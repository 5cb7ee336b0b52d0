#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and runs with. Idempotent.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

PACKAGES=(
    build-essential cmake ninja-build ccache pkg-config git zip unzip patch
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-dev
    libfftw3-dev
    juce-modules-source
    libasound2-dev libjack-jackd2-dev libfreetype-dev libfontconfig1-dev
    libx11-dev libxcomposite-dev libxcursor-dev libxext-dev libxinerama-dev libxrandr-dev libxrender-dev libxtst-dev
    libgl-dev libcurl4-openssl-dev lv2-dev liblilv-dev
    xvfb xauth
    sordi
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
