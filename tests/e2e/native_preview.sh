#!/usr/bin/env bash
# The native preview: given the decimal id of another program's X window (the
# probe plays the settings panel), the saver draws in a child window that
# fills it, ignores input, and ends with 0 when that window is destroyed.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

if ! panel_start panel 320x240+100+80; then
  fail "the probe makes a stand-in panel window" "$(bg_output panel)"
  report_summary
  exit 1
fi
panel=$PANEL

# Bombs only: the preview never stops drawing, which is how the script
# knows it has handled the input sent to it.
set_settings BombsOnly=1
saver_start preview /p "$panel"
preview_up() { [[ -n $(first_child "$panel") ]] || bg_done preview; }
if ! wait_until "$NATIVE_APPEAR_TIMEOUT" preview_up || bg_done preview; then
  fail "/p $panel opens a preview window inside it" "$(describe preview)"
  report_summary
  exit 1
fi
pass "/p <id> opens a preview window inside that window"

child=$(first_child "$panel")
info=$(xprobe info "$child")
if [[ $(field "$info" x),$(field "$info" y),$(field "$info" w),$(field "$info" h) == "100,80,320,240" &&
  $(field "$info" viewable) == 1 && $(field "$info" override) == 0 ]]; then
  pass "the preview fills the window and is shown"
else
  fail "the preview fills the window and is shown" "$info"
fi

if no_saver_window; then
  pass "a preview makes no full-screen window"
else
  fail "a preview makes no full-screen window" "$(xprobe find)"
fi

if wait_until "$NATIVE_APPEAR_TIMEOUT" window_shows "$panel" bombs; then
  pass "the preview draws the bombs in their green over the grey backdrop"
else
  fail "the preview draws the bombs in their green over the grey backdrop" "shows: $(shows "$panel")"
fi

# The panel stays usable: the pointer over the preview is visible, and
# input there ends nothing.
pointer_to 200 200
if cursor_is visible; then
  pass "the cursor stays visible over a preview"
else
  fail "the cursor stays visible over a preview" "$(xprobe cursor)"
fi
pointer_to 260 230
xdotool key a
xdotool click 1 click 3 click 4
preview_shown() { bg_running preview && [[ $(field "$(xprobe info "$child")" viewable) == 1 ]]; }
# New frames drawn after the input are the sign that it has been handled.
if draws_on preview "$panel" && preview_shown; then
  pass "key, buttons, wheel and mouse movement leave the preview open"
else
  fail "key, buttons, wheel and mouse movement leave the preview open" "no new frames drawn after the input" \
    "$(describe preview)"
fi

xprobe destroy "$panel"
if bg_wait preview "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc preview) == 0 ]]; then
  pass "the preview ends with 0 when its window is destroyed"
else
  fail "the preview ends with 0 when its window is destroyed" "$(describe preview)"
fi
bg_wait panel 10 || bg_kill panel

# Previews of windows that are not there are refused at once, as on Windows,
# with a line that says which window and why.
for target in 0 123456789 "$panel"; do
  refused_saying "/p $target (no such window) exits with 255, saying so" \
    "cannot draw into window $target from /p: no such window" "$VANTREL_SAVER" /p "$target"
done
refused_saying "/p panel (no number) exits with 255, saying so" \
  'cannot draw into window "panel" from /p: not a window number' "$VANTREL_SAVER" /p panel

report_summary
