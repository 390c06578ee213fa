#!/usr/bin/env bash
# The full-screen run: one topmost window of the saver's class and title
# covering the whole screen; a second start gives way to the running saver;
# a key press ends the run with status 0.
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
e2e_begin

read -r screen_w screen_h < <(xsession_screen_size)
pointer_to 200 200

saver_start first /s
if ! saver_wait_window first; then
  fail "/s opens the saver window" "$(describe first)"
  report_summary
  exit 1
fi
pass "/s opens the saver window"

info=$(probe find)
hwnd=$(field "$info" hwnd)
if [[ $(field "$info" count) == 1 && $(field "$info" classcount) == 1 ]]; then
  pass "exactly one window of class WindowsScreenSaverClass titled 'Screen Saver'"
else
  fail "exactly one window of class WindowsScreenSaverClass titled 'Screen Saver'" "$info"
fi

exstyle=$(field "$info" exstyle)
if (( exstyle & 0x8 )); then
  pass "the window is topmost"
else
  fail "the window is topmost" "$info"
fi

style=$(field "$info" style)
if (( (style & 0x90000000) == 0x90000000 )) && [[ $(field "$info" visible) == 1 ]]; then
  pass "the window is a visible popup"
else
  fail "the window is a visible popup" "$info"
fi

if [[ $(field "$info" rect) == "0,0,$screen_w,$screen_h" ]]; then
  pass "the window covers the screen (${screen_w}x$screen_h)"
else
  fail "the window covers the screen (${screen_w}x$screen_h)" "$info"
fi

# The title is how a second start finds this saver, so it must not change.
renamed=$(probe settext "$hwnd" "Renamed")
if [[ $(field "$renamed" result) == 0 && $(field "$(probe find)" hwnd) == "$hwnd" ]]; then
  pass "the title cannot be changed (SetWindowText fails, the title still finds it)"
else
  fail "the title cannot be changed (SetWindowText fails, the title still finds it)" "$renamed" "$(probe find)"
fi

# A second full-screen start must bring the first forward and leave at once.
started=$SECONDS
saver_start second /s
if bg_wait second && [[ $(bg_rc second) == 0 ]]; then
  pass "a second /s exits with 0 while one runs ($((SECONDS - started)) s)"
else
  fail "a second /s exits with 0 while one runs" "$(describe second)"
  bg_kill second
fi

info=$(probe find)
if bg_running first && [[ $(field "$info" hwnd) == "$hwnd" && $(field "$info" count) == 1 &&
  $(field "$info" visible) == 1 ]]; then
  pass "the first saver keeps running, alone"
else
  fail "the first saver keeps running, alone" "$(describe first)"
fi

xdotool key space
if bg_wait first && [[ $(bg_rc first) == 0 ]]; then
  pass "a key press ends the run with 0"
else
  fail "a key press ends the run with 0" "$(describe first)"
fi

if wait_until "$E2E_EXIT_TIMEOUT" no_saver_window; then
  pass "the window is gone after the run"
else
  fail "the window is gone after the run" "$(probe find)"
fi

# The control panel and users spell the switch in several ways.
for spelling in -S s //s /saver; do
  name="'$spelling' starts the full-screen run"
  saver_start spelled "$spelling"
  if saver_wait_window spelled; then
    xdotool key space
    if bg_wait spelled && [[ $(bg_rc spelled) == 0 ]]; then
      pass "$name"
    else
      fail "$name" "did not close on a key" "$(describe spelled)"
      bg_kill spelled
    fi
  else
    fail "$name" "$(describe spelled)"
    bg_kill spelled
  fi
  wait_until "$E2E_EXIT_TIMEOUT" no_saver_window
done

report_summary
