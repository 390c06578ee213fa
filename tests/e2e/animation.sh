#!/usr/bin/env bash
# The animation as a person sees it, with the shortest phases (ScreenDelay 1,
# about five seconds each): bombs in their green over the grey backdrop, then
# a slideshow picture in full colour, then bombs again; a key still ends it.
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
e2e_begin

KEY='HKCU\SOFTWARE\Kestrelix\VantrelScreenSaver'
BOMB_GREEN='#00C35F'

# What the screen shows now: "bombs" (only greys, black and the bomb's green,
# with some green), "picture" (many colours that are not grey), or "other".
SHOT=$E2E_TMP/shot.png
screen_shows() {
  import -window root "$SHOT" 2>/dev/null || { echo other; return; }
  convert "$SHOT" -unique-colors -depth 8 txt:- 2>/dev/null | awk -v green="$BOMB_GREEN" '
    /^[0-9]+,[0-9]+:/ {
      hex = $3
      if (hex == green) { bomb = 1; next }
      r = substr(hex, 2, 2); g = substr(hex, 4, 2); b = substr(hex, 6, 2)
      if (r == g && g == b) grey++; else colour++
    }
    END {
      if (colour == 0 && bomb) print "bombs"
      else if (colour > 64) print "picture"
      else print "other"
    }'
}
shows() { [[ $(screen_shows) == "$1" ]]; }

wine_reg add "$KEY" /v ScreenDelay /t REG_DWORD /d 1 /f ||
  fail "setup: ScreenDelay 1 written with wine reg" "$WINE_REG_ERROR"

pointer_to 300 300
saver_start anim /s
if ! saver_wait_window anim; then
  fail "/s shows a window" "$(describe anim)"
  report_summary
  exit 1
fi

for step in "bombs:bombs in green over the grey backdrop" \
            "picture:then a slideshow picture" \
            "bombs:then bombs again"; do
  want=${step%%:*}
  name=${step#*:}
  if wait_until 40 shows "$want"; then
    pass "$name"
  else
    fail "$name" "last screen: $(screen_shows)"
    cp "$SHOT" "$E2E_TMP/../vantrel-animation-failed.png" 2>/dev/null
  fi
done

name="a key still ends the run with 0"
if bg_running anim; then
  xdotool key Return
  if bg_wait anim && [[ $(bg_rc anim) == 0 ]]; then pass "$name"; else fail "$name" "$(describe anim)"; fi
else
  fail "$name" "the saver ended by itself" "$(describe anim)"
fi

wine reg delete "$KEY" /v ScreenDelay /f >/dev/null 2>&1
report_summary
