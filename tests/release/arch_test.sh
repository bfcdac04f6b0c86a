#!/usr/bin/env bash
# The probe that picks the path (scripts/arch.sh): its programs are what
# they claim to be, the control runs here, and what the user gives in
# RAVEN_ARCH is taken, refused or forced as it should be.
# Prints "ok - NAME" or "not ok - NAME" per case; fails when any failed.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
tmp="$(mktemp -d)" failed=0
trap 'rm -rf "$tmp"' EXIT
report() { if [ "$2" = 0 ]; then echo "ok - $1"; else echo "not ok - $1"; failed=1; fi; }

RAVEN_ROOT="$root" source "$root/scripts/arch.sh"
raven_write_probes "$tmp"
file -b "$tmp/i386" | grep -q '^ELF 32-bit LSB executable, Intel 80386'
report "the probe is a 32-bit x86 program ($(file -b "$tmp/i386" | cut -c1-50))" $?
file -b "$tmp/x86_64" | grep -q '^ELF 64-bit LSB executable, x86-64'
report "the control is a 64-bit x86 program ($(file -b "$tmp/x86_64" | cut -c1-50))" $?
"$tmp/x86_64"; [ $? = 42 ]
report "the control runs here" $?
# Where the probe says 32-bit code runs, 32-bit Wine's loader starts too.
if [ "$RAVEN_RUNS_I386" = 1 ] && [ -x /usr/lib/wine/wine ]; then
  /usr/lib/wine/wine --version >/dev/null 2>&1
  report "32-bit Wine starts where the probe runs" $?
fi

# What a fresh shell makes of RAVEN_ARCH: status, then RAVEN_ARCH and why.
decide() {
  env -u RAVEN_RUNS_I386 -u RAVEN_ARCH_WHY -u RAVEN_ARCH RAVEN_ROOT="$root" RAVEN_BUILD="$tmp" "$@" \
    bash -c 'source "$RAVEN_ROOT/scripts/arch.sh" && echo "$RAVEN_ARCH: $RAVEN_ARCH_WHY"' 2>&1
  echo "exit $?"
}
want=x86_64; [ "$RAVEN_RUNS_I386" = 1 ] && want=i686
out="$(decide)"; grep -q "^$want: this machine runs" <<< "$out"
report "unset: the probe picks $want" $?
out="$(decide RAVEN_ARCH=x86_64)"; grep -q '^x86_64: RAVEN_ARCH=x86_64 given' <<< "$out"
report "RAVEN_ARCH=x86_64 forces the 64-bit path" $?
if [ "$RAVEN_RUNS_I386" = 1 ]; then
  out="$(decide RAVEN_ARCH=i686)"; grep -q '^i686: RAVEN_ARCH=i686 given' <<< "$out"
else
  out="$(decide RAVEN_ARCH=i686)"; grep -q '^exit 2' <<< "$out"
fi
report "RAVEN_ARCH=i686 is taken only where 32-bit code runs" $?
out="$(decide RAVEN_ARCH=arm64)"
[[ "$out" == *"RAVEN_ARCH must be i686 or x86_64"*"exit 2" ]]
report "another RAVEN_ARCH is refused" $?
exit $failed
