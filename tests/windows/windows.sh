#!/usr/bin/env bash
# The Windows side of ./run test:
#  1. the shipped build: veltra_drv.dll (32-bit) and veltra-host.exe, cross-built
#     with MinGW; the DLL's export and import tables are checked;
#  2. the unit tests built for Windows, run under Wine, one process per test;
#  3. the 32-bit DLL loaded by the 32-bit host stand-in under Wine (end to end).
# Wine runs 32-bit programs only where the kernel can; where it cannot, step
# 3 runs them through qemu's user-mode emulation, registered here for i386
# programs, and says so.
set -euo pipefail
cd "$(dirname "$0")/../.."
here=tests/windows

cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=Release -DVELTRA_TESTS=OFF >/dev/null
cmake --build build-win32
# 64-bit Windows test programs: the same sources, run at native speed by wine64.
cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-win64

"$here/check-dll.sh" build-win32/src/veltra_drv.dll

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX64="$PWD/build-win64/wineprefix" WINEPREFIX32="$PWD/build-win32/wineprefix"

WINEPREFIX=$WINEPREFIX64 xvfb-run -a bash -c '
  wineserver -p; wineboot -i >/dev/null 2>&1
  '"$here"'/run-tests.sh build-win64/windows-tests.txt /usr/lib/wine/wine64; status=$?
  wineserver -k; exit $status'

"$here/run-32bit.sh"
