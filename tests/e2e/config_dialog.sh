#!/usr/bin/env bash
# The configuration dialog as a person uses it: /c shows it (a screenshot is
# kept), Enter stores what it shows as five DWORDs, values that were out of
# range, of another type or too long come back clamped, and Escape stores
# nothing.
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
e2e_begin

KEY='HKCU\SOFTWARE\Kestrelix\VantrelScreenSaver'
ARTEFACTS=${VANTREL_ARTEFACTS:-$VANTREL_ROOT/out/test-artefacts}
mkdir -p "$ARTEFACTS"

dialog_window() { xdotool search --name '^Dialog$' 2>/dev/null | head -n1; }
dialog_shown() { [[ -n $(dialog_window) ]]; }

# Starts /c as ID and waits for its dialog; the pointer goes inside it so the
# keys we type reach it even without a window manager.
open_dialog() {
  local id=$1
  saver_start "$id" /c
  _dialog_or_end() { dialog_shown || bg_done "$id"; }
  wait_until "$E2E_APPEAR_TIMEOUT" _dialog_or_end && bg_running "$id" || return 1
  local geometry x y w h
  geometry=$(xdotool getwindowgeometry --shell "$(dialog_window)" 2>/dev/null)
  x=$(sed -n 's/^X=//p' <<<"$geometry"); y=$(sed -n 's/^Y=//p' <<<"$geometry")
  w=$(sed -n 's/^WIDTH=//p' <<<"$geometry"); h=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  pointer_to $((x + w / 2)) $((y + h - 10))
}

# press_and_expect KEY ID WANT NAME: presses KEY and expects the run to end
# with status WANT.
press_and_expect() { key_ends_run "$1" "$2" "$3" "$4" "$E2E_EXIT_TIMEOUT"; }

# stored NAME: "TYPE VALUE" of one value under the key, or "absent".
stored() {
  local line
  line=$(wine reg query "$KEY" /v "$1" 2>/dev/null | tr -d '\r' | awk -v name="$1" '$1 == name { print $2, $3 }')
  echo "${line:-absent}"
}

expect_stored() {
  local name=$1; shift
  local problems=() setting want got
  for setting in "$@"; do
    want=${setting#*=}
    got=$(stored "${setting%%=*}")
    [[ $got == "$want" ]] || problems+=("${setting%%=*}: want '$want', got '$got'")
  done
  if ((${#problems[@]} == 0)); then pass "$name"; else fail "$name" "${problems[@]}"; fi
}

# --- with no key, the defaults: Enter stores them --------------------------------
wine reg delete "$KEY" /f >/dev/null 2>&1

if open_dialog first; then
  pass "/c shows the configuration dialog"
  import -window root "$ARTEFACTS/config-dialog.png" 2>/dev/null
  colours=$(convert "$ARTEFACTS/config-dialog.png" -unique-colors -depth 8 txt:- 2>/dev/null | grep -c '^[0-9]')
  if ((colours > 16)); then
    pass "the dialog shows its picture and controls (screenshot in $ARTEFACTS)"
  else
    fail "the dialog shows its picture and controls" "only $colours colours on the screen"
  fi
  press_and_expect Return first 1 "Enter ends the dialog with 1"
  expect_stored "Enter stores the shown defaults as five DWORDs" \
    "BombCount=REG_DWORD 0x32" "BombSpeed=REG_DWORD 0x32" "ScreenDelay=REG_DWORD 0x19" \
    "BombsOnly=REG_DWORD 0x0" "BombBackdrop=REG_DWORD 0x1"
else
  fail "/c shows the configuration dialog" "$(describe first)"
fi

# --- odd stored values come back clamped -----------------------------------------
wine reg delete "$KEY" /f >/dev/null 2>&1
wine_reg add "$KEY" /v BombCount /t REG_DWORD /d 500 /f &&
  wine_reg add "$KEY" /v BombSpeed /t REG_SZ /d 7 /f &&
  wine_reg add "$KEY" /v ScreenDelay /t REG_BINARY /d 0102030405060708 /f &&
  wine_reg add "$KEY" /v BombsOnly /t REG_DWORD /d 5 /f &&
  wine_reg add "$KEY" /v BombBackdrop /t REG_DWORD /d 4294967295 /f ||
  fail "setup: odd values written with wine reg" "$WINE_REG_ERROR"

if open_dialog second; then
  press_and_expect Return second 1 "Enter over stored odd values ends with 1"
  # "7" as text is the bytes 37 00: 55. Eight bytes do not fit and leave the
  # default; -1 lifts to the lowest value.
  expect_stored "stored values come back clamped, all as DWORDs" \
    "BombCount=REG_DWORD 0xc8" "BombSpeed=REG_DWORD 0x37" "ScreenDelay=REG_DWORD 0x19" \
    "BombsOnly=REG_DWORD 0x1" "BombBackdrop=REG_DWORD 0x0"
else
  fail "/c shows the dialog over stored odd values" "$(describe second)"
fi

# --- Escape stores nothing ----------------------------------------------------------
wine reg delete "$KEY" /f >/dev/null 2>&1
wine_reg add "$KEY" /v BombCount /t REG_DWORD /d 500 /f ||
  fail "setup: BombCount 500 written with wine reg" "$WINE_REG_ERROR"

if open_dialog third; then
  press_and_expect Escape third 0 "Escape ends the dialog with 0"
  expect_stored "Escape stores nothing" \
    "BombCount=REG_DWORD 0x1f4" "BombSpeed=absent" "ScreenDelay=absent" "BombsOnly=absent" "BombBackdrop=absent"
else
  fail "/c shows the dialog before Escape" "$(describe third)"
fi

wine reg delete "$KEY" /f >/dev/null 2>&1
report_summary
