#!/usr/bin/env bash
# The .scr on an X server with two monitors of different sizes (the XWayland
# of a headless sway with two outputs): the saver on the primary monitor, the
# other one black for as long as it runs; a movement over the black monitor
# ends it, and so does a key. Then the conformance tests' monitor cases on
# the same server.
#
# Wine's desktop process belongs to the display it was started on, so the
# session's Wine server is ended here and started afresh on sway's display,
# and handed back (ended once more, kept up as the session had it) at the end.
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
# shellcheck source=tests/lib/sway.sh
source "$(dirname "$0")/../lib/sway.sh"
e2e_begin

VANTREL_CONFORMANCE=${VANTREL_CONFORMANCE:-$(dirname "$VANTREL_SCR")/tests/conformance/conformance.exe}

wine_restart() {
  wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
  return 0
}
monitors_end() {
  bg_kill_all
  if [[ -n $SWAY_TMP ]]; then
    wine_restart
    sway_cleanup
    wineserver -p >/dev/null 2>&1
  fi
  e2e_end
}
trap monitors_end EXIT

sway_require 1600x1200+0+0 1920x1080+1600+0
wine_restart

mapfile -t OUTPUTS < <(sway_outputs | sed -E 's/^([^ ]+) ([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+).*/\1 \2 \3 \4 \5/')
read -r PRIMARY PRIMARY_W PRIMARY_H _ _ <<<"${OUTPUTS[0]}"
read -r SECOND SECOND_W SECOND_H SECOND_X SECOND_Y <<<"${OUTPUTS[1]}"
# A point well inside the second monitor.
AWAY_X=$((SECOND_X + SECOND_W / 2)) AWAY_Y=$((SECOND_Y + SECOND_H / 2))

# Every verdict below is about two monitors, and one that Wine does not see
# would pass some of them (nothing to cover) and fail others for no fault of
# the program: so first, Wine must see the two the X server has. (32-bit
# Wine finds monitors through the i386 RandR and Xinerama libraries; without
# them it sees the whole screen as one.)
LAYOUT=$(printf '%s\n' "${OUTPUTS[@]}" | awk '{ printf "%s%sx%s+%s+%s", (NR > 1 ? "," : ""), $2, $3, $4, $5 }')
sorted_layout() { tr ',' '\n' <<<"$1" | sort | paste -sd, -; }
seen=$(probe monitors)
seen_count=$(field "$seen" count) seen_list=$(field "$seen" monitors)
if [[ $seen_count == 2 && $(sorted_layout "$seen_list") == $(sorted_layout "$LAYOUT") ]]; then
  pass "Wine sees the X server's two monitors ($LAYOUT)"
else
  case $seen_count in
    1) seen_words="one monitor" ;;
    '') seen_words="no monitor (the probe said: ${seen:-nothing})" ;;
    *) seen_words="$seen_count monitors" ;;
  esac
  fail "Wine sees the X server's two monitors ($LAYOUT)" \
    "Wine sees $seen_words: ${seen_list:-none}; the X server has two: $LAYOUT" \
    "$(xrandr --listmonitors 2>&1)"
  report_summary
  exit 1
fi

output_shows() {
  local shot=$E2E_TMP/output.ppm
  sway_shot "$1" "$shot" 2>/dev/null && [[ $(image_shows "$shot") == "$2" ]]
}
output_verdict() { sway_shot "$1" "$E2E_TMP/output.ppm" 2>/dev/null && image_shows "$E2E_TMP/output.ppm"; }

# start_away ID NAME: a saver with the pointer parked over the second
# monitor, which is where it measures movement from; fails NAME when no
# window comes.
start_away() {
  local id=$1 name=$2
  pointer_to "$AWAY_X" "$AWAY_Y" || { fail "$name" "cannot move the X pointer"; return 1; }
  saver_start "$id" /s
  if ! saver_wait_window "$id"; then
    fail "$name" "no saver window" "$(describe "$id")"
    bg_kill "$id"
    return 1
  fi
}

# expect_closed ID NAME: the run ends with 0, and the black goes with it.
no_black() { ! output_shows "$PRIMARY" black && ! output_shows "$SECOND" black; }
expect_closed() {
  local id=$1 name=$2
  if bg_wait "$id" && [[ $(bg_rc "$id") == 0 ]] && wait_until 10 no_black; then
    pass "$name"
  else
    fail "$name" "$(describe "$id")" "$PRIMARY shows: $(output_verdict "$PRIMARY")" \
      "$SECOND shows: $(output_verdict "$SECOND")"
    bg_kill "$id"
  fi
}

# Both screens are watched together: they come up at their own pace.
PRIMARY_SHOWS='' SECOND_SHOWS=''
_both_shown() {
  PRIMARY_SHOWS=$(output_verdict "$PRIMARY") SECOND_SHOWS=$(output_verdict "$SECOND")
  [[ $PRIMARY_SHOWS == bombs && $SECOND_SHOWS == black ]]
}

if start_away first "the saver starts on the two-monitor server"; then
  info=$(probe find)
  wait_until "$E2E_APPEAR_TIMEOUT" _both_shown
  if [[ $(field "$info" rect) == "0,0,$PRIMARY_W,$PRIMARY_H" && $PRIMARY_SHOWS == bombs ]]; then
    pass "the saver covers the primary monitor ($PRIMARY, ${PRIMARY_W}x$PRIMARY_H) with its bombs"
  else
    fail "the saver covers the primary monitor ($PRIMARY, ${PRIMARY_W}x$PRIMARY_H) with its bombs" "$info" \
      "$PRIMARY shows: $PRIMARY_SHOWS"
  fi
  if [[ $SECOND_SHOWS == black ]]; then
    pass "the second monitor ($SECOND, ${SECOND_W}x$SECOND_H) is black"
  else
    fail "the second monitor ($SECOND, ${SECOND_W}x$SECOND_H) is black" "shows: $SECOND_SHOWS"
  fi
  pointer_to $((AWAY_X + 10)) "$AWAY_Y"
  expect_closed first "a movement over the black monitor ends it with 0, and the black goes"
fi

if start_away key "a key ends it with 0, and the black goes"; then
  # (Whether the black came was told above; a key must end the saver either way.)
  wait_until 15 output_shows "$SECOND" black
  xdotool key a
  expect_closed key "a key ends it with 0, and the black goes"
fi

# --- the conformance tests' monitor cases, on this server ------------------------

if [[ -f $VANTREL_CONFORMANCE ]]; then
  out=$E2E_TMP/conformance.out
  VANTREL_EXPECT_MONITORS=$LAYOUT timeout -k 10 120 wine "$VANTREL_CONFORMANCE" --gtest_filter='*Monitor*' >"$out" 2>&1
  rc=$?
  tr -d '\r' <"$out" >"$out.txt"
  ran=0
  while read -r verdict test; do
    ran=$((ran + 1))
    if [[ $verdict == OK ]]; then
      pass "conformance under Wine, two monitors: $test"
    elif [[ $verdict == SKIPPED ]]; then
      # Every case has what it needs here; one that skips tested nothing.
      fail "conformance under Wine, two monitors: $test" "skipped itself: $(grep -B 3 "^\[  SKIPPED \] $test (" "$out.txt" | head -n 3)"
    else
      fail "conformance under Wine, two monitors: $test" "$(grep -B 20 "^\[  FAILED  \] $test (" "$out.txt" | tail -n 20)"
    fi
  done < <(sed -nE 's/^\[ +(OK|FAILED|SKIPPED) +\] ([^ ]+) \([0-9]+ ms\)$/\1 \2/p' "$out.txt")
  if ((ran == 0)); then
    fail "conformance under Wine, two monitors: the cases matching *Monitor*" \
      "none ran (status $rc)" "$(tail -n 5 "$out.txt")"
  elif ((rc != 0)) && ((REPORT_FAILED == 0)); then
    fail "conformance under Wine, two monitors: the run ends with 0" "status $rc" "$(tail -n 5 "$out.txt")"
  fi
else
  fail "setup: $VANTREL_CONFORMANCE exists" "build it: cmake --build build-win"
fi

report_summary
