#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev gcovr
          libbenchmark-dev nlohmann-json3-dev binutils python3
          # uvwhost's meshes, images (read and written), ray casting and PNG writer.
          libassimp-dev libopenimageio-dev libembree-dev libstb-dev
          # The Windows build: MinGW-w64 cross compilers, GoogleTest's sources, Wine to run
          # the programs.
          mingw-w64 g++-mingw-w64-x86-64-posix googletest wine64
          # CPack's .deb: the shared-library dependencies of what it packages.
          dpkg-dev)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    if [ "$(id -u)" -ne 0 ]; then
        echo "error: missing packages (${missing[*]}); run as root or install them" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
