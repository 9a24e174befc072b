# Sourced by the example scripts, after they set $build and $work:
# start_controller [veltra-emu options...] starts the substitute controller on
# the first free address of 127.0.0.2-254 from a random start (a second demo
# or a hand-run controller may hold one already), with its output in
# $work/emu.out and its log in $work/emu.log. It sets $address and $emu_pid.
start_controller() {
  local first=$((RANDOM % 253 + 2)) n
  for ((i = 0; i < 253; i++)); do
    n=$(((first - 2 + i) % 253 + 2))
    address=127.0.0.$n
    "$build/tools/emulator/veltra-emu" --address "$address" "$@" >"$work/emu.out" 2>"$work/emu.log" &
    emu_pid=$!
    for _ in $(seq 50); do
      grep -q listening "$work/emu.out" 2>/dev/null && return 0
      kill -0 "$emu_pid" 2>/dev/null || break
      sleep 0.02
    done
    wait "$emu_pid" 2>/dev/null || true
    emu_pid=""
  done
  echo "demo: no loopback address to listen on" >&2
  return 1
}
