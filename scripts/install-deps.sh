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

# Google Benchmark for the Windows build under Wine: the distribution's source package, unpacked
# where CMake looks (CJ_BENCHMARK_SOURCE_DIR). A private source list leaves apt's own alone.
benchmark_src=/usr/src/benchmark
if [[ ! -f $benchmark_src/CMakeLists.txt ]]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/parts" "$work/lists/partial" "$work/src"
    # The system's own Debian sources, for source packages.
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -f $f ]] && sed 's/^Types: deb$/Types: deb-src/' "$f" >"$work/parts/$(basename "$f")"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f $f ]] && sed -n 's/^deb /deb-src /p' "$f" >"$work/parts/$(basename "$f").list"
    done
    apt_src=(apt-get -qq -o APT::Sandbox::User=root -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
             -o "Dir::State::Lists=$work/lists")
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo "${apt_src[@]}" update
    (cd "$work/src" && $sudo "${apt_src[@]}" source benchmark >/dev/null 2>&1)
    $sudo cp -r "$(find "$work/src" -mindepth 1 -maxdepth 1 -type d | head -1)" "$benchmark_src"
fi
