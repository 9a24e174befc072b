#!/usr/bin/env bash
# The plasma example: the host stand-in with the plugin cuts on the
# substitute controller's simulated torch. The torch start waits for the
# arc, the controller's THC lifts the torch to the nominal voltage, DRO 1500
# shows the arc voltage, and the ignition and the cut time are counted into
# the profile.
#
#   examples/plasma.sh [build directory]     (after ./run build)
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cleanup() {
  stop_controller
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/../tools/emulator/start-on-loopback.sh"
start_controller "$build/tools/emulator/veltra-emu" "$work" --verbose --watchdog 1500
echo "controller listening on $address"

cat >"$work/profile.xml" <<PROFILE
<profile>
  <veltra_mach_drv>
    <ETH_BYIP>1</ETH_BYIP>
    <ETH_IP>$address</ETH_IP>
    <THCtype>1</THCtype>
    <THCnomvoltage>120</THCnomvoltage>
    <THChystvoltage>2</THChystvoltage>
    <THCtorchv>250</THCtorchv>
    <THCanalogv>5000</THCanalogv>
    <THCarcDetect>1</THCarcDetect>
    <THCDwell>1</THCDwell>
    <THCIgnitionCnt>0</THCIgnitionCnt>
    <THCCutTime>0</THCCutTime>
  </veltra_mach_drv>
</profile>
PROFILE

"$build/tools/host/veltra-host" --plugin "$build/src/libveltra_drv.so" \
  --profile "$work/profile.xml" --script "$here/plasma.script" | tee "$work/host.out"

stop_controller

fail() {
  echo "plasma: FAILED, $1" >&2
  exit 1
}
for command in CMD_SET_THC CMD_SET_INPUT_OVERRIDES CMD_SPINDLE; do
  grep -q "^veltra-emu: $command," "$work/emu.log" || fail "the controller never received $command"
done
volts=$(sed -n 's/^DRO 1500 = //p' "$work/host.out")
offset=$(sed -n 's/^Engine.ThcZOffset = //p' "$work/host.out")
setting() { sed -n "s:.*<$1>\(.*\)</$1>.*:\1:p" "$work/profile.xml"; }
ignitions=$(setting THCIgnitionCnt)
cut_time=$(setting THCCutTime)
echo "arc voltage ${volts} V, Z correction ${offset} steps, ${ignitions} ignition(s), ${cut_time} ms cut"
awk -v v="$volts" 'BEGIN { exit !(v >= 115 && v <= 122) }' || fail "the arc voltage $volts V is not near 120 V"
[ "${offset:-0}" -gt 0 ] || fail "the THC did not lift the torch"
[ "$ignitions" = 1 ] || fail "$ignitions ignitions counted, not 1"
[ "${cut_time:-0}" -ge 2000 ] || fail "a cut time of ${cut_time} ms, not the 2 s and more of the cut"
echo "plasma: OK"
