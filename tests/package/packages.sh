#!/usr/bin/env bash
# The packages a user installs, made by the package targets of both trees:
# the Debian package's files and control fields, the packaged program run
# from an unpacked copy, lintian's verdict; the Windows zip's contents and
# what the .scr inside each of the two (32-bit and 64-bit) carries
# (headers, manifest, version, icon, imports).
#
# Needs built trees (./setup.sh); VANTREL_NATIVE_TREE, VANTREL_WIN_TREE and
# VANTREL_WIN64_TREE name others than build/, build-win/ and build-win64/.
set -uo pipefail
# shellcheck source=tests/lib/common.sh
source "$(dirname "$0")/../lib/common.sh"

NATIVE_TREE=${VANTREL_NATIVE_TREE:-$VANTREL_ROOT/build}
WIN_TREE=${VANTREL_WIN_TREE:-$VANTREL_ROOT/build-win}
WIN64_TREE=${VANTREL_WIN64_TREE:-$VANTREL_ROOT/build-win64}
TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-package.XXXXXX")
BG_DIR=$TMP
trap 'bg_kill_all; rm -rf "$TMP"' EXIT

VERSION=$(sed -nE 's/^project\(VantrelSaver VERSION ([0-9.]+).*/\1/p' "$VANTREL_ROOT/CMakeLists.txt")
[[ -n $VERSION ]] || die "no version in CMakeLists.txt"

# build_package TREE: the tree's package target, its output kept for a failure.
build_package() { cmake --build "$1" --target package >"$TMP/package.log" 2>&1; }

# same_text NAME WANT GOT: the texts must match line for line; same_lines
# compares them as sets of lines.
same_text() {
  local name=$1 delta
  delta=$(diff <(echo "$2") <(echo "$3"))
  if [[ -z $delta ]]; then pass "$name"; else fail "$name" "$delta"; fi
}
same_lines() { same_text "$1" "$(sort <<<"$2")" "$(sort <<<"$3")"; }

# expect_all NAME TEXT PATTERN...: every extended regular expression matches a line of TEXT.
expect_all() {
  local name=$1 text=$2 missing=() pattern
  shift 2
  for pattern in "$@"; do grep -qE -- "$pattern" <<<"$text" || missing+=("no line matches: $pattern"); done
  if ((${#missing[@]} == 0)); then pass "$name"; else fail "$name" "${missing[@]}" "$text"; fi
}

# --- the Debian package -----------------------------------------------------------
DEB=$NATIVE_TREE/vantrel-saver_${VERSION}-1_$(dpkg --print-architecture).deb
rm -f "$DEB"
if build_package "$NATIVE_TREE" && [[ -f $DEB ]]; then
  pass "the native package target writes $(basename "$DEB")"

  # Every file and link, owned by root; nothing the user did not ask for.
  listing=$(dpkg-deb -c "$DEB")
  files=$(awk '$1 !~ /^d/ { print $6 }' <<<"$listing")
  icons=$(for s in 16 32 48 64 128 256; do echo "./usr/share/icons/hicolor/${s}x$s/apps/vantrel-saver.png"; done)
  same_lines "the package holds exactly its files" "./usr/libexec/xscreensaver/vantrel-saver
./usr/bin/vantrel-saver
./usr/share/xscreensaver/config/vantrel-saver.xml
./usr/share/man/man6/vantrel-saver.6.gz
./usr/share/applications/vantrel-saver-settings.desktop
./etc/xdg/autostart/vantrel-saver-watch.desktop
./usr/share/doc/vantrel-saver/copyright
./usr/share/doc/vantrel-saver/changelog.Debian.gz
$icons" "$files"
  expect_all "the command is a relative link to the module" "$listing" \
    '^l.* \./usr/bin/vantrel-saver -> \.\./libexec/xscreensaver/vantrel-saver$'
  owners=$(awk '$2 != "root/root"' <<<"$listing")
  if [[ -z $owners ]]; then pass "every entry belongs to root"; else fail "every entry belongs to root" "$owners"; fi

  control=$(dpkg-deb -f "$DEB")
  expect_all "control fields: name, version, dependencies from the binary, xscreensaver recommended" "$control" \
    '^Package: vantrel-saver$' "^Version: ${VERSION//./\\.}-1\$" "^Architecture: $(dpkg --print-architecture)\$" \
    '^Depends: .*libc6 \(>=' '^Depends: .*libx11-6' '^Recommends: xscreensaver$' '^Section: x11$' \
    '^Maintainer: .+ <[^ ]+@[^ ]+>$' '^Description: [a-z]' '^ [A-Z]'

  ROOT=$TMP/root
  dpkg-deb -x "$DEB" "$ROOT"
  # A version bump must reach the changelog too, or dpkg and the changelog disagree.
  top=$(zcat "$ROOT/usr/share/doc/vantrel-saver/changelog.Debian.gz" | head -n1)
  expect_all "the changelog's newest entry is the package's version" "$top" \
    "^vantrel-saver \\(${VERSION//./\\.}-1\\) "
  sizes=()
  for icon in "$ROOT"/usr/share/icons/hicolor/*/apps/vantrel-saver.png; do
    dir=$(basename "$(dirname "$(dirname "$icon")")")
    # Width and height are the first fields of the PNG header.
    read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$icon")
    [[ $dir == "${w}x$h" ]] || sizes+=("$dir holds a ${w}x$h picture")
  done
  if ((${#sizes[@]} == 0)); then pass "each icon has its folder's size"; else fail "each icon has its folder's size" "${sizes[@]}"; fi
  desktop=$(cat "$ROOT/usr/share/applications/vantrel-saver-settings.desktop")
  expect_all "the menu entry opens the settings panel, naming the installed program, with the icon" "$desktop" \
    '^Name=Vantrel Screen Saver Settings$' '^Exec=/usr/libexec/xscreensaver/vantrel-saver --panel$' \
    '^Icon=vantrel-saver$' '^Type=Application$'
  autostart=$(cat "$ROOT/etc/xdg/autostart/vantrel-saver-watch.desktop")
  expect_all "the session's autostart entry starts the watcher" "$autostart" \
    '^Exec=/usr/libexec/xscreensaver/vantrel-saver --watch$' '^Type=Application$' '^NoDisplay=true$'
  expect_all "the autostart entry is a conffile, the administrator's to change" \
    "$(dpkg-deb -I "$DEB" conffiles 2>&1)" '^/etc/xdg/autostart/vantrel-saver-watch\.desktop$'

  # The packaged, stripped program: its embedded resources and the whole
  # paint path, on the invisible desktop, until SIGTERM ends it.
  saver=$ROOT/usr/bin/vantrel-saver
  help=$(env -u DISPLAY timeout 10 "$saver" --help 2>&1)
  expect_all "the packaged program answers --help with its options" "$help" \
    '--bomb-count' '--bomb-speed' '--screen-delay' '--bombs-only' '--backdrop' '--fps'
  bg_start headless env -u DISPLAY VANTREL_BACKEND=headless VANTREL_HEADLESS_SIZE=320x240 \
    VANTREL_REGISTRY="$TMP/registry.reg" "$saver" /s
  if stays_true 3 bg_running headless; then
    kill -TERM "$(cat "$BG_DIR/headless.pid")"
    if bg_wait headless 30 && [[ $(bg_rc headless) == 0 && -z $(bg_output headless) ]]; then
      pass "the packaged program renders headless until SIGTERM, then exits 0 quietly"
    else
      fail "the packaged program renders headless until SIGTERM, then exits 0 quietly" \
        "status $(bg_rc headless)" "$(bg_output headless)"
    fi
  else
    fail "the packaged program keeps rendering headless" "status $(bg_rc headless)" "$(bg_output headless)"
  fi
  bg_kill headless

  # Errors fail; warnings are listed for people to judge.
  report=$(lintian --allow-root "$DEB" 2>&1)
  errors=$(grep -E '^E: ' <<<"$report")
  [[ -n $report ]] && printf '      lintian: %s\n' "${report//$'\n'/$'\n      lintian: '}"
  if [[ -z $errors ]]; then pass "lintian reports no errors"; else fail "lintian reports no errors" "$errors"; fi

  # The manual page and the menu entry as the tools that read them judge
  # them: any warning fails. The page is dated as the version it documents,
  # the day of the changelog's newest entry.
  zcat "$ROOT/usr/share/man/man6/vantrel-saver.6.gz" >"$TMP/vantrel-saver.6"
  name="mandoc -T lint finds nothing to warn of in the manual page"
  if lint=$(mandoc -T lint -W warning "$TMP/vantrel-saver.6" 2>&1) && [[ -z $lint ]]; then
    pass "$name"
  else
    fail "$name" "$lint"
  fi
  trailer=$(zcat "$ROOT/usr/share/doc/vantrel-saver/changelog.Debian.gz" | grep -m1 '^ -- ')
  written=$(sed -nE 's/.*, ([0-9]{1,2} [A-Z][a-z]{2} [0-9]{4}) .*/\1/p' <<<"$trailer")
  day=$([[ -n $written ]] && date -d "$written" +%F 2>/dev/null)
  expect_all "the manual page carries the version and day of the changelog's newest entry" \
    "$(head -n1 "$TMP/vantrel-saver.6")" "^\.TH VANTREL-SAVER 6 \"${day:-no day in: $trailer}\" \"Vantrel Screen Saver ${VERSION//./\\.}\""
  report=$(desktop-file-validate "$ROOT/usr/share/applications/vantrel-saver-settings.desktop" \
    "$ROOT/etc/xdg/autostart/vantrel-saver-watch.desktop" 2>&1)
  name="desktop-file-validate finds no error or warning in the menu and autostart entries"
  if grep -qE ': (error|warning): ' <<<"$report"; then
    fail "$name" "$report"
  else
    pass "$name"
    [[ -n $report ]] && printf '      desktop-file-validate: %s\n' "${report//$'\n'/$'\n      desktop-file-validate: '}"
  fi
else
  fail "the native package target writes $(basename "$DEB")" "$(tail -n 30 "$TMP/package.log")"
fi

# --- the Windows zips --------------------------------------------------------------
# check_zip TREE BITS TRIPLE ARCH: the zip of TREE's package target for
# BITS-bit Windows, its programs read with TRIPLE's binutils; ARCH is the
# processor its manifest must name.
check_zip() {
  local tree=$1 bits=$2 triple=$3 arch=$4
  local zip=$tree/VantrelSaver-$VERSION-win$bits.zip dir=$TMP/zip$bits
  rm -f "$zip"
  if ! build_package "$tree" || [[ ! -f $zip ]]; then
    fail "the $bits-bit Windows package target writes $(basename "$zip")" "$(tail -n 30 "$TMP/package.log")"
    return
  fi
  pass "the $bits-bit Windows package target writes $(basename "$zip")"
  same_lines "the $bits-bit zip holds the program, README.txt and the licence" "VantrelSaver.scr
README.txt
LICENSE.txt" "$(unzip -Z1 "$zip")"
  unzip -q "$zip" -d "$dir"
  readme=$(cat "$dir/README.txt")
  expect_all "README.txt says how to install, in Windows line ends" "$readme" \
    "Vantrel Screen Saver ${VERSION//./\\.} for Windows"$'\r$' 'Right-click VantrelSaver\.scr and choose Install' \
    'copy VantrelSaver\.scr into the Windows folder'
  if ((bits == 64)); then systems='^64-bit Windows Vista to 11'; else systems='^Windows Vista to 11, 32-bit or 64-bit'; fi
  expect_all "the $bits-bit zip's README.txt names the systems it runs on" "$readme" "$systems"
  local scr=$dir/VantrelSaver.scr headers
  headers=$("$triple-objdump" -p "$scr")
  if ((bits == 64)); then
    # PE32+ for x86-64, a GUI program, with high-entropy ASLR and DEP.
    expect_all "the 64-bit .scr is PE32+ for x86-64, GUI, with high-entropy ASLR and DEP" "$headers" \
      '^Magic\s+020b\s+\(PE32\+\)' 'file format pei-x86-64' '^Subsystem\s+00000002\s+\(Windows GUI\)' \
      '^\s+HIGH_ENTROPY_VA$' '^\s+DYNAMIC_BASE$' '^\s+NX_COMPAT$'
  else
    expect_all "the 32-bit .scr is PE32 for i386, GUI" "$headers" \
      '^Magic\s+010b\s+\(PE32\)' 'file format pei-i386' '^Subsystem\s+00000002\s+\(Windows GUI\)'
  fi

  # Only libraries every Windows has: nothing of MinGW's runtime.
  imports=$(sed -nE 's/^\s*DLL Name: //p' <<<"$headers" | tr '[:lower:]' '[:upper:]')
  foreign=$(grep -vxE 'KERNEL32\.DLL|USER32\.DLL|GDI32\.DLL|ADVAPI32\.DLL|COMCTL32\.DLL|MSVCRT\.DLL' <<<"$imports")
  if [[ -n $imports && -z $foreign ]]; then
    pass "the $bits-bit .scr imports only system libraries (${imports//$'\n'/ })"
  else
    fail "the $bits-bit .scr imports only system libraries" "$imports"
  fi
  if "$triple-objdump" -h "$scr" | grep -q '\.debug'; then
    fail "the packaged $bits-bit .scr is stripped" "$("$triple-objdump" -h "$scr" | grep '\.debug')"
  else
    pass "the packaged $bits-bit .scr is stripped"
  fi

  # The resources as the system sees them, read back out of the .scr.
  if resources=$("$triple-windres" -J coff -i "$scr" -O rc 2>&1); then
    expect_all "the $bits-bit .scr carries its manifest, version resource and icon" "$resources" \
      '^1 24 ' '^1 VERSIONINFO' 'VALUE "FileVersion", "'"${VERSION//./\\.}" '^139 14 ' '^1 3 '
    # The manifest's text: windres writes it as rc strings.
    manifest=$(awk '/^1 24 /{inside=1; next} inside && /^END/{exit} inside && /^  "/' <<<"$resources" |
      sed -E 's/^  "//; s/"$//; s/""/"/g; s/\\n$//')
    # The committed manifest is the 32-bit program's; the 64-bit one differs
    # in the processor it names and nowhere else.
    same_text "the manifest in the $bits-bit .scr is resources/saver.manifest for $arch" \
      "$(sed -E '0,/processorArchitecture="x86"/s//processorArchitecture="'"$arch"'"/' "$VANTREL_ROOT/resources/saver.manifest")" \
      "$manifest"
    expect_all "the manifest: Vista to 11, asInvoker, per-monitor DPI with fallback, common controls 6" "$manifest" \
      'e2011457-1546-43c5-a5fe-008deee3d3f0' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' 'level="asInvoker"' \
      '>PerMonitorV2' '>true/pm<' 'Microsoft\.Windows\.Common-Controls" version="6\.0\.0\.0"' \
      'name="Kestrelix\.VantrelSaver" version="[0-9.]+" processorArchitecture="'"$arch"'"'
  else
    fail "windres reads the $bits-bit .scr's resources" "$resources"
  fi
}

check_zip "$WIN_TREE" 32 i686-w64-mingw32 x86
check_zip "$WIN64_TREE" 64 x86_64-w64-mingw32 amd64

report_summary
