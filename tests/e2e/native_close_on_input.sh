#!/usr/bin/env bash
# What ends a native full-screen run: a key press, a mouse button, or a
# pointer that has travelled more than 4 pixels (along both axes together)
# from where it was at the start. Releases, wheels and small drifts end
# nothing.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

# Starts a saver as ID with the pointer parked at (200,200), where the saver
# measures movement from. Fails the case NAME when no window comes.
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

expect_closed() {
  local id=$1 name=$2
  if bg_wait "$id" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "$id") == 0 ]]; then
    pass "$name"
  else
    fail "$name" "$(describe "$id")"
    bg_kill "$id"
  fi
}

# expect_open ID NAME: the input just sent left the saver open. Not a
# matter of watching for a while: the saver must go on to draw new frames,
# which it does only once it has handled all input sent before.
expect_open() {
  local id=$1 name=$2 window
  window=$(saver_window)
  if [[ -n $window ]] && draws_on "$id" "$window" && still_open "$id"; then
    pass "$name"
  else
    fail "$name" "no new frames drawn after the input" "$(describe "$id")"
    return 1
  fi
}

# Keys of every kind the backend translates: a letter, a digit, Escape, a
# function key, a modifier on its own, and one the system has no code for.
for key in a 7 Escape F5 Alt_L adiaeresis; do
  if start_parked "key_$key" "the key $key closes the saver with 0"; then
    xdotool key "$key"
    expect_closed "key_$key" "the key $key closes the saver with 0"
  fi
done

for button in 1 3; do
  if start_parked "button_$button" "mouse button $button closes the saver with 0"; then
    xdotool click "$button"
    expect_closed "button_$button" "mouse button $button closes the saver with 0"
  fi
done

if start_parked big "a 5-pixel move closes the saver with 0"; then
  pointer_to 205 200
  expect_closed big "a 5-pixel move closes the saver with 0"
fi

# One run walks up to the threshold. It starts with a key held down, so the
# saver sees only its release. Bombs only, so that it never stops drawing.
set_settings BombsOnly=1
xdotool keydown Shift_L
if start_parked drift "a key release leaves the saver open"; then
  xdotool keyup Shift_L
  if expect_open drift "a key release leaves the saver open"; then
    xdotool click 4 click 5 click 6 click 7
    expect_open drift "the wheels leave the saver open" &&
      pointer_to 203 200 &&
      expect_open drift "a 3-pixel move leaves the saver open" &&
      pointer_to 206 200 &&
      expect_closed drift "a second 3-pixel move (6 from the start) closes it with 0"
  fi
  bg_kill drift
fi
xdotool keyup Shift_L 2>/dev/null
rm -f "$VANTREL_REGISTRY"

report_summary
