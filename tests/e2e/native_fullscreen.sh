#!/usr/bin/env bash
# The native full-screen run on an X server: one window over the whole screen
# and above every other, with the cursor hidden, drawing the bombs; a second
# start raises the first and leaves at once; a key ends the run with 0.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

read -r screen_w screen_h < <(xsession_screen_size)
pointer_to 200 200

saver_start first /s
if ! saver_wait_window first; then
  fail "/s opens the saver window" "$(describe first)"
  report_summary
  exit 1
fi
pass "/s opens the saver window"

window=$(saver_window)
info=$(xprobe info "$window")
if [[ $(field "$info" x),$(field "$info" y),$(field "$info" w),$(field "$info" h) == "0,0,$screen_w,$screen_h" ]]; then
  pass "the window covers the screen (${screen_w}x$screen_h)"
else
  fail "the window covers the screen (${screen_w}x$screen_h)" "$info"
fi

# No window manager may move, frame or lower it.
if [[ $(field "$info" override) == 1 && $(field "$info" class) == WindowsScreenSaverClass ]]; then
  pass "it is override-redirect and carries the saver's window class"
else
  fail "it is override-redirect and carries the saver's window class" "$info"
fi

if [[ $(field "$(xprobe top)" window) == "$window" ]]; then
  pass "it is above every other window"
else
  fail "it is above every other window" "top: $(xprobe top)" "saver: $window"
fi

if wait_until 10 cursor_is blank; then
  pass "the cursor is hidden"
else
  fail "the cursor is hidden" "$(xprobe cursor)"
fi

if wait_until "$NATIVE_APPEAR_TIMEOUT" window_shows "$window" bombs; then
  pass "it draws the bombs in their green over the grey backdrop"
else
  fail "it draws the bombs in their green over the grey backdrop" "shows: $(shows "$window")"
fi

# Something else covers the saver; a second start must bring the first back
# to the top and leave at once.
bg_start cover "$X11_PROBE" cover
cover_on_top() {
  local top
  top=$(field "$(xprobe top)" window)
  [[ -n $top && $top != "$window" ]]
}
if wait_until "$NATIVE_APPEAR_TIMEOUT" cover_on_top; then
  started=$SECONDS
  rc=$(saver_exit_code /s)
  took=$((SECONDS - started))
  saver_on_top() { [[ $(field "$(xprobe top)" window) == "$window" ]]; }
  if [[ $rc == 0 ]] && ((took <= 10)) && wait_until 10 saver_on_top; then
    pass "a second /s raises the first and exits with 0 at once (${took} s)"
  else
    fail "a second /s raises the first and exits with 0 at once" "status: $rc after $took s" \
      "top: $(xprobe top)" "saver: $window"
  fi
else
  fail "a second /s raises the first and exits with 0 at once" "the covering window did not come up"
fi
bg_kill cover

info=$(xprobe find)
if bg_running first && [[ $(field "$info" count) == 1 && $(field "$info" window) == "$window" ]]; then
  pass "the first saver keeps running, alone"
else
  fail "the first saver keeps running, alone" "$(describe first)"
fi

xdotool key space
if bg_wait first "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc first) == 0 ]]; then
  pass "a key press ends the run with 0"
else
  fail "a key press ends the run with 0" "$(describe first)"
fi

if no_saver_window && wait_until 10 cursor_is visible; then
  pass "the window is gone after the run, and the cursor is back"
else
  fail "the window is gone after the run, and the cursor is back" "$(xprobe find)" "$(xprobe cursor)"
fi

# Ended from outside (a session that closes, Ctrl+C): the window goes and
# the status is still 0.
for sig in TERM INT; do
  name="SIG$sig ends a full-screen run with 0 and takes the window away"
  saver_start signalled /s
  if saver_wait_window signalled; then
    kill -"$sig" "$(saver_pid signalled)"
    if bg_wait signalled "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc signalled) == 0 ]] && no_saver_window; then
      pass "$name"
    else
      fail "$name" "$(describe signalled)"
    fi
  else
    fail "$name" "no window" "$(describe signalled)"
  fi
  bg_kill signalled
done

report_summary
