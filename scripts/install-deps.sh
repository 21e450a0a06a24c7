#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, when any is missing; with --simulator
# only those that building and running the simulator needs.
set -euo pipefail

if [ "${1:-}" = "--simulator" ]; then
    packages=(cmake ninja-build g++)
else
    packages=(
        cmake ninja-build g++ clang-format clang
        googletest libbenchmark-dev
        g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
        wine wine64
    )
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
