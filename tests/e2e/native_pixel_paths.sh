#!/usr/bin/env bash
# The ways pixels reach a server: shared memory, plain image requests on a
# display without MIT-SHM (as a display on another machine is), and a 16-bit
# display's own pixel format. On each, what the backend presents must be the
# window's pixels exactly; and on the last two the saver must still show the
# bombs in their colours, and the run must still end on a key.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

# Greys (within what 16 bits can hold) and the bomb's green, with some of
# the green: what the bomb phase looks like on a 16-bit display.
shows_bombs_roughly() {
  local shot=$NATIVE_TMP/shot16.ppm
  xprobe shot "$1" "$shot" 2>/dev/null || return 1
  convert "$shot" -unique-colors -depth 8 txt:- 2>/dev/null | awk '
    function digit(c) { return index("0123456789ABCDEF", toupper(c)) - 1 }
    function hex(h) { return digit(substr(h, 1, 1)) * 16 + digit(substr(h, 2, 1)) }
    function abs(v) { return v < 0 ? -v : v }
    /^[0-9]+,[0-9]+:/ {
      r = hex(substr($3, 2, 2)); g = hex(substr($3, 4, 2)); b = hex(substr($3, 6, 2))
      if (r < 16 && g > 180 && g < 210 && b > 80 && b < 104) { green = 1; next }
      if (abs(r - g) > 12 || abs(g - b) > 12) other++
    }
    END { exit !(green && other == 0) }'
}

window_shows_bombs() { window_shows "$1" bombs; }

X11_PRESENT=${X11_PRESENT:-$VANTREL_ROOT/build/tests/e2e/x11_present}

# presents_exactly DISPLAY LABEL: a window shown whole, in many small pieces
# and in large ones beyond what is staged at once reads back from the server
# as the pixels it was given.
presents_exactly() {
  local out
  if out=$(DISPLAY=$1 timeout -k 5 60 "$X11_PRESENT" 2>&1); then
    pass "$2: the server shows exactly what was presented"
  else
    fail "$2: the server shows exactly what was presented" "$out"
  fi
}

presents_exactly "$DISPLAY" "shared memory"

# run_on DISPLAY LABEL CHECK: a full-screen run and a preview on that display.
run_on() {
  local display=$1 label=$2 check=$3 session=$DISPLAY
  export DISPLAY=$display
  {
    pointer_to 100 100
    saver_start "full_$label" /s
    if saver_wait_window "full_$label"; then
      local window; window=$(saver_window)
      if wait_until "$NATIVE_APPEAR_TIMEOUT" "$check" "$window"; then
        pass "$label: the full-screen saver shows the bombs in their colours"
      else
        fail "$label: the full-screen saver shows the bombs in their colours" "shows: $(shows "$window")"
      fi
      xdotool key space
      if bg_wait "full_$label" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "full_$label") == 0 ]]; then
        pass "$label: a key ends the run with 0"
      else
        fail "$label: a key ends the run with 0" "$(describe "full_$label")"
      fi
    else
      fail "$label: the full-screen saver shows the bombs in their colours" "$(describe "full_$label")"
    fi
    bg_kill "full_$label"

    if panel_start "panel_$label" 240x180+20+20; then
      local panel=$PANEL
      saver_start "preview_$label" /p "$panel"
      if wait_until "$NATIVE_APPEAR_TIMEOUT" "$check" "$panel"; then
        pass "$label: a preview shows the bombs in their colours"
      else
        fail "$label: a preview shows the bombs in their colours" "$(describe "preview_$label")"
      fi
      xprobe destroy "$panel"
      bg_wait "preview_$label" "$NATIVE_EXIT_TIMEOUT" || bg_kill "preview_$label"
    else
      fail "$label: a preview shows the bombs in their colours" "no panel window"
    fi
    bg_kill_all
  }
  export DISPLAY=$session
}

if native_extra_display 800x600x24 -extension MIT-SHM; then
  plain=$EXTRA_DISPLAY
  if DISPLAY=$plain xdpyinfo | grep -q MIT-SHM; then
    fail "setup: a display without MIT-SHM" "the server still offers it"
  else
    presents_exactly "$plain" "without MIT-SHM"
    run_on "$plain" "without MIT-SHM" window_shows_bombs
  fi
else
  fail "setup: a display without MIT-SHM"
fi

if native_extra_display 800x600x16; then
  deep16=$EXTRA_DISPLAY
  presents_exactly "$deep16" "16-bit display"
  run_on "$deep16" "16-bit display" shows_bombs_roughly
else
  fail "setup: a 16-bit display"
fi

report_summary
