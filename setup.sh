#!/usr/bin/env bash
# Installs what the two builds and the tests need (Debian 12), then builds the
# native tree (build/) and the Windows tree (build-win/). Safe to run again:
# with everything present it only brings the builds up to date.
#
#   ./setup.sh [packages] [native] [windows] [sanitize]
#
# With no step named it does the first three; sanitize builds build-asan/,
# the native tree under ASan, UBSan and LSan with clang, and the fuzz targets.
set -euo pipefail
trap 'echo "setup.sh: FAILED at line $LINENO: $BASH_COMMAND" >&2' ERR
cd "$(dirname "$0")"

steps=("$@")
((${#steps[@]})) || steps=(packages native windows)
for s in "${steps[@]}"; do
  case $s in packages | native | windows | sanitize) ;; *) echo "setup.sh: unknown step '$s'" >&2; exit 2 ;; esac
done
wants() { [[ " ${steps[*]} " == *" $1 "* ]]; }

PACKAGES=(
  cmake ninja-build make g++
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386
  xvfb xdotool x11-utils libx11-dev libxext-dev libxfixes-dev imagemagick
  xscreensaver libxml2-utils
  zlib1g-dev
  clang llvm libclang-rt-14-dev
  dpkg-dev lintian unzip
)

step() { printf '==> %s\n' "$*"; }

missing=()
wants packages || PACKAGES=()
for package in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]})); then
  step "installing: ${missing[*]}"
  if ((EUID == 0)); then
    as_root=()
  elif command -v sudo >/dev/null; then
    as_root=(sudo)
  else
    echo "setup.sh: missing packages (${missing[*]}) and neither root nor sudo" >&2
    exit 1
  fi
  for package in "${missing[@]}"; do
    if [[ $package == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${as_root[@]}" dpkg --add-architecture i386
      break
    fi
  done
  "${as_root[@]}" apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

# A tree keeps the generator it was first configured with; asking for Ninja
# again on a tree made with Makefiles would be an error.
generator() { [[ -f $1/CMakeCache.txt ]] || echo "-G Ninja"; }

if wants native; then
  step "native build (build/)"
  # shellcheck disable=SC2046
  cmake -S . -B build $(generator build)
  cmake --build build --parallel "$(nproc)"
fi

if wants windows; then
  step "Windows build (build-win/)"
  # shellcheck disable=SC2046
  cmake -S . -B build-win $(generator build-win) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
  cmake --build build-win --parallel "$(nproc)"
fi

if wants sanitize; then
  step "sanitizer build (build-asan/)"
  # shellcheck disable=SC2046
  CC=clang CXX=clang++ cmake -S . -B build-asan $(generator build-asan) -DVANTREL_SANITIZE=ON
  cmake --build build-asan --parallel "$(nproc)"
fi
