#!/usr/bin/env bash
# The shipped 32-bit build end to end under Wine: veltra-host.exe loads
# veltra_drv.dll, goes through the host's start-up order, and the plugin puts
# its entries into the real menu bar and its text into the status line.
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

export WINEPREFIX="$PWD/build-win32/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log=build-win32/host-run.log
mkdir -p "$WINEPREFIX"
xvfb-run -a "$wine32" build-win32/tools/host/veltra-host.exe --plugin build-win32/src/veltra_drv.dll \
  --profile 'C:\veltra-profile.xml' status menus "get Planner.MaxPulseRate[0]" > "$log" 2>&1
status=$?
wineserver -k 2>/dev/null
tr -d '\r' < "$log" | grep -v '^\(fixme\|err\|warn\):'
for expected in "status: Ethernet controller plugin initialized." "  VELTRA config... [20000]" \
                "  VELTRA status... [20001]" "  VELTRA network setup... [20002]" "    General Config... [20003]" \
                "Planner.MaxPulseRate[0] = 5000000"; do
  if ! tr -d '\r' < "$log" | grep -qxF -- "$expected"; then
    echo "32-bit check under Wine FAILED: missing \"$expected\" (exit status $status)"
    exit 1
  fi
done
[ "$status" -eq 0 ] || { echo "32-bit check under Wine FAILED: veltra-host.exe exited with $status"; exit 1; }
echo "32-bit check under Wine passed"
