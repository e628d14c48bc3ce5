#!/usr/bin/env bash
# Builds the Windows programs with mingw-w64 into build/win32/bin.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
qx_need_packages mingw-w64 g++-mingw-w64-x86-64-posix
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 -j 2
