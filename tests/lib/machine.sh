# What this machine can run, found by trying it: 32-bit x86 programs, and
# each Wine loader. Source it from bash; it sets no shell options.
#
#   machine_runs_i386            0 when the kernel runs a 32-bit x86 program
#   machine_wine_runs ARCH       0 when Wine for ARCH (win32 or win64) starts
#
# Each sets MACHINE_WHY, one line, to the reason when it answers no.
# VANTREL_PRETEND_NO_I386=1 makes the first answer no, for trying the paths
# of a machine that runs no 32-bit programs on one that does.

[[ -n ${VANTREL_LIB_MACHINE:-} ]] && return 0
VANTREL_LIB_MACHINE=1

MACHINE_WHY=
# Debian keeps both loaders here; /usr/bin/wine picks the 32-bit one when
# it is installed.
MACHINE_WINE32=${MACHINE_WINE32:-/usr/lib/wine/wine}
MACHINE_WINE64=${MACHINE_WINE64:-/usr/lib/wine/wine64}

machine_runs_i386() {
  MACHINE_WHY=
  if [[ ${VANTREL_PRETEND_NO_I386:-0} == 1 ]]; then
    MACHINE_WHY="this kernel does not run 32-bit x86 programs (VANTREL_PRETEND_NO_I386=1)"
    return 1
  fi
  # A whole static i386 program in 93 bytes, needing no loader or library:
  # its one segment holds `mov eax, 1; mov bl, 42; int 0x80`, exit(42).
  local dir out rc
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-i386.XXXXXX") || { MACHINE_WHY="no temporary folder"; return 1; }
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'\
'\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00'\
'\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xb3\x2a\xcd\x80' >"$dir/exit42"
  chmod +x "$dir/exit42"
  out=$("$dir/exit42" 2>&1)
  rc=$?
  rm -rf "$dir"
  ((rc == 42)) && return 0
  out=${out##*: }
  MACHINE_WHY="this kernel does not run 32-bit x86 programs (${out:-exit status $rc})"
  return 1
}

machine_wine_runs() {
  local arch=$1 loader out
  MACHINE_WHY=
  case $arch in
    win32)
      machine_runs_i386 || return 1
      loader=$MACHINE_WINE32
      [[ -x $loader ]] || { MACHINE_WHY="32-bit Wine is not installed (Debian: wine32:i386)"; return 1; } ;;
    win64)
      loader=$MACHINE_WINE64
      [[ -x $loader ]] || { MACHINE_WHY="64-bit Wine is not installed (Debian: wine64)"; return 1; } ;;
    *) MACHINE_WHY="no Wine for '$arch'"; return 1 ;;
  esac
  if ! out=$(timeout 60 "$loader" --version 2>&1); then
    out=$(head -n1 <<<"$out")
    MACHINE_WHY="$(basename "$loader") does not start: ${out:-no answer}"
    return 1
  fi
  return 0
}
