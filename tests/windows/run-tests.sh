#!/usr/bin/env bash
# Runs every test of the cross-built Windows test programs under Wine, each
# test in a process of its own (the plugin's state is process-wide), two at
# a time, inside one virtual X server and one Wine server started once.
#   run-tests.sh <windows-tests.txt> <wine command>
set -uo pipefail
list=$1
wine=$2
logs=$(mktemp -d)

names() {  # the full test names a program lists
  $wine "$1" --gtest_list_tests 2>/dev/null | tr -d '\r' | awk '
    /^[^ ]/ { suite = $1; next }
    /^  [^ ]/ { print suite $1 }'
}

jobs=()
while read -r exe; do
  [ -n "$exe" ] || continue
  for test in $(names "$exe"); do jobs+=("$exe $test"); done
done < "$list"
[ ${#jobs[@]} -gt 0 ] || { echo "no Windows tests found"; exit 1; }

run_one() {
  local exe=$1 test=$2 log
  log="$logs/$(basename "$exe" .exe)-${test//\//_}.log"
  # A test that waits for a window nobody answers would never end.
  if timeout 120 $wine "$exe" --gtest_filter="$test" >"$log" 2>&1; then
    echo "passed  $test"
    rm -f "$log"
  else
    echo "FAILED  $test"
    return 1
  fi
}
export -f run_one
export wine logs

printf '%s\n' "${jobs[@]}" | xargs -P 2 -L 1 bash -c 'run_one "$0" "$1"' > "$logs/summary" 2>&1
status=$?
grep '^FAILED' "$logs/summary" || true
for log in "$logs"/*.log; do
  [ -e "$log" ] || continue
  echo "---- $(basename "$log" .log)"; tr -d '\r' < "$log" | grep -v '^\(fixme\|err\|warn\):' | tail -40
done
passed=$(grep -c '^passed' "$logs/summary")
failed=$(grep -c '^FAILED' "$logs/summary")
echo "Windows tests under Wine: $passed passed, $failed failed"
rm -rf "$logs"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]
