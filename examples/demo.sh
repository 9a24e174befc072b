#!/usr/bin/env bash
# The demo, two sessions of the host stand-in with the plugin against the
# substitute controller on a loopback address of its own. The first
# (demo.script) connects: Reset, status frames mirrored into the host, the
# outputs and keep-alives to the controller, and the final outputs and the
# shutdown stop at the end. The second (motion.script) homes X, Y and Z, runs
# the sample program with a progress bar, jogs and probes down to the
# controller's surface. Then the report: where the host and the controller
# see the axes (they must agree), the records the controller executed, its
# lowest buffer level while moving, its underruns (there must be none) and
# the time taken. Any failed check makes the demo fail.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cleanup() {
  stop_controller
  rm -rf "$work"
}
trap cleanup EXIT
started=$(date +%s%N)

. "$here/../tools/emulator/start-on-loopback.sh"
# It logs every frame it receives, stops itself when the plugin falls silent
# for 1.5 s, and its probe touches when Z reaches -3 mm (-3000 steps).
start_controller "$build/tools/emulator/veltra-emu" "$work" --verbose --watchdog 1500 --steps 1000,-2000,0,0,0,0 \
  --probe-surface 2,-3000,-1
echo "controller listening on $address"

cat >"$work/profile.xml" <<PROFILE
<profile>
  <veltra_mach_drv>
    <ETH_BYIP>1</ETH_BYIP>
    <ETH_IP>$address</ETH_IP>
  </veltra_mach_drv>
</profile>
PROFILE
cp "$here/sample.ngc" "$work/"

failed=0
fail() {
  echo "demo: FAILED, $*" >&2
  failed=1
}
session() {
  (cd "$work" && "$build/tools/host/veltra-host" --plugin "$build/src/libveltra_drv.so" \
    --profile "$work/profile.xml" --script "$here/$1")
}

session demo.script
grep -q CMD_KEEPALIVE "$work/emu.log" || fail "no keep-alive reached the controller"
# Output pin 3 on, no control flags.
check_controller_log "$work" "04 00 00 00 00 00" || fail "the first session's frames"

session motion.script | tee "$work/host.out"
stop_controller
# No outputs on in the second session.
check_controller_log "$work" "00 00 00 00 00 00" || fail "the second session's frames"

# veltra-emu: motion: N records executed, U underruns, O overruns, lowest buffer level L, steps X,Y,Z,A,B,C
motion=$(grep '^veltra-emu: motion:' "$work/emu.out") || { echo "demo: FAILED, no motion figures" >&2; exit 1; }
read -r executed underruns overruns lowest steps < <(sed -E \
  's/.*: ([0-9]+) records executed, ([0-9]+) underruns, ([0-9]+) overruns, lowest buffer level ([0-9a-z]+), steps (.*)/\1 \2 \3 \4 \5/' \
  <<<"$motion")
IFS=, read -r -a controller <<<"$steps"
samples=$(sed -nE 's/^ran .*: ([0-9]+) samples in .*/\1/p' "$work/host.out")
elapsed_ms=$((($(date +%s%N) - started) / 1000000))

echo
echo "demo report"
for axis in 0 1 2; do
  name=${axis/0/X}; name=${name/1/Y}; name=${name/2/Z}
  host_steps=$(sed -nE "s/^Engine.AxisPosition\[$axis\] = (-?[0-9]+)$/\1/p" "$work/host.out" | tail -n 1)
  printf '  %s: host %s steps, controller %s steps\n' "$name" "$host_steps" "${controller[$axis]}"
  [ "$host_steps" = "${controller[$axis]}" ] || fail "the host and the controller disagree on $name"
done
echo "  records streamed: $executed executed by the controller ($samples from the program, the rest the probe)"
echo "  lowest controller buffer level while moving: $lowest records"
echo "  underruns: $underruns, overruns: $overruns"
echo "  time taken: $((elapsed_ms / 1000)).$(printf '%03d' $((elapsed_ms % 1000))) s"
[ "$underruns" = 0 ] || fail "the controller's buffer ran dry"
[ "$overruns" = 0 ] || fail "the controller's buffer overflowed"
[ -n "$samples" ] && [ "$executed" -ge "$samples" ] || fail "the controller did not execute the whole program"

[ "$failed" = 0 ] || exit 1
echo "demo: OK"
