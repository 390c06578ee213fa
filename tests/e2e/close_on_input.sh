#!/usr/bin/env bash
# What ends a full-screen run: a key press, a mouse button, or a pointer that
# has travelled more than 4 pixels (counted along both axes) from where it was
# when the saver started. Releases, the wheel and small drifts end nothing.
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
e2e_begin

# Starts a saver as ID with the pointer parked at (200,200), which is where
# the saver measures movement from. Fails the case NAME when no window comes.
start_parked() {
  local id=$1 name=$2
  pointer_to 200 200 || { fail "$name" "cannot move the X pointer"; return 1; }
  saver_start "$id" /s
  if ! saver_wait_window "$id"; then
    fail "$name" "no saver window" "$(describe "$id")"
    bg_kill "$id"
    return 1
  fi
}

still_open() { bg_running "$1" && saver_window_shown; }

# expect_closed ID NAME: the run ends by itself with status 0.
expect_closed() {
  local id=$1 name=$2
  if bg_wait "$id" && [[ $(bg_rc "$id") == 0 ]]; then
    pass "$name"
  else
    fail "$name" "$(describe "$id")"
    bg_kill "$id"
  fi
}

# expect_open ID NAME: the input sent before was acted on (the bombs went on
# moving after it), and the saver is still there.
expect_open() {
  local id=$1 name=$2
  if wine_draws_on "$id" && still_open "$id"; then
    pass "$name"
  else
    fail "$name" "$(describe "$id")"
    return 1
  fi
}

if start_parked key "a key press closes the saver with 0"; then
  xdotool key a
  expect_closed key "a key press closes the saver with 0"
fi

if start_parked button "a mouse button closes the saver with 0"; then
  xdotool click 1
  expect_closed button "a mouse button closes the saver with 0"
fi

if start_parked big "a 5-pixel move closes the saver with 0"; then
  pointer_to 205 200
  expect_closed big "a 5-pixel move closes the saver with 0"
fi

# The runs that must stay open show only the bombs, which never stop moving.
wine_reg add "$E2E_SETTINGS_KEY" /v BombsOnly /t REG_DWORD /d 1 /f ||
  fail "setup: BombsOnly set in the registry" "$WINE_REG_ERROR"

# One run walks up to the threshold: each step must leave the saver open until
# the distance from the starting point passes 4. It starts with a key held
# down, so that the saver sees only its release (X drops a release of a key
# that is not down).
xdotool keydown Shift_L
if start_parked drift "a key release leaves the saver open"; then
  xdotool keyup Shift_L
  if expect_open drift "a key release leaves the saver open"; then
    xdotool click 4 click 5
    expect_open drift "the mouse wheel leaves the saver open" &&
    pointer_to 203 200 &&
    expect_open drift "a 3-pixel move leaves the saver open" &&
    pointer_to 203 201 &&
    expect_open drift "3 right and 1 down (distance 4) leaves the saver open" &&
    pointer_to 203 202 &&
    expect_closed drift "one more pixel down (distance 5 from the start) closes it with 0"
  fi
  bg_kill drift
fi
xdotool keyup Shift_L

# Password protection switched on, the way the desktop settings store it (a
# string), on a system that has no password verifier to ask (Wine has none):
# the saver must not lock the user in.
desktop_key='HKCU\Control Panel\Desktop'
restore_switch() { wine reg delete "$desktop_key" /v ScreenSaveUsePassword /f >/dev/null 2>&1; }
if wine reg add "$desktop_key" /v ScreenSaveUsePassword /t REG_SZ /d 1 /f >/dev/null 2>&1; then
  if start_parked locked "with the password switch on but no verifier, a key closes it with 0"; then
    xdotool key a
    expect_closed locked "with the password switch on but no verifier, a key closes it with 0"
  fi
  restore_switch
else
  fail "with the password switch on but no verifier, a key closes it with 0" "cannot set the switch"
fi

# The prefix is the session's: the next script finds the settings as they were.
wine reg delete "$E2E_SETTINGS_KEY" /v BombsOnly /f >/dev/null 2>&1
report_summary
