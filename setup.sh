#!/usr/bin/env bash
# Installs the Debian 12 packages that each step needs, then builds that
# step's trees. Safe to run again: with everything present it only brings the
# builds up to date.
#
#   ./setup.sh [--packages-only | --build-only] [STEP...]
#   ./setup.sh --list STEP...
#
# Steps:
#   native     the Linux program, its tests and tools (build/)
#   windows    VantrelSaver.scr for 32-bit (build-win/) and 64-bit Windows
#              (build-win64/), and Wine to run them
#   sanitize   the native tree under ASan, UBSan and LSan with clang, and the
#              fuzz targets (build-asan/)
#   tests      what the test tiers drive the programs with (builds nothing)
# With no step named it does native, windows and tests. --list prints each
# package those steps need with "installed" or "missing", and changes
# nothing. $VANTREL_SETUP_EXTRA_PACKAGES names more packages to install with
# the steps' own.
set -uo pipefail
cd "$(dirname "$0")" || exit 1
# shellcheck source=tests/lib/machine.sh
source tests/lib/machine.sh

PACKAGES_native=(
  cmake ninja-build make g++ pkg-config
  libx11-dev libxext-dev libxfixes-dev libxrandr-dev libxinerama-dev
  libwayland-dev wayland-protocols libxkbcommon-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev zlib1g-dev
  plasma-wayland-protocols libsystemd-dev
)
# Wine's X11 driver opens these at run time, and its package only recommends
# them: without RandR and Xinerama it takes every monitor for one, without
# the rest it loses the cursor, input and window effects. Each Wine needs
# those of its own architecture.
WINE_X_LIBRARIES=(
  libxrandr2 libxinerama1 libxi6 libxcursor1 libxcomposite1 libxrender1 libxxf86vm1 libxfixes3 libxext6
)
PACKAGES_windows=(
  cmake ninja-build make googletest
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 "${WINE_X_LIBRARIES[@]}"
)
# Only where the kernel runs 32-bit programs, and not needed for the rest:
# the 32-bit build then goes untested rather than the set-up failing.
OPTIONAL_windows_i386=(wine32:i386 "${WINE_X_LIBRARIES[@]/%/:i386}")
PACKAGES_sanitize=(clang llvm libclang-rt-14-dev)
PACKAGES_tests=(
  xvfb xdotool x11-utils x11-xserver-utils imagemagick file
  xscreensaver libxml2-utils strace jq
  sway swaybg xwayland grim wtype weston swayidle swaylock
  kwin-wayland mutter dbus-daemon dbus-bin systemd
  dpkg-dev lintian mandoc desktop-file-utils unzip
)

say() { printf 'setup.sh: %s\n' "$*" >&2; }
step() { printf '==> %s\n' "$*"; }

list=0 install=1 build=1 steps=()
for arg in "$@"; do
  case $arg in
    --list) list=1 ;;
    --packages-only) build=0 ;;
    --build-only) install=0 ;;
    native | windows | sanitize | tests) steps+=("$arg") ;;
    *) say "unknown step '$arg' (steps: native windows sanitize tests)"; exit 2 ;;
  esac
done
((${#steps[@]})) || steps=(native windows tests)
wants() { [[ " ${steps[*]} " == *" $1 "* ]]; }
# The sanitizer tree is the native tree built again.
wants sanitize && ! wants native && steps+=(native-deps)

# A name without an architecture is the machine's own (or an "all" package):
# a library installed for i386 too answers once for each.
NATIVE_ARCH=$(dpkg --print-architecture 2>/dev/null)
installed() {
  local want=${NATIVE_ARCH:-none}
  [[ $1 == *:* ]] && want=${1#*:}
  dpkg-query -W -f='${Architecture} ${Status}\n' "$1" 2>/dev/null |
    grep -qE "^($want|all) install ok installed$"
}

# The packages of the steps, each once, in order.
required=()
for s in "${steps[@]}"; do
  name=PACKAGES_${s%-deps}[@]
  for package in "${!name}"; do
    [[ " ${required[*]} " == *" $package "* ]] || required+=("$package")
  done
done
# shellcheck disable=SC2206
required+=(${VANTREL_SETUP_EXTRA_PACKAGES:-})
optional=()
if wants windows; then
  if machine_runs_i386; then
    optional+=("${OPTIONAL_windows_i386[@]}")
  elif ((!list)); then
    say "$MACHINE_WHY: no i386 architecture and no 32-bit Wine; only the 64-bit Windows build will run here"
  fi
fi

if ((list)); then
  for package in "${required[@]}" "${optional[@]}"; do
    if installed "$package"; then echo "$package installed"; else echo "$package missing"; fi
  done
  exit 0
fi

missing() {
  local package
  for package in "$@"; do installed "$package" || echo "$package"; done
}

as_root=()
need_root() {
  ((EUID == 0)) && return 0
  command -v sudo >/dev/null && { as_root=(sudo); return 0; }
  say "missing packages ($*) and neither root nor sudo"
  return 1
}

# One index that cannot be fetched (a mirror in the middle of a sync, a
# repository that went away) makes apt-get update fail although every other
# index is fine: warn and go on, since the install may well not need it.
updated=0
update_index() {
  ((updated)) && return 0
  updated=1
  local out
  if ! out=$("${as_root[@]}" apt-get update 2>&1); then
    local failed
    failed=$(sed -nE 's/^E: Failed to fetch //; T; s/ *\[IP: [^]]*\]//; p' <<<"$out" | paste -sd ';' -)
    say "warning: apt-get update failed for some indexes, going on with the rest: ${failed:-$(tail -n1 <<<"$out")}"
  fi
}

# install PACKAGE...: 0 when all are installed afterwards; otherwise one line
# on stderr names the packages it could not get and gives apt's reason.
install() {
  local out reasons unavailable=() package
  out=$("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@" 2>&1)
  local still
  still=$(missing "$@" | paste -sd ' ' -)
  [[ -z $still ]] && return 0
  for package in $still; do
    apt-cache policy "$package" 2>/dev/null | grep -q 'Candidate: [^(]' || unavailable+=("$package")
  done
  reasons=$(grep -E '^E: ' <<<"$out" | sed 's/^E: //' | paste -sd ';' -)
  if ((${#unavailable[@]})); then still=${unavailable[*]}; fi
  INSTALL_WHY="could not install $still: ${reasons:-$(tail -n1 <<<"$out")}"
  return 1
}

if ((install)); then
  need=$(missing "${required[@]}" | paste -sd ' ' -)
  want=$(missing "${optional[@]}" | paste -sd ' ' -)
  if [[ -n $need || -n $want ]]; then
    # shellcheck disable=SC2086
    need_root $need $want || exit 1
    if [[ " $want " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
      step "adding the i386 architecture (for 32-bit Wine)"
      "${as_root[@]}" dpkg --add-architecture i386
    fi
    update_index
  fi
  if [[ -n $need ]]; then
    step "installing: $need"
    # shellcheck disable=SC2086
    install $need || { say "$INSTALL_WHY"; exit 1; }
  fi
  if [[ -n $want ]]; then
    step "installing: $want"
    # shellcheck disable=SC2086
    install $want || say "warning: $INSTALL_WHY; the 32-bit Windows build will not be run here"
  fi
fi
((build)) || exit 0

# A tree keeps the generator it was first configured with; asking for Ninja
# again on a tree made with Makefiles would be an error.
generator() { [[ -f $1/CMakeCache.txt ]] || echo "-G Ninja"; }

# build_tree NAME DIR [CMAKE ARGUMENTS...]
build_tree() {
  local name=$1 dir=$2
  shift 2
  step "$name ($dir/)"
  # shellcheck disable=SC2046
  cmake -S . -B "$dir" $(generator "$dir") "$@" && cmake --build "$dir" --parallel "$(nproc)" && return 0
  say "FAILED: the $name in $dir/"
  exit 1
}

wants native && build_tree "native build" build
if wants windows; then
  build_tree "Windows build, 32-bit" build-win -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
  build_tree "Windows build, 64-bit" build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
fi
if wants sanitize; then
  CC=clang CXX=clang++ build_tree "sanitizer build" build-asan -DVANTREL_SANITIZE=ON
fi
exit 0
