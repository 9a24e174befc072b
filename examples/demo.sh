#!/usr/bin/env bash
# The demo: the substitute controller listens on a loopback address of its
# own; the host stand-in loads the plugin with a profile that points at it,
# presses Reset, runs the cycle for a few seconds and stops the plugin. The
# controller's log then shows what reached it, down to the final outputs and
# the shutdown stop.
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
# It logs every frame it receives and stops itself when the plugin falls
# silent for 1.5 s.
start_controller "$build/tools/emulator/veltra-emu" "$work" --verbose --watchdog 1500 --steps 1000,-2000,0,0,0,0
echo "controller listening on $address"

cat >"$work/profile.xml" <<PROFILE
<profile>
  <veltra_mach_drv>
    <ETH_BYIP>1</ETH_BYIP>
    <ETH_IP>$address</ETH_IP>
  </veltra_mach_drv>
</profile>
PROFILE

"$build/tools/host/veltra-host" --plugin "$build/src/libveltra_drv.so" \
  --profile "$work/profile.xml" --script "$here/demo.script"

stop_controller

grep -q CMD_KEEPALIVE "$work/emu.log" || { echo "demo: FAILED, no keep-alive reached the controller" >&2; exit 1; }
# Output pin 3 on, no control flags.
check_controller_log "$work" "04 00 00 00 00 00" || { echo "demo: FAILED" >&2; exit 1; }
echo "demo: OK"
