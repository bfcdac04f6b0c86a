# Shared by the scripts; sourced, not run. Decides which Windows build runs
# here, by running code rather than guessing from uname or packages: a
# Linux kernel with 32-bit emulation off starts no 32-bit program at all,
# so 32-bit Wine and the shipped i686 exe cannot run there.
#
# Sets RAVEN_RUNS_I386 (1 or 0: what the probe found), RAVEN_ARCH (i686
# where 32-bit code runs, x86_64 where it does not, or as given by the
# user) and RAVEN_ARCH_WHY (one line saying why). RAVEN_ARCH=x86_64 forces
# the 64-bit path on any machine.

# Writes two hand-made static ELF programs into folder $1 that only exit
# with status 42: i386 (int 0x80) and x86_64 (syscall), the control that
# tells a folder that runs nothing from a kernel that runs no 32-bit code.
raven_write_probes() {
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$1/i386"
  printf '\177ELF\002\001\001\000\000\000\000\000\000\000\000\000\002\000\076\000\001\000\000\000\170\000\100\000\000\000\000\000\100\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\100\000\070\000\001\000\000\000\000\000\000\000\001\000\000\000\005\000\000\000\000\000\000\000\000\000\000\000\000\000\100\000\000\000\000\000\000\000\100\000\000\000\000\000\204\000\000\000\000\000\000\000\204\000\000\000\000\000\000\000\000\020\000\000\000\000\000\000\270\074\000\000\000\277\052\000\000\000\017\005' >"$1/x86_64"
  chmod +x "$1/i386" "$1/x86_64"
}

# Returns 0 where 32-bit code runs, 1 where not, 2 where even the control
# does not run.
raven_probe_i386() {
  local dir status control
  dir="$(mktemp -d "${RAVEN_BUILD:-$RAVEN_ROOT/build}/.arch-probe.XXXXXX")" || return 2
  raven_write_probes "$dir"
  "$dir/x86_64" 2>/dev/null; control=$?
  "$dir/i386" 2>/dev/null; status=$?
  rm -rf "$dir"
  if [ "$control" -ne 42 ]; then return 2; fi
  [ "$status" -eq 42 ]
}

if [ -z "${RAVEN_RUNS_I386:-}" ]; then
  mkdir -p "${RAVEN_BUILD:-$RAVEN_ROOT/build}"
  probe_status=0
  raven_probe_i386 || probe_status=$?
  if [ "$probe_status" -eq 2 ]; then
    echo "the architecture probe cannot run programs from ${RAVEN_BUILD:-$RAVEN_ROOT/build} (mounted noexec?)" >&2
    exit 1
  fi
  RAVEN_RUNS_I386=$(( probe_status == 0 ))
  unset probe_status
  export RAVEN_RUNS_I386
fi

if [ -z "${RAVEN_ARCH_WHY:-}" ]; then
  case "${RAVEN_ARCH:-}" in
    "")
      if [ "$RAVEN_RUNS_I386" = 1 ]; then
        RAVEN_ARCH=i686 RAVEN_ARCH_WHY="this machine runs 32-bit x86 code: the shipped i686 exe under 32-bit Wine"
      else
        RAVEN_ARCH=x86_64 RAVEN_ARCH_WHY="this machine runs no 32-bit x86 code (a 32-bit probe program did not start): an x86-64 build of the same sources under wine64; the shipped exe stays i686"
      fi ;;
    x86_64) RAVEN_ARCH_WHY="RAVEN_ARCH=x86_64 given: an x86-64 build of the same sources under wine64; the shipped exe stays i686" ;;
    i686)
      if [ "$RAVEN_RUNS_I386" != 1 ]; then
        echo "RAVEN_ARCH=i686 given, but this machine runs no 32-bit x86 code: unset it or use RAVEN_ARCH=x86_64" >&2
        exit 2
      fi
      RAVEN_ARCH_WHY="RAVEN_ARCH=i686 given: the shipped i686 exe under 32-bit Wine" ;;
    *) echo "RAVEN_ARCH must be i686 or x86_64, not: $RAVEN_ARCH" >&2; exit 2 ;;
  esac
  export RAVEN_ARCH RAVEN_ARCH_WHY
fi
