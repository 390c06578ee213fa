#!/usr/bin/env bash
# Settings carried between Wine's regedit and the native vantrel-saver, as a
# user moving from Windows would carry them. An export of regedit (UTF-16
# "5.00") placed as the native registry file is read by the native /c
# dialog, whose OK keeps every value; the file it then writes is still
# regedit's kind and imports back with the values intact. The other way, a
# file the native saver made imports into regedit.
#
# Runs in the Wine session (its display and prefix); the native program is
# the one built beside the Windows one (build/vantrel-saver).
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
e2e_begin

NATIVE_SAVER=${VANTREL_SAVER:-$VANTREL_ROOT/build/vantrel-saver}
[[ -x $NATIVE_SAVER ]] || { fail "setup: $NATIVE_SAVER exists" "build it: ./setup.sh native"; report_summary; exit 1; }

KEY='HKEY_CURRENT_USER\Software\Kestrelix\VantrelScreenSaver'
export VANTREL_REGISTRY=$E2E_TMP/registry.reg

# --- helpers ---------------------------------------------------------------------

# regedit_import FILE / regedit_export FILE: Wine's regedit, silently.
regedit_import() { timeout -k 5 60 wine regedit /S "$(winepath -w "$1" 2>/dev/null)" >/dev/null 2>&1; }
regedit_export() {
  rm -f "$1"
  timeout -k 5 60 wine regedit /E "$(winepath -w "$1" 2>/dev/null)" "$KEY" >/dev/null 2>&1 && [[ -s $1 ]]
}
forget_key() { wine reg delete "$KEY" /f >/dev/null 2>&1; }

# The text of a UTF-16LE file with its mark, as UTF-8 with LF line ends;
# fails unless every byte decodes (iconv refuses a broken surrogate or an odd
# last byte).
utf16_text() {
  [[ $(head -c 2 "$1" | od -An -tx1 | tr -d ' ') == fffe ]] || return 1
  tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'
}

# The key's values as `wine reg query` lists them. A listing without the
# key's own line is a `wine` that did not get as far as asking (it happens
# now and then under load), not an empty key: it is asked for again.
listed() {
  local out try
  for try in 1 2 3; do
    out=$(wine reg query "$KEY" 2>/dev/null | tr -d '\r')
    if grep -qiF "${KEY##*\\}" <<<"$out"; then
      printf '%s\n' "$out"
      return 0
    fi
    sleep 1
  done
  return 1
}
# expect_queried NAME VALUE=TYPE DATA...: each value as the listing shows it
# ("absent" when it is not there).
expect_queried() {
  local name=$1; shift
  local listing problems=() setting want got
  if ! listing=$(listed); then
    fail "$name" "wine reg query did not list $KEY in three tries"
    return
  fi
  for setting in "$@"; do
    want=${setting#*=}
    got=$(awk -v name="${setting%%=*}" '$1 == name { $1 = ""; sub(/^ +/, ""); print }' <<<"$listing")
    [[ ${got:-absent} == "$want" ]] || problems+=("${setting%%=*}: want '$want', got '${got:-absent}'")
  done
  if ((${#problems[@]} == 0)); then pass "$name"; else fail "$name" "${problems[@]}"; fi
}

# native_ok ID NAME: opens the native configuration dialog on this display
# and presses Enter (OK), which must end it with 1. No window manager runs:
# the dialog takes the keyboard itself while the pointer is kept off it.
native_dialog() { xdotool search --onlyvisible --name '^Dialog$' 2>/dev/null | head -n1; }
native_ok() {
  local id=$1 name=$2
  bg_start "$id" env VANTREL_BACKEND=x11 DISPLAY="$DISPLAY" "$NATIVE_SAVER" /c
  _native_dialog_or_end() { [[ -n $(native_dialog) ]] || bg_done "$id"; }
  if ! wait_until "$E2E_APPEAR_TIMEOUT" _native_dialog_or_end || bg_done "$id"; then
    fail "$name: the native dialog opens" "exit status: $(bg_rc "$id")" "output: $(bg_output "$id")"
    bg_kill "$id"
    return 1
  fi
  pointer_to 1020 760
  xdotool key Return
  if bg_wait "$id" "$E2E_EXIT_TIMEOUT" && [[ $(bg_rc "$id") == 1 ]]; then
    pass "$name: the native dialog opens and OK ends it with 1"
  else
    fail "$name: the native dialog opens and OK ends it with 1" "exit status: $(bg_rc "$id")" \
      "output: $(bg_output "$id")"
    bg_kill "$id"
    return 1
  fi
}

# --- regedit's export read by the native saver, and imported back ---------------
# Settings set in Wine, with a few values of other types (one of them text
# that the ANSI code page lacks) that the saver must leave as they were.
forget_key
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n' "$KEY"
  printf '"BombCount"=dword:0000007b\r\n"BombSpeed"=dword:0000004d\r\n"ScreenDelay"=dword:00000009\r\n'
  printf '"BombsOnly"=dword:00000001\r\n"BombBackdrop"=dword:00000000\r\n'
  printf '"Note"="\xc5\x9cnow \xe2\x98\x83 caf\xc3\xa9 \\"quoted\\" C:\\\\dir"\r\n'
  printf '"Path"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,03,26,00,00\r\n'
  printf '"List"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"Blob"=hex:00,01,fe,ff\r\n'
  printf '"Big"=hex(b):01,02,03,04,05,06,07,08\r\n\r\n'
} >"$E2E_TMP/setup.txt"
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$E2E_TMP/setup.txt"; } >"$E2E_TMP/setup.reg"
regedit_import "$E2E_TMP/setup.reg" || fail "setup: values imported into Wine's registry"

if regedit_export "$E2E_TMP/export.reg" && utf16_text "$E2E_TMP/export.reg" >"$E2E_TMP/export.txt" &&
  [[ $(head -n1 "$E2E_TMP/export.txt") == *'Windows Registry Editor Version 5.00' ]]; then
  pass "regedit /E writes a UTF-16 5.00 file"
else
  fail "regedit /E writes a UTF-16 5.00 file" "$(head -c 200 "$E2E_TMP/export.reg" | od -c | head -n 5)"
fi

cp "$E2E_TMP/export.reg" "$VANTREL_REGISTRY"
if native_ok export "regedit's export as the native file"; then
  # OK stores what the dialog showed: the exported numbers, not defaults.
  if saved=$(utf16_text "$VANTREL_REGISTRY") && [[ $(head -n1 <<<"$saved") == *'Windows Registry Editor Version 5.00' ]]; then
    pass "the saved file is still UTF-16 5.00, every byte of it"
  else
    fail "the saved file is still UTF-16 5.00, every byte of it" "$(od -c "$VANTREL_REGISTRY" | head -n 8)"
  fi
  if [[ $(tail -c +3 "$VANTREL_REGISTRY" | iconv -f UTF-16LE -t UTF-8 | tr -cd '\n' | wc -c) == \
    $(tail -c +3 "$VANTREL_REGISTRY" | iconv -f UTF-16LE -t UTF-8 | grep -c $'\r$') ]]; then
    pass "every line of the saved file ends in CR LF"
  else
    fail "every line of the saved file ends in CR LF"
  fi
  if diff <(grep '^"' "$E2E_TMP/export.txt") <(utf16_text "$VANTREL_REGISTRY" | grep '^"') >"$E2E_TMP/diff.txt"; then
    pass "OK keeps every value line of the export as regedit wrote it (BombCount 123 stays 123)"
  else
    fail "OK keeps every value line of the export as regedit wrote it" "$(cat "$E2E_TMP/diff.txt")"
  fi

  forget_key
  if regedit_import "$VANTREL_REGISTRY"; then
    pass "regedit /S imports the file the saver wrote"
  else
    fail "regedit /S imports the file the saver wrote"
  fi
  expect_queried "the imported settings are the exported ones" \
    "BombCount=REG_DWORD 0x7b" "BombSpeed=REG_DWORD 0x4d" "ScreenDelay=REG_DWORD 0x9" \
    "BombsOnly=REG_DWORD 0x1" "BombBackdrop=REG_DWORD 0x0" "Blob=REG_BINARY 0001FEFF"
  if regedit_export "$E2E_TMP/again.reg" && cmp -s "$E2E_TMP/export.reg" "$E2E_TMP/again.reg"; then
    pass "exported again, every value is byte for byte what it was, Unicode text included"
  else
    fail "exported again, every value is byte for byte what it was" \
      "$(diff <(utf16_text "$E2E_TMP/export.reg") <(utf16_text "$E2E_TMP/again.reg"))"
  fi
fi

# --- a native file imported into regedit -------------------------------------------
# Settings the native dialog stores in a new file (REGEDIT4, as the saver
# makes them), with a string and expanding text in the ANSI code page.
forget_key
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Kestrelix\\VantrelScreenSaver]\n"BombCount"=dword:00000007\n"BombSpeed"=dword:00000063\n"Text"="a\\\\b \\"q\\""\n"Path"=hex(2):25,54,45,4d,50,25,5c,78,00\n' \
  >"$VANTREL_REGISTRY"
if native_ok native "a native REGEDIT4 file"; then
  if [[ $(head -n1 "$VANTREL_REGISTRY") == REGEDIT4 ]] && ! grep -q $'\r' "$VANTREL_REGISTRY"; then
    pass "the native file stays REGEDIT4 with LF line ends"
  else
    fail "the native file stays REGEDIT4 with LF line ends" "$(head -n 3 "$VANTREL_REGISTRY" | od -c | head -n 4)"
  fi
  if regedit_import "$VANTREL_REGISTRY"; then
    pass "regedit /S imports the native file"
  else
    fail "regedit /S imports the native file"
  fi
  expect_queried "the native file's values are in Wine's registry" \
    "BombCount=REG_DWORD 0x7" "BombSpeed=REG_DWORD 0x63" "ScreenDelay=REG_DWORD 0x19" \
    "BombsOnly=REG_DWORD 0x0" "BombBackdrop=REG_DWORD 0x1" 'Text=REG_SZ a\b "q"' 'Path=REG_EXPAND_SZ %TEMP%\x'
fi

forget_key
report_summary
