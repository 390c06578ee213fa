#!/usr/bin/env bash
# The configuration dialog of the native program on an X server, used as a
# person uses it: /c shows it (a screenshot is kept), a slider dragged with
# the mouse and a number typed into a box reach the registry file through
# OK, Escape after an edit that shows on the dialog leaves the file as it
# was, and Alt+A opens the About box over the dialog, which stays open
# under it and takes no clicks. No window manager runs, so the dialog must
# take the keyboard itself: the pointer is kept off it while keys are typed.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

ARTEFACTS=${VANTREL_ARTEFACTS:-$VANTREL_ROOT/out/test-artefacts}
mkdir -p "$ARTEFACTS"

# The template's font has base units of 6 by 13 pixels; a control's place in
# dialog units becomes pixels from the dialog's client origin like this.
du_x() { echo $((($1 * 6 + 2) / 4)); }
du_y() { echo $((($1 * 13 + 4) / 8)); }

# The topmost shown window titled TITLE, or nothing.
titled_window() {
  local id
  for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    [[ $(field "$(xprobe info "$id")" viewable) == 1 ]] && { echo "$id"; return 0; }
  done
  return 1
}
dialog_window() { titled_window Dialog; }
about_window() { titled_window 'About Vantrel Screen Saver'; }
about_shown() { [[ -n $(about_window) ]]; }
about_gone() { [[ -z $(about_window) ]]; }

DIALOG= DIALOG_X= DIALOG_Y=
# Starts /c as ID and waits for its dialog; its window and client origin on
# the screen are left in DIALOG, DIALOG_X and DIALOG_Y. The pointer is then
# parked in a corner away from it.
open_dialog() {
  local id=$1
  DIALOG=
  saver_start "$id" /c
  _dialog_or_end() { [[ -n $(dialog_window) ]] || bg_done "$id"; }
  wait_until "$NATIVE_APPEAR_TIMEOUT" _dialog_or_end && bg_running "$id" || return 1
  DIALOG=$(dialog_window)
  local info
  info=$(xprobe info "$DIALOG") || return 1
  DIALOG_X=$(field "$info" x)
  DIALOG_Y=$(field "$info" y)
  park_pointer
}
park_pointer() { pointer_to 1020 760; }

# What the dialog shows, read from its pixels: the edit made before Escape
# must be seen to have reached it, or lost keys would pass as "nothing
# stored". DIALOG_SHOT is a fresh screenshot of the dialog's window.
DIALOG_SHOT=
dialog_shot() {
  DIALOG_SHOT=$NATIVE_TMP/dialog-now.ppm
  xprobe shot "$DIALOG" "$DIALOG_SHOT" 2>/dev/null
}
# A dialog drawn for the first time may still be painting its controls.
dialog_drawn() {
  dialog_shot && (($(convert "$DIALOG_SHOT" -unique-colors -depth 8 txt:- 2>/dev/null | grep -c '^[0-9]') > 16))
}
# black_in FILE WxH+X+Y: the black pixels in that part of FILE.
black_in() {
  convert "$1" -crop "$2" +repage -format %c histogram:info:- 2>/dev/null |
    awk '/#000000/ { n += $1 } END { print n + 0 }'
}
# "Bombs Only" at 176,22 72x16 has its 13-pixel square centred on its
# height, a sunken edge of 2 around a white field; its tick is 21 black
# pixels in that field.
BOMBS_ONLY_FIELD="9x9+$(($(du_x 176) + 2))+$(($(du_y 22) + ($(du_y 16) - 13) / 2 + 2))"
bombs_only_ticked() { dialog_shot && [[ $(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") == 21 ]]; }
# The Max Bomb Count box (43,68 20x15), which shows its slider's position.
COUNT_BOX="$(du_x 20)x$(du_y 15)+$(du_x 43)+$(du_y 68)"
count_box() { convert "$DIALOG_SHOT" -crop "$COUNT_BOX" +repage "$1" 2>/dev/null; }

# press_and_expect KEY ID WANT NAME: presses KEY and expects the run to end
# with status WANT.
press_and_expect() { key_ends_run "$1" "$2" "$3" "$4" "$NATIVE_EXIT_TIMEOUT"; }

# The stored value line of one setting, or "absent".
stored() {
  local line
  line=$(grep -s "^\"$1\"=" "$VANTREL_REGISTRY")
  echo "${line:-absent}"
}
expect_stored() {
  local name=$1 setting=$2 want=$3 got
  got=$(stored "$setting")
  if [[ $got == "\"$setting\"=$want" ]]; then pass "$name"; else fail "$name" "want $want, got $got"; fi
}

# --- /c shows the dialog with its controls; OK ends it with 1 ---------------------
rm -f "$VANTREL_REGISTRY"
if open_dialog shown; then
  pass "/c shows the configuration dialog"
  if wait_until "$NATIVE_APPEAR_TIMEOUT" dialog_drawn; then
    convert "$DIALOG_SHOT" "$ARTEFACTS/native-config-dialog.png" 2>/dev/null
    pass "the dialog shows its picture and controls (screenshot in $ARTEFACTS)"
  else
    [[ -f $DIALOG_SHOT ]] && convert "$DIALOG_SHOT" "$ARTEFACTS/native-config-dialog.png" 2>/dev/null
    fail "the dialog shows its picture and controls" "few colours in its window"
  fi
  if [[ $(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") == 0 ]]; then
    pass "Bombs Only shows no tick while it is off"
  else
    fail "Bombs Only shows no tick while it is off" "$(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") black pixels in its field"
  fi
  info=$(xprobe info "$DIALOG")
  if [[ $(field "$info" w) == "$(du_x 291)" && $(field "$info" h) == "$(du_y 219)" ]]; then
    pass "the dialog's window is its client area, laid out in the font's base units"
  else
    fail "the dialog's window is its client area" "$info"
  fi
  props=$(xprop -id "$DIALOG" WM_CLASS _NET_WM_WINDOW_TYPE WM_PROTOCOLS WM_NORMAL_HINTS 2>/dev/null)
  if grep -q '"vantrel-saver", "VantrelSaver"' <<<"$props" &&
    grep -q '_NET_WM_WINDOW_TYPE_DIALOG' <<<"$props" && grep -q 'WM_DELETE_WINDOW' <<<"$props" &&
    grep -q 'program specified minimum size' <<<"$props" && grep -q 'program specified maximum size' <<<"$props"; then
    pass "a window manager is told it is a fixed-size dialog that closes by request"
  else
    fail "a window manager is told it is a fixed-size dialog that closes by request" "$props"
  fi
  press_and_expect Return shown 1 "Enter ends the dialog with 1"
  expect_stored "Enter stores the defaults it showed" BombCount dword:00000032
else
  fail "/c shows the configuration dialog" "$(describe shown)"
fi

# --- a slider dragged with the mouse -------------------------------------------------
# The top slider (BombCount, 1..200) at 68,66 105x18 has a sunken edge of 2
# pixels; at position 1 its thumb (11 wide, 23 high) starts 8 pixels into
# the client area, 2 down.
set_settings BombCount=1
if open_dialog drag; then
  sx=$((DIALOG_X + $(du_x 68) + 2)) sy=$((DIALOG_Y + $(du_y 66) + 2))
  thumb_x=$((sx + 8 + 5)) thumb_y=$((sy + 2 + 11))
  pointer_to "$thumb_x" "$thumb_y" &&
    xdotool mousedown 1 &&
    pointer_to $((thumb_x + 40)) "$thumb_y" &&
    pointer_to $((thumb_x + 120)) $((thumb_y + 5)) &&
    pointer_to $((sx + 400)) "$thumb_y" &&
    xdotool mouseup 1
  park_pointer
  press_and_expect Return drag 1 "OK after the drag ends the dialog with 1"
  expect_stored "the slider dragged to its right end stores 200 through its box" BombCount dword:000000c8
else
  fail "/c shows the dialog for a drag" "$(describe drag)"
fi

# --- a number typed into a box -------------------------------------------------------
# Box 1053 at 43,68 20x15 shows BombCount. Enter in it presses OK.
set_settings BombCount=1
if open_dialog typed; then
  pointer_to $((DIALOG_X + $(du_x 43) + $(du_x 20) / 2)) $((DIALOG_Y + $(du_y 68) + $(du_y 15) / 2)) &&
    xdotool click 1
  park_pointer
  xdotool key End BackSpace BackSpace BackSpace BackSpace
  xdotool type --delay 50 250
  press_and_expect Return typed 1 "Enter in the number box ends the dialog with 1"
  expect_stored "250 typed into the box is stored as the highest count, 200" BombCount dword:000000c8
else
  fail "/c shows the dialog for typing" "$(describe typed)"
fi

# --- Escape stores nothing -----------------------------------------------------------
# Two things changed first, so there is something to store: from OK, three
# Shift+Tabs back (past Bombs Only and Bomb backdrop) reach the Max Bomb
# Count slider, which two Rights move on (its box shows the new count);
# Alt+B ticks Bombs Only. Both must show before Escape is pressed.
set_settings BombCount=7 BombSpeed=9
cp "$VANTREL_REGISTRY" "$NATIVE_TMP/before.reg"
if open_dialog escape; then
  edited=0
  if wait_until "$NATIVE_APPEAR_TIMEOUT" dialog_drawn && count_box "$NATIVE_TMP/box-before.ppm"; then
    xdotool key shift+Tab shift+Tab shift+Tab Right Right alt+b
    ticked=no recounted=no
    _edit_shown() {
      ticked=no recounted=no
      bombs_only_ticked && ticked=yes
      count_box "$NATIVE_TMP/box-now.ppm" && ! cmp -s "$NATIVE_TMP/box-before.ppm" "$NATIVE_TMP/box-now.ppm" &&
        recounted=yes
      [[ $ticked == yes && $recounted == yes ]]
    }
    if wait_until "$NATIVE_APPEAR_TIMEOUT" _edit_shown && bg_running escape; then
      edited=1
      pass "before Escape the dialog shows the edit: Bombs Only ticked, a new count in its box"
    else
      fail "before Escape the dialog shows the edit: Bombs Only ticked, a new count in its box" \
        "Bombs Only ticked: $ticked ($(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") black pixels in its field, a tick is 21)" \
        "a new count in the box: $recounted" "$(describe escape)"
    fi
  else
    fail "before Escape the dialog shows the edit" "the dialog was never drawn" "$(describe escape)"
  fi
  escaped=0
  press_and_expect Escape escape 0 "Escape ends the dialog with 0" && escaped=1
  if ((!edited || !escaped)); then
    fail "Escape leaves the registry file as it was, byte for byte" \
      "nothing to judge: the edit seen $edited, ended by Escape $escaped"
  elif cmp -s "$NATIVE_TMP/before.reg" "$VANTREL_REGISTRY"; then
    pass "Escape leaves the registry file as it was, byte for byte"
  else
    fail "Escape leaves the registry file as it was" "$(diff "$NATIVE_TMP/before.reg" "$VANTREL_REGISTRY")"
  fi
else
  fail "/c shows the dialog before Escape" "$(describe escape)"
fi

rm -f "$VANTREL_REGISTRY"
if open_dialog escape_none; then
  if ! press_and_expect Escape escape_none 0 "Escape with no settings stored ends with 0"; then
    fail "Escape makes no registry file" "nothing to judge: Escape did not end the dialog"
  elif [[ -e $VANTREL_REGISTRY ]]; then
    fail "Escape makes no registry file" "$(cat "$VANTREL_REGISTRY")"
  else
    pass "Escape makes no registry file"
  fi
else
  fail "/c shows the dialog with no settings" "$(describe escape_none)"
fi

# --- the About box over the dialog ---------------------------------------------------
# What happened on the way, for the verdict on what was stored.
about_seen=0 edited=0 escaped=0
rm -f "$VANTREL_REGISTRY"
if open_dialog about; then
  xdotool key alt+a
  if wait_until "$NATIVE_APPEAR_TIMEOUT" about_shown; then
    about_seen=1
    pass "Alt+A opens the About box"
    about=$(about_window)
    transient=$(xprop -id "$about" WM_TRANSIENT_FOR 2>/dev/null)
    if [[ $transient == *"window id # $(printf '0x%x' "$DIALOG")"* ]]; then
      pass "the About box is marked as standing over the dialog"
    else
      fail "the About box is marked as standing over the dialog" "$transient (dialog $DIALOG)"
    fi
    # The dialog is disabled under the About box: a click on it does
    # nothing. The click goes to the part of Bombs Only that the About box
    # leaves uncovered (with no window manager both stand at the screen's
    # corner, and the About box hides most of the dialog). Had the click
    # ticked it, Alt+B below would take the tick away; had it closed the
    # About box, Enter would press OK. The X server hands the click over
    # before Enter, and Enter before Alt+B, so a tick that shows after them
    # all is seen only if the click was handled and did nothing.
    about_info=$(xprobe info "$about")
    ax=$(field "$about_info" x) ay=$(field "$about_info" y)
    aw=$(field "$about_info" w) ah=$(field "$about_info" h)
    click_x= click_y=$((DIALOG_Y + $(du_y 22) + $(du_y 16) / 2))
    for ((x = DIALOG_X + $(du_x 176) + $(du_x 72) - 3; x > DIALOG_X + $(du_x 176); x -= 4)); do
      if ((x < ax || x >= ax + aw || click_y < ay || click_y >= ay + ah)); then click_x=$x; break; fi
    done
    if [[ -n $click_x ]]; then
      pointer_to "$click_x" "$click_y" && xdotool click 1
    else
      fail "a click on the dialog under the About box does nothing" \
        "the About box ($about_info) covers all of Bombs Only: nowhere to click"
    fi
    park_pointer
    xdotool key Return
    if wait_until "$NATIVE_EXIT_TIMEOUT" about_gone && bg_running about && [[ -n $(dialog_window) ]]; then
      pass "Enter closes the About box and the dialog stays"
    else
      fail "Enter closes the About box and the dialog stays" "$(describe about)"
    fi
    xdotool key alt+b
    if [[ -n $click_x ]] && wait_until "$NATIVE_APPEAR_TIMEOUT" bombs_only_ticked && bg_running about; then
      edited=1
      pass "a click on the dialog under the About box does nothing: the dialog then takes Alt+B"
    else
      fail "a click on the dialog under the About box does nothing: the dialog then takes Alt+B" \
        "black pixels in Bombs Only's field: $(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") (a tick is 21)" \
        "$(describe about)"
    fi
    press_and_expect Escape about 0 "Escape then ends the dialog with 0" && escaped=1
  else
    fail "Alt+A opens the About box" "$(describe about)"
  fi
else
  fail "/c shows the dialog before Alt+A" "$(describe about)"
fi
bg_kill about
if ((!about_seen || !edited || !escaped)); then
  fail "the About box and Escape store nothing" \
    "nothing to judge: About box shown $about_seen, Bombs Only ticked $edited, ended by Escape $escaped"
elif [[ -e $VANTREL_REGISTRY ]]; then
  fail "the About box and Escape store nothing" "$(cat "$VANTREL_REGISTRY")"
else
  pass "the About box and Escape store nothing"
fi

# --- a SIGTERM while OK saves ----------------------------------------------------------
# fsync slowed down to 3 s, so that each save of a value holds its temporary
# file for a while: a first SIGTERM asks the run to end; a second one, the
# system's again, must still wait for the save under way to rename its file.
temporaries() { compgen -G "$VANTREL_REGISTRY.??????"; }
if ! command -v strace >/dev/null; then
  printf 'SKIP  a second SIGTERM while OK saves leaves no temporary file (no strace)\n'
else
  set_settings BombCount=7
  bg_start slow strace -f -qq -o "$NATIVE_TMP/strace.log" -e trace=fsync -e inject=fsync:delay_enter=3000000 \
    "$VANTREL_SAVER" /c
  _slow_dialog() { [[ -n $(dialog_window) ]] || bg_done slow; }
  if wait_until "$NATIVE_APPEAR_TIMEOUT" _slow_dialog && bg_running slow; then
    park_pointer
    xdotool key Return
    saver=$(pgrep -P "$(saver_pid slow)" | head -n1)
    first=
    _saving() { first=$(temporaries | head -n1) && [[ -n $first ]]; }
    _took_first() { grep -q -- '--- SIGTERM' "$NATIVE_TMP/strace.log"; }
    _saving_another() { temporaries | grep -qvx -- "$first"; }
    if wait_until "$NATIVE_EXIT_TIMEOUT" _saving && kill -TERM "$saver" &&
      wait_until "$NATIVE_EXIT_TIMEOUT" _took_first && wait_until "$NATIVE_EXIT_TIMEOUT" _saving_another &&
      kill -TERM "$saver" && bg_wait slow 60; then
      left=$(temporaries)
      if [[ -z $left && $(head -n1 "$VANTREL_REGISTRY") == REGEDIT4 && $(stored BombCount) == '"BombCount"=dword:00000007' ]]; then
        pass "a second SIGTERM while OK saves ends the run once the save is done, no temporary file left"
      else
        fail "a second SIGTERM while OK saves leaves no temporary file" "left: $left" "$(cat "$VANTREL_REGISTRY")"
      fi
    else
      fail "a save under way sees both SIGTERMs and the run ends" "$(describe slow)" "$(cat "$NATIVE_TMP/strace.log")"
    fi
  else
    fail "/c under strace shows the dialog" "$(describe slow)"
  fi
  bg_kill slow
fi

report_summary
