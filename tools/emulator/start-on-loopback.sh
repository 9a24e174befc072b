# Sourced by scripts that need a substitute controller of their own:
#   start_controller <veltra-emu> <work folder> [veltra-emu options...]
# starts it in the background on the first free address of 127.0.0.2-254
# (from a random start: another run, or a controller started by hand, may
# hold one already), with its output in <work>/emu.out and its frame log in
# <work>/emu.log, and sets $address and $emu_pid. stop_controller ends it.
start_controller() {
  local program=$1 work=$2
  shift 2
  local first=$((RANDOM % 253 + 2)) n i
  for ((i = 0; i < 253; i++)); do
    n=$(((first - 2 + i) % 253 + 2))
    address=127.0.0.$n
    "$program" --address "$address" "$@" >"$work/emu.out" 2>"$work/emu.log" &
    emu_pid=$!
    for _ in $(seq 50); do
      grep -q listening "$work/emu.out" 2>/dev/null && return 0
      kill -0 "$emu_pid" 2>/dev/null || break
      sleep 0.02
    done
    wait "$emu_pid" 2>/dev/null || true
    emu_pid=""
  done
  echo "no loopback address to listen on" >&2
  return 1
}

stop_controller() {
  [ -n "${emu_pid:-}" ] || return 0
  kill "$emu_pid" 2>/dev/null || true
  wait "$emu_pid" 2>/dev/null || true
  emu_pid=""
}

# What every session with the plugin must have brought the controller: the
# configuration, and at shutdown the final outputs (with the given payload
# bytes) and the shutdown stop, as the last two frames.
check_controller_log() {
  local work=$1 outputs=$2 frames last_two
  frames=$(grep '^veltra-emu: CMD_' "$work/emu.log")
  last_two=$(tail -n 2 <<<"$frames")
  echo "the controller received:"
  grep -o 'CMD_[A-Z_]*' "$work/emu.log" | sort | uniq -c | sed 's/^/  /'
  echo "the last two frames:"
  sed 's/^/  /' <<<"$last_two"
  grep -q "CMD_CONFIGURE, 533 payload bytes" <<<"$frames" \
    || { echo "FAILED: the controller never received the configuration" >&2; return 1; }
  grep -q "^veltra-emu: CMD_SET_OUTPUTS, 6 payload bytes: $outputs\$" <<<"$(head -n 1 <<<"$last_two")" \
    || { echo "FAILED: the final outputs ($outputs) did not come before the shutdown" >&2; return 1; }
  grep -q "^veltra-emu: CMD_STOP, 1 payload bytes: 03\$" <<<"$(tail -n 1 <<<"$last_two")" \
    || { echo "FAILED: the shutdown stop did not come last" >&2; return 1; }
}
