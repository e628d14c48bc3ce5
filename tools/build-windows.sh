#!/usr/bin/env bash
# Builds the Windows programs with mingw-w64 into build/win32/bin: release
# builds, stripped, their debug information in build/win32/debug. Linking a
# deliverable checks it against its size budget (cmake/QxShip.cmake) and
# fails the build when it is over; the sizes are listed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
qx_need_packages mingw-w64 g++-mingw-w64-x86-64-win32
# (A configured build keeps its toolchain: CMake would call the option unused.)
cmake -S . -B build/win32 -G Ninja --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 -j 2
echo "== sizes of the deliverables"
for file in 2002/Quorvix.exe 2003/Quorvix2003.exe 2002/stv.exe 2003/stv.exe 2003/Pranset.dll; do
  printf '   %-20s %8d bytes\n' "$file" "$(stat -c %s "build/win32/bin/$file")"
done
