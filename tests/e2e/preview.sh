#!/usr/bin/env bash
# The preview: given the decimal handle of a window (the probe plays the
# control panel's part), the saver draws in a child window that fills it,
# ignores input, and ends with 0 when that window is destroyed.
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
e2e_begin

bg_start panel wine "$VANTREL_PROBE" makewindow
panel_line() { bg_output panel | grep -m1 'hwnd='; }
if ! wait_until "$E2E_APPEAR_TIMEOUT" panel_line >/dev/null; then
  fail "the probe makes a stand-in control panel window" "$(bg_output panel)"
  report_summary
  exit 1
fi
line=$(panel_line)
panel=$(field "$line" hwnd)
panel_client=$(field "$line" client)

saver_start preview /p "$panel"
preview_up() { probe child "$panel" >/dev/null || bg_done preview; }
if ! wait_until "$E2E_APPEAR_TIMEOUT" preview_up || bg_done preview; then
  fail "/p $panel opens a preview window inside it" "$(describe preview)" "$(probe child "$panel")"
  report_summary
  exit 1
fi
pass "/p <handle> opens a preview window inside that window"

info=$(probe child "$panel")
if [[ $(field "$info" inparent) == "0,0,$panel_client" ]]; then
  pass "the preview fills the window's client area"
else
  fail "the preview fills the window's client area" "client: $panel_client" "$info"
fi

style=$(field "$info" style)
exstyle=$(field "$info" exstyle)
if (( (style & 0x50000000) == 0x50000000 && !(exstyle & 0x8) )) && [[ $info == *" title=Preview" ]]; then
  pass "the preview is a visible child titled 'Preview', not topmost"
else
  fail "the preview is a visible child titled 'Preview', not topmost" "$info"
fi

if no_saver_window; then
  pass "a preview makes no full-screen window"
else
  fail "a preview makes no full-screen window" "$(probe find)"
fi

# Input over the preview must not end it: the control panel stays usable.
pointer_to 200 200
pointer_to 240 230
xdotool key a
xdotool click 1
preview_shown() { bg_running preview && [[ $(field "$(probe child "$panel")" visible) == 1 ]]; }
# Wine shows nothing of what a child window of another process draws, so
# there is no new frame to wait for as a sign that the input was acted on:
# the watch is long instead.
if stays_true 6 preview_shown; then
  pass "key, button and mouse movement leave the preview open"
else
  fail "key, button and mouse movement leave the preview open" "$(describe preview)"
fi

probe close "$panel" >/dev/null
if bg_wait preview && [[ $(bg_rc preview) == 0 ]]; then
  pass "the preview ends with 0 when its window is destroyed"
else
  fail "the preview ends with 0 when its window is destroyed" "$(describe preview)"
fi
bg_wait panel || bg_kill panel

report_summary
