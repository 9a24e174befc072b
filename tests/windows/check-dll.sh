#!/usr/bin/env bash
# The DLL exports exactly the 21 entry points, ordinals 1 to 21 in alphabetical
# order, and imports from Windows system DLLs only (no MinGW run time).
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")
expected="Config DoDwell Home InitControl JogOff JogOn Notify PostInitControl Probe Purge Reset SetCode
SetDoButton SetGetDRO SetGetLED SetGetMenuRange SetProName SetSetDRO SetSetLED StopPlug Update"
# "[   n] Name" lines of the ordinal/name table: ordinal base 1, so name n is ordinal n + 1.
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/^\t\[/ { print $3 }' | tr '\n' ' ')
base=$(awk '/Ordinal Base/ { print $NF; exit }' <<<"$dump")
if [ "$(echo $names)" != "$(echo $expected)" ] || [ "$base" != "1" ]; then
  echo "veltra_drv.dll exports (base $base): $names"; echo "expected: $(echo $expected)"; exit 1
fi
allowed="KERNEL32.dll USER32.dll GDI32.dll ADVAPI32.dll msvcrt.dll VERSION.dll WS2_32.dll ole32.dll OLEAUT32.dll
COMCTL32.dll SHELL32.dll COMDLG32.dll UxTheme.dll"
for import in $(awk '/DLL Name:/ { print $3 }' <<<"$dump"); do
  if ! grep -qiw "$import" <<<"$allowed"; then echo "veltra_drv.dll imports $import"; exit 1; fi
done
echo "veltra_drv.dll: 21 exports with ordinals 1-21 in alphabetical order; imports: $(awk '/DLL Name:/ { printf "%s ", $3 }' <<<"$dump")"
