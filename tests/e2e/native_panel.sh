#!/usr/bin/env bash
# The Screen Saver Settings panel (vantrel-saver --panel) on an X server,
# used as a person uses it: the live preview runs as a /p child inside the
# monitor picture's screen and draws nowhere else; Wait and the check box go
# to the registry file as strings on OK and come back on the next opening;
# Cancel stores nothing; Apply is greyed until something changes; Preview
# runs a full-screen saver that a key ends with the panel still there;
# Settings... opens the configuration dialog; turned on, the panel starts
# the watcher, which ends itself once turned off; and closing the panel
# leaves no saver process of its behind. The lock box is greyed with its
# reason where no login manager answers, and stores a DWORD beside one that
# locks. A screenshot of the panel is kept.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/logind.sh
source "$(dirname "$0")/../lib/logind.sh"
native_begin

ARTEFACTS=${VANTREL_ARTEFACTS:-$VANTREL_ROOT/out/test-artefacts}
mkdir -p "$ARTEFACTS"

# The template's font has base units of 6 by 13 pixels.
du_x() { echo $((($1 * 6 + 2) / 4)); }
du_y() { echo $((($1 * 13 + 4) / 8)); }

# The monitor picture (65,7 120x104) and its screen: a bezel of 9 pixels
# round it, the body being the picture's top four fifths.
MONITOR_X=$(du_x 65) MONITOR_Y=$(du_y 7) MONITOR_W=$(du_x 120) MONITOR_H=$(du_y 104)
SCREEN_X=$((MONITOR_X + 9)) SCREEN_Y=$((MONITOR_Y + 9))
SCREEN_W=$((MONITOR_W - 18)) SCREEN_H=$((MONITOR_H * 4 / 5 - 18))

titled_window() {
  local id
  for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    [[ $(field "$(xprobe info "$id")" viewable) == 1 ]] && { echo "$id"; return 0; }
  done
  return 1
}
panel_window() { titled_window 'Screen Saver Settings'; }
config_window() { titled_window Dialog; }
no_config_window() { [[ -z $(config_window) ]]; }

# Our saver processes: the panel's children and the watcher it may start.
saver_children() { pgrep -f -x -- "$VANTREL_SAVER /[psc].*" || true; }
end_watchers() {
  local pid
  for pid in $(pgrep -f -x -- "$VANTREL_SAVER --watch" || true); do kill "$pid" 2>/dev/null; done
}
no_saver_children() { [[ -z $(saver_children) ]]; }
trap 'end_watchers; logind_end; native_end' EXIT
# No system bus unless a case brings one: what this machine runs has no say.
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent
unset SWAYSOCK XDG_CURRENT_DESKTOP

DIALOG='' DIALOG_X='' DIALOG_Y='' PANEL_PID=''
open_panel() {
  local id=$1
  DIALOG=
  bg_start "$id" "$VANTREL_SAVER" --panel
  PANEL_PID=$(saver_pid "$id")
  _panel_or_end() { [[ -n $(panel_window) ]] || bg_done "$id"; }
  wait_until "$NATIVE_APPEAR_TIMEOUT" _panel_or_end && bg_running "$id" || return 1
  DIALOG=$(panel_window)
  local info
  info=$(xprobe info "$DIALOG") || return 1
  DIALOG_X=$(field "$info" x)
  DIALOG_Y=$(field "$info" y)
  pointer_to 1020 760
}
# click DU-X DU-Y DU-W DU-H [stay]: a click in the middle of a control; the
# pointer is then parked away from the panel, unless told to stay (a saver
# just started would take the move for input and close).
click() {
  pointer_to $((DIALOG_X + $(du_x "$1") + $(du_x "$3") / 2)) $((DIALOG_Y + $(du_y "$2") + $(du_y "$4") / 2))
  xdotool click 1
  [[ ${5:-} == stay ]] && return 0
  sleep 0.2
  pointer_to 1020 760
}
click_ok() { click 82 243 50 14; }
click_cancel() { click 137 243 50 14; }
click_apply() { click 192 243 50 14; }
click_lock() { click 16 197 12 12; }
click_active() { click 16 153 12 12; }
click_settings() { click 128 129 54 14; }
click_preview() { click 186 129 50 14 stay; }
# Types a new Wait: the field is emptied first.
type_wait() {
  click 40 176 32 13
  xdotool key End BackSpace BackSpace BackSpace BackSpace
  xdotool type "$1"
}

DIALOG_SHOT=
dialog_shot() {
  DIALOG_SHOT=$NATIVE_TMP/panel-now.ppm
  xprobe shot "$DIALOG" "$DIALOG_SHOT" 2>/dev/null
}
# black_in FILE WxH+X+Y: the black pixels in that part of FILE.
black_in() {
  convert "$1" -crop "$2" +repage -format %c histogram:info:- 2>/dev/null |
    awk '/#000000/ { n += $1 } END { print n + 0 }'
}
# Apply's caption: black when it can be pressed, grey and white when not.
APPLY_FACE="$(($(du_x 50) - 8))x$(($(du_y 14) - 8))+$(($(du_x 192) + 4))+$(($(du_y 243) + 4))"
apply_enabled() { dialog_shot && (($(black_in "$DIALOG_SHOT" "$APPLY_FACE") > 0)); }
apply_greyed() { dialog_shot && (($(black_in "$DIALOG_SHOT" "$APPLY_FACE") == 0)); }
# The check box's field (13 pixels, centred on the control's height, a
# sunken edge of 2): its tick is black.
ACTIVE_FIELD="9x9+$(($(du_x 16) + 2))+$(($(du_y 153) + ($(du_y 12) - 13) / 2 + 2))"
active_ticked() { dialog_shot && (($(black_in "$DIALOG_SHOT" "$ACTIVE_FIELD") > 0)); }
active_clear() { dialog_shot && (($(black_in "$DIALOG_SHOT" "$ACTIVE_FIELD") == 0)); }
# The lock box's caption, right of its field: black when it can be ticked.
LOCK_CAPTION="$(du_x 200)x$(du_y 12)+$(($(du_x 16) + 16))+$(du_y 197)"
lock_enabled() { dialog_shot && (($(black_in "$DIALOG_SHOT" "$LOCK_CAPTION") > 0)); }
lock_greyed() { dialog_shot && (($(black_in "$DIALOG_SHOT" "$LOCK_CAPTION") == 0)); }
# What the line under the lock box says (the panel's labels tell their text
# to other clients).
lock_reason() {
  xprobe texts "$DIALOG" | sed -n "s/^x=$(du_x 28) y=$(du_y 211) text=//p" | head -n1
}
WAIT_BOX="$(du_x 32)x$(du_y 13)+$(du_x 40)+$(du_y 176)"
wait_box() { dialog_shot && convert "$DIALOG_SHOT" -crop "$WAIT_BOX" +repage "$1" 2>/dev/null; }
same_picture() { [[ $(compare -metric AE "$1" "$2" null: 2>&1) == 0 ]]; }

# The preview's host (the window the panel names to its /p child).
preview_host() {
  local line
  line=$(pgrep -a -P "$PANEL_PID" 2>/dev/null | grep -- ' /p ' | head -n1)
  [[ -n $line ]] && echo "${line##* }"
}
preview_running() { [[ -n $(preview_host) ]] && [[ -n $(first_child "$(preview_host)") ]]; }

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
ends_with() {
  local id=$1 want=$2 name=$3
  if bg_wait "$id" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "$id") == "$want" ]]; then
    pass "$name"
  else
    fail "$name" "$(describe "$id")"
    bg_kill "$id"
  fi
}

# --- the preview: inside the monitor picture's screen, and nowhere else ----------
rm -f "$VANTREL_REGISTRY"
if open_panel first; then
  pass "--panel shows the Screen Saver Settings window"
  if wait_until "$NATIVE_APPEAR_TIMEOUT" preview_running; then
    host=$(preview_host)
    inner=$(first_child "$host")
    hinfo=$(xprobe info "$host")
    pinfo=$(xprobe info "$inner")
    want="x=$((DIALOG_X + SCREEN_X)) y=$((DIALOG_Y + SCREEN_Y)) w=$SCREEN_W h=$SCREEN_H"
    if [[ "x=$(field "$hinfo" x) y=$(field "$hinfo" y) w=$(field "$hinfo" w) h=$(field "$hinfo" h)" == "$want" &&
          "x=$(field "$pinfo" x) y=$(field "$pinfo" y) w=$(field "$pinfo" w) h=$(field "$pinfo" h)" == "$want" ]]; then
      pass "the /p child draws in a window that fills the monitor picture's screen"
    else
      fail "the /p child draws in a window that fills the monitor picture's screen" "want $want; host $hinfo; preview $pinfo"
    fi
    if draws_on first "$inner" 3 && [[ $(shows "$inner") == bombs ]]; then
      pass "bombs fly in the preview"
    else
      fail "bombs fly in the preview" "it shows $(shows "$inner")"
    fi
    # Two pictures of the whole panel a moment apart: with the screen
    # blacked out they are the same, so nothing is drawn outside it.
    mask="rectangle $SCREEN_X,$SCREEN_Y $((SCREEN_X + SCREEN_W - 1)),$((SCREEN_Y + SCREEN_H - 1))"
    dialog_shot && convert "$DIALOG_SHOT" -fill black -draw "$mask" "$NATIVE_TMP/outside-1.png"
    cp "$DIALOG_SHOT" "$NATIVE_TMP/whole-1.ppm"
    sleep 1
    dialog_shot && convert "$DIALOG_SHOT" -fill black -draw "$mask" "$NATIVE_TMP/outside-2.png"
    if same_picture "$NATIVE_TMP/outside-1.png" "$NATIVE_TMP/outside-2.png" &&
       ! same_picture "$NATIVE_TMP/whole-1.ppm" "$DIALOG_SHOT"; then
      pass "the panel changes inside the monitor's screen only"
    else
      fail "the panel changes inside the monitor's screen only"
    fi
    convert "$DIALOG_SHOT" "$ARTEFACTS/native-panel.png" 2>/dev/null
  else
    fail "a /p child shows the preview in the panel" "$(pgrep -a -P "$PANEL_PID")"
  fi
  check "with nothing stored the saver is on" wait_until 10 active_ticked
  check "Apply is greyed while nothing has changed" wait_until 10 apply_greyed

  # --- Wait and the check box reach the registry file on OK -------------------------
  type_wait 25
  click_active
  if wait_until 10 active_clear && wait_until 10 apply_enabled; then
    pass "a change shows and makes Apply available"
  else
    fail "a change shows and makes Apply available"
  fi
  wait_box "$NATIVE_TMP/wait-25.png"
  click_ok
  ends_with first 0 "OK ends the panel with 0"
  expect_stored "OK stores ScreenSaveActive \"0\"" ScreenSaveActive '"0"'
  expect_stored "OK stores ScreenSaveTimeOut as seconds, \"1500\"" ScreenSaveTimeOut '"1500"'
  if [[ -z $(saver_children) ]]; then pass "OK leaves no saver process of the panel's behind"; else
    fail "OK leaves no saver process of the panel's behind" "$(saver_children)"; fi
else
  fail "--panel shows the Screen Saver Settings window" "$(describe first)"
fi

# --- reopened, it shows what was stored; Cancel stores nothing --------------------
cp "$VANTREL_REGISTRY" "$NATIVE_TMP/stored.reg" 2>/dev/null
if open_panel second; then
  check "reopened, the check box is clear" wait_until 10 active_clear
  wait_box "$NATIVE_TMP/wait-now.png"
  if same_picture "$NATIVE_TMP/wait-25.png" "$NATIVE_TMP/wait-now.png"; then pass "reopened, Wait shows 25"; else
    fail "reopened, Wait shows 25"; fi
  type_wait 3
  click_active
  wait_until 10 apply_enabled
  click_cancel
  ends_with second 0 "Cancel ends the panel"
  if cmp -s "$NATIVE_TMP/stored.reg" "$VANTREL_REGISTRY"; then pass "Cancel stores nothing"; else
    fail "Cancel stores nothing" "$(diff "$NATIVE_TMP/stored.reg" "$VANTREL_REGISTRY")"; fi
else
  fail "the panel opens again" "$(describe second)"
fi

# --- Apply, Preview and Settings... ------------------------------------------------
if open_panel third; then
  wait_until "$NATIVE_APPEAR_TIMEOUT" preview_running
  first_preview=$(pgrep -P "$PANEL_PID" -f -- ' /p ')
  type_wait 99999
  wait_until 10 apply_enabled
  click_apply
  if wait_until 10 apply_greyed; then pass "Apply greys itself once it has stored"; else fail "Apply greys itself once it has stored"; fi
  expect_stored "a Wait past 9999 minutes is stored as 9999" ScreenSaveTimeOut '"599940"'

  click_preview
  if wait_until "$NATIVE_APPEAR_TIMEOUT" saver_window_shown; then
    pass "Preview starts the full-screen saver"
    xdotool key space
    if wait_until "$NATIVE_EXIT_TIMEOUT" no_saver_window; then pass "a key ends it"; else fail "a key ends it" "$(xprobe find)"; fi
    if bg_running third && [[ -n $(panel_window) ]]; then pass "the panel is still there"; else
      fail "the panel is still there" "$(describe third)"; fi
    if wait_until "$NATIVE_APPEAR_TIMEOUT" preview_running &&
       [[ $(pgrep -P "$PANEL_PID" -f -- ' /p ') != "$first_preview" ]]; then
      pass "the preview comes back after it"
    else
      fail "the preview comes back after it"
    fi
  else
    fail "Preview starts the full-screen saver" "$(pgrep -a -P "$PANEL_PID")"
  fi

  click_settings
  if wait_until "$NATIVE_APPEAR_TIMEOUT" config_window >/dev/null; then
    pass "Settings... opens the configuration dialog"
    xdotool key Escape
    if wait_until "$NATIVE_EXIT_TIMEOUT" no_config_window; then pass "Escape closes it"; else
      fail "Escape closes it"; fi
    wait_until "$NATIVE_APPEAR_TIMEOUT" preview_running || fail "the preview comes back after the settings"
  else
    fail "Settings... opens the configuration dialog" "$(pgrep -a -P "$PANEL_PID")"
  fi

  # --- closing the panel ends its children ---------------------------------------
  click_cancel
  ends_with third 0 "Cancel closes the panel"
  if wait_until 10 no_saver_children; then pass "closing the panel leaves no /p, /s or /c child behind"; else
    fail "closing the panel leaves no /p, /s or /c child behind" "$(pgrep -a -f -- "$VANTREL_SAVER")"; fi
else
  fail "the panel opens a third time" "$(describe third)"
fi

# --- turned on, the watcher starts; turned off, it ends itself ---------------------
watchers() { pgrep -f -x -- "$VANTREL_SAVER --watch" || true; }
a_watcher() { [[ -n $(watchers) ]]; }
no_watcher() { [[ -z $(watchers) ]]; }
if open_panel fifth; then
  wait_until 10 active_clear
  click_active
  wait_until 10 apply_enabled
  click_apply
  if wait_until "$NATIVE_APPEAR_TIMEOUT" a_watcher && stays_true 2 a_watcher; then
    pass "Apply with the saver turned on starts the watcher"
  else
    fail "Apply with the saver turned on starts the watcher" "$(bg_output fifth)"
  fi
  expect_stored "Apply stores ScreenSaveActive \"1\"" ScreenSaveActive '"1"'
  click_active
  wait_until 10 apply_enabled
  click_apply
  if wait_until "$NATIVE_EXIT_TIMEOUT" no_watcher; then
    pass "turned off, the watcher ends itself"
  else
    fail "turned off, the watcher ends itself" "$(pgrep -a -f -- "$VANTREL_SAVER")"
  fi
  click_cancel
  ends_with fifth 0 "the panel closes after"
else
  fail "the panel opens a fifth time" "$(describe fifth)"
fi

# --- a panel ended from outside: its preview goes with its window ------------------
if open_panel fourth && wait_until "$NATIVE_APPEAR_TIMEOUT" preview_running; then
  kill "$PANEL_PID"
  bg_wait fourth "$NATIVE_EXIT_TIMEOUT"
  if wait_until "$NATIVE_EXIT_TIMEOUT" no_saver_children; then pass "a panel killed leaves no preview behind"; else
    fail "a panel killed leaves no preview behind" "$(pgrep -a -f -- "$VANTREL_SAVER")"; fi
else
  fail "the panel opens a fourth time" "$(describe fourth)"
fi

# --- the lock box: offered only where the session can be locked -----------------
rm -f "$VANTREL_REGISTRY"
if open_panel nobus; then
  check "without a system bus the lock box is greyed" wait_until 10 lock_greyed
  reason=$(lock_reason)
  if [[ $reason == "No login manager answers on the system bus." ]]; then pass "and the reason says why"; else
    fail "and the reason says why" "it says: $reason"; fi
  click_lock
  if stays_true 1 apply_greyed; then pass "a click on the greyed box changes nothing"; else
    fail "a click on the greyed box changes nothing"; fi
  click_cancel
  ends_with nobus 0 "the panel closes"
else
  fail "the panel opens without a system bus" "$(describe nobus)"
fi

if logind_begin lock-after:200; then
  if open_panel logind; then
    check "with a login manager that locks, the lock box can be ticked" wait_until 10 lock_enabled
    reason=$(lock_reason)
    if [[ -z $reason ]]; then pass "and no reason is shown"; else fail "and no reason is shown" "it says: $reason"; fi
    click_lock
    wait_until 10 apply_enabled
    click_ok
    ends_with logind 0 "OK ends the panel"
    expect_stored "ticked, OK stores ScreenSaveUsePassword as a DWORD 1" ScreenSaveUsePassword dword:00000001
    if [[ $(logind_locks) == 0 ]]; then pass "the panel asks for no lock"; else
      fail "the panel asks for no lock" "$(logind_locks) Lock calls"; fi
  else
    fail "the panel opens beside the stand-in login manager" "$(describe logind)"
  fi
  logind_end
else
  fail "setup: the stand-in login manager starts"
fi
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent

end_watchers
# shellcheck disable=SC2119  # no files beyond the runs' own output
no_sanitizer_report
report_summary
