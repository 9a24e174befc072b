#!/usr/bin/env bash
# The Windows side of ./run test:
#  1. the shipped build, cross-built with MinGW: veltra_drv.dll (32-bit) and
#     veltra-host.exe; the DLL's export and import tables are checked;
#  2. the unit tests built for 64-bit Windows, run under wine64, one process
#     per test (the same sources; 64-bit so that Wine runs them at full speed);
#  3. the 32-bit DLL in the 32-bit host stand-in under Wine (run-32bit.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
here=tests/windows

cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=Release -DVELTRA_TESTS=OFF >/dev/null
cmake --build build-win32
cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-win64

"$here/check-dll.sh" build-win32/src/veltra_drv.dll

# Wine's own start-up (the prefix, its services) happens once, here.
export WINEPREFIX="$PWD/build-win64/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
xvfb-run -a bash -c '
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  wineserver -p
  '"$here"'/run-tests.sh build-win64/windows-tests.txt /usr/lib/wine/wine64; status=$?
  wineserver -k; exit $status'

"$here/run-32bit.sh"
