#!/usr/bin/env bash
# The shipped 32-bit build end to end under Wine: veltra-host.exe loads
# veltra_drv.dll and runs the demo's script: the host's start-up order (the
# plugin's entries in the real menu bar, its text in the status line), Reset
# against the substitute controller running natively on a loopback address
# ("Ethernet controller connected.", status frames mirrored into the host),
# and a clean shutdown (the final outputs and the shutdown stop reach the
# controller). The profile it loads was written by the Linux build, and the
# one it writes is read back by the Linux build: both must hold the same
# settings.
#
# Wine's 32-bit loader needs a kernel that runs i386 programs. Where the
# kernel cannot, qemu's user-mode emulator is registered for them (Debian
# leaves that out on amd64); where that is not allowed either, the check is
# skipped and says so.
set -uo pipefail
cd "$(dirname "$0")/../.."
wine32=/usr/lib/wine/wine
# Under qemu-i386 Wine needs the guest address space reserved up front; a
# kernel that runs i386 programs itself ignores this.
export QEMU_RESERVED_VA=0xc0000000

runs_i386() { "$wine32" --version >/dev/null 2>&1; }

if ! runs_i386; then
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null
  if [ -w "$binfmt/register" ] && [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > "$binfmt/register" 2>/dev/null
  fi
  if ! runs_i386; then
    echo "32-bit check under Wine SKIPPED: this kernel runs no i386 programs and qemu-i386 cannot be registered"
    exit 0
  fi
  echo "32-bit check under Wine: i386 programs run through qemu-i386 (slow start-up)"
fi

linux_host=build/tools/host/veltra-host
linux_plugin=build/src/libveltra_drv.so
work=build-win32/profiles
rm -rf "$work" && mkdir -p "$work"
. tools/emulator/start-on-loopback.sh
trap stop_controller EXIT
# A slow Wine start-up must not look like a dead plugin to the controller.
start_controller build/tools/emulator/veltra-emu "$work" --verbose --steps 1000,-2000,0,0,0,0 || exit 1

# The plugin section of a profile, one "<key>text</key>" a line.
plugin_section() {
  tr -d '\r' < "$1" | sed -n '/<veltra_mach_drv>/,/<\/veltra_mach_drv>/p' | grep -o '<[A-Za-z0-9_]*>[^<]*</[A-Za-z0-9_]*>'
}
host_sections() { tr -d '\r' < "$1" | sed -n '/<Preferences>/,/<\/Motor>/p' | tr -d ' \t\n'; }

cat > "$work/seed.xml" <<XML
<?xml version="1.0"?>
<profile>
  <Preferences><Steps6>2000.</Steps6><SPINRATIO2>0.5</SPINRATIO2><SlaveHome>1</SlaveHome></Preferences>
  <Motor><Tuning axis="X">keep me</Tuning></Motor>
  <veltra_mach_drv>
    <MaxFreq0>100000</MaxFreq0><THCnomvoltage>123.5</THCnomvoltage><thcI>0.00002</thcI>
    <PendStep0>0.250000</PendStep0><ETH_IP>$address</ETH_IP><ETH_BYIP>1</ETH_BYIP><ETH_NAME>VELTRA-0A1B2C</ETH_NAME>
    <GraphYmax>123</GraphYmax><LCurveCnt>3</LCurveCnt><LCurveX1>40.</LCurveX1><LCurveY1>70.</LCurveY1>
    <LCurveX2>100.</LCurveX2><LCurveY2>100.</LCurveY2><LMaxFeed>2500.5</LMaxFeed>
    <DebPin3_ena>1</DebPin3_ena><DebPin3_time>100</DebPin3_time><AnalogIN2Fun>3</AnalogIN2Fun><JoyYReverse1>1</JoyYReverse1>
  </veltra_mach_drv>
</profile>
XML
cp "$work/seed.xml" "$work/linux.xml"
# Without a Reset the Linux run leaves the controller alone.
"$linux_host" --plugin "$linux_plugin" --profile "$work/linux.xml" status > "$work/linux-run.log" 2>&1 \
  || { cat "$work/linux-run.log"; echo "32-bit check: the Linux host could not write the profile"; exit 1; }
cp "$work/linux.xml" "$work/windows.xml"

export WINEPREFIX="$PWD/build-win32/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log=build-win32/host-run.log
mkdir -p "$WINEPREFIX"
windows_path() { echo "Z:$(realpath "$1" | tr / '\\')"; }
xvfb-run -a "$wine32" build-win32/tools/host/veltra-host.exe --plugin build-win32/src/veltra_drv.dll \
  --profile "$(windows_path "$work/windows.xml")" --script "$(windows_path examples/demo.script)" \
  "get Planner.MaxPulseRate[0]" > "$log" 2>&1
status=$?
wineserver -k 2>/dev/null
stop_controller
tr -d '\r' < "$log" | grep -v '^\(fixme\|err\|warn\):'
for expected in "status: Ethernet controller plugin initialized." "  VELTRA config... [20000]" \
                "  VELTRA status... [20001]" "  VELTRA network setup... [20002]" "    General Config... [20003]" \
                "status: Ethernet controller connected." "Planner.MaxPulseRate[0] = 105263"; do
  if ! tr -d '\r' < "$log" | grep -qxF -- "$expected"; then
    echo "32-bit check under Wine FAILED: missing \"$expected\" (exit status $status)"
    exit 1
  fi
done
[ "$status" -eq 0 ] || { echo "32-bit check under Wine FAILED: veltra-host.exe exited with $status"; exit 1; }
check_controller_log "$work" "04 00 00 00 00 00" || { echo "32-bit check under Wine FAILED"; exit 1; }

cp "$work/windows.xml" "$work/linux-again.xml"
"$linux_host" --plugin "$linux_plugin" --profile "$work/linux-again.xml" status > "$work/linux-run.log" 2>&1 \
  || { cat "$work/linux-run.log"; echo "32-bit check: the Linux host could not read the Windows profile"; exit 1; }
for written in windows linux-again; do
  if ! diff <(plugin_section "$work/linux.xml") <(plugin_section "$work/$written.xml"); then
    echo "32-bit check FAILED: the settings in $written.xml differ from those the Linux build wrote"; exit 1
  fi
  if [ "$(host_sections "$work/seed.xml")" != "$(host_sections "$work/$written.xml")" ]; then
    echo "32-bit check FAILED: the host's own sections changed in $written.xml"; exit 1
  fi
done
echo "32-bit check under Wine passed: $(plugin_section "$work/linux.xml" | wc -l) settings read and written alike by both builds"
