#!/usr/bin/env bash
# Until the animation draws, a full-screen run is a black screen that keeps
# its frame timer going: it stays black, stays open and still answers input.
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
e2e_begin

# The whole screen as one average colour: 0 only when every pixel is black.
screen_black() {
  local mean
  mean=$(import -window root -resize 64x64 -colorspace gray -format '%[fx:maxima]' info: 2>/dev/null) || return 1
  [[ $mean == 0 ]]
}

pointer_to 300 300
saver_start black /s
if ! saver_wait_window black; then
  fail "/s shows a window" "$(describe black)"
  report_summary
  exit 1
fi

name="the screen is black and stays black while the saver runs"
if wait_until "$E2E_APPEAR_TIMEOUT" screen_black && stays_true 3 screen_black; then
  pass "$name"
else
  fail "$name" "$(import -window root -resize 1x1 -format '%[pixel:p{0,0}]' info: 2>/dev/null)"
fi

name="after seconds of frames a key still closes it with 0"
if bg_running black && saver_window_shown; then
  xdotool key Return
  if bg_wait black && [[ $(bg_rc black) == 0 ]]; then
    pass "$name"
  else
    fail "$name" "$(describe black)"
  fi
else
  fail "$name" "the saver ended by itself" "$(describe black)"
fi

report_summary
