#!/usr/bin/env bash
# Started the way XScreenSaver starts its display modules: "--root" with the
# window to draw in named by $XSCREENSAVER_WINDOW, "--window-id N" from its
# settings dialog, or "--root" alone on the root window. Each run draws
# where it is told and ends with 0 on SIGTERM or SIGINT, taking its window
# with it and leaving the driver's window alone.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

if ! panel_start panel 400x300+50+40; then
  fail "the probe makes a stand-in driver window" "$(bg_output panel)"
  report_summary
  exit 1
fi
panel=$PANEL
panel_hex=$(printf '0x%x' "$panel")

# module_run ID SIGNAL NAME ARGS...: the run must draw into the panel, then
# end with 0 on SIGNAL, its window gone and the panel still there.
module_run() {
  local id=$1 sig=$2 name=$3; shift 3
  bg_start "$id" "$@"
  in_panel() { [[ -n $(first_child "$panel") ]] || bg_done "$id"; }
  if ! wait_until "$NATIVE_APPEAR_TIMEOUT" in_panel || bg_done "$id"; then
    fail "$name: a window inside the driver's window" "$(describe "$id")"
    return 1
  fi
  local child; child=$(first_child "$panel")
  local info; info=$(xprobe info "$child")
  if [[ $(field "$info" w)x$(field "$info" h) == 400x300 ]] &&
    wait_until "$NATIVE_APPEAR_TIMEOUT" window_shows "$panel" bombs; then
    pass "$name: draws the bombs into the driver's window"
  else
    fail "$name: draws the bombs into the driver's window" "$info" "shows: $(shows "$panel")"
  fi
  kill -"$sig" "$(saver_pid "$id")"
  if bg_wait "$id" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "$id") == 0 ]] && [[ -z $(first_child "$panel") ]] &&
    xprobe info "$panel" >/dev/null; then
    pass "$name: SIG$sig ends it with 0, its window gone, the driver's kept"
  else
    fail "$name: SIG$sig ends it with 0, its window gone, the driver's kept" "$(describe "$id")" \
      "children left: $(xprobe children "$panel" | tr '\n' ' ')"
    bg_kill "$id"
  fi
}

module_run root TERM "--root with \$XSCREENSAVER_WINDOW" \
  env XSCREENSAVER_WINDOW="$panel_hex" "$VANTREL_SAVER" --root
module_run dashroot INT "-root with \$XSCREENSAVER_WINDOW" \
  env XSCREENSAVER_WINDOW="$panel" "$VANTREL_SAVER" -root
module_run windowid TERM "--window-id $panel_hex" "$VANTREL_SAVER" --window-id "$panel_hex"

# A driver window that cannot be read, or names no window, is refused, not
# replaced by another, with a line that says which and why.
refused_saying "an unreadable \$XSCREENSAVER_WINDOW is refused with 255, saying so" \
  'cannot draw into window "not-a-window" from $XSCREENSAVER_WINDOW: not a window number' \
  env XSCREENSAVER_WINDOW=not-a-window "$VANTREL_SAVER" --root
refused_saying "--window-id of no window is refused with 255, saying so" \
  "cannot draw into window 0x1234567 from --window-id: no such window" "$VANTREL_SAVER" --window-id 0x1234567
if [[ -z $(first_child "$panel") ]] && no_saver_window; then
  pass "a refused module run draws nowhere"
else
  fail "a refused module run draws nowhere" "children: $(xprobe children "$panel" | tr '\n' ' ')" "$(xprobe find)"
fi

# Without a driver, --root draws on the root window: a window over the whole
# screen that stays below the others (here, the panel).
read -r screen_w screen_h < <(xsession_screen_size)
saver_start onroot --root
root_window() { saver_window Preview; }
on_root_up() { [[ -n $(root_window) ]] || bg_done onroot; }
if wait_until "$NATIVE_APPEAR_TIMEOUT" on_root_up && bg_running onroot; then
  window=$(root_window)
  info=$(xprobe info "$window")
  if [[ $(field "$info" w)x$(field "$info" h) == "${screen_w}x$screen_h" &&
    $(field "$(xprobe top)" window) != "$window" ]] &&
    wait_until "$NATIVE_APPEAR_TIMEOUT" window_shows "$window" bombs; then
    pass "--root alone draws over the whole root window, below other windows"
  else
    fail "--root alone draws over the whole root window, below other windows" "$info" "top: $(xprobe top)"
  fi
  kill -TERM "$(saver_pid onroot)"
  if bg_wait onroot "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc onroot) == 0 && -z $(root_window) ]]; then
    pass "--root alone ends with 0 on SIGTERM"
  else
    fail "--root alone ends with 0 on SIGTERM" "$(describe onroot)"
  fi
else
  fail "--root alone draws over the whole root window, below other windows" "$(describe onroot)"
fi

xprobe destroy "$panel" >/dev/null
report_summary
