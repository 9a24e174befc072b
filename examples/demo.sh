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
emu_pid=""
cleanup() {
  if [ -n "$emu_pid" ]; then kill "$emu_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The controller logs every frame it receives and stops itself when the
# plugin falls silent for 1.5 s.
source "$here/controller.sh"
start_controller --verbose --watchdog 1500 --steps 1000,-2000,0,0,0,0
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

kill "$emu_pid"
wait "$emu_pid" || true
emu_pid=""

echo "the controller received:"
grep -o 'CMD_[A-Z_]*' "$work/emu.log" | sort | uniq -c | sed 's/^/  /'
frames=$(grep '^veltra-emu: CMD_' "$work/emu.log")
last_two=$(tail -n 2 <<<"$frames")
echo "the last two frames:"
sed 's/^/  /' <<<"$last_two"
check() {
  if ! grep -q "$1" <<<"$2"; then
    echo "demo: FAILED, the controller never received $3" >&2
    exit 1
  fi
}
check "CMD_CONFIGURE, 533 payload bytes" "$frames" "the configuration"
check "CMD_KEEPALIVE" "$frames" "a keep-alive"
check "^veltra-emu: CMD_SET_OUTPUTS, 6 payload bytes: 04 00 00 00 00 00$" "$(head -n 1 <<<"$last_two")" \
  "the final outputs (output pin 3 on, no control flags) before the shutdown"
check "^veltra-emu: CMD_STOP, 1 payload bytes: 03$" "$(tail -n 1 <<<"$last_two")" "the shutdown stop last"
echo "demo: OK"
