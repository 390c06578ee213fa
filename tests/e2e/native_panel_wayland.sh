#!/usr/bin/env bash
# The Screen Saver Settings panel in a Wayland session with no X server
# (sway, no DISPLAY): it opens as a window of the compositor's, starts no
# preview (which would need an X window), says why inside the monitor
# picture's screen, and Escape closes it leaving no process behind.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/sway.sh
source "$(dirname "$0")/../lib/sway.sh"

NATIVE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-panel-wayland.XXXXXX")
BG_DIR=$NATIVE_TMP
# The session's user writes the settings file here.
chmod 755 "$NATIVE_TMP"
mkdir -m 777 "$NATIVE_TMP/settings"
export VANTREL_REGISTRY=$NATIVE_TMP/settings/registry.reg
finish() {
  bg_kill_all
  sway_cleanup
  rm -rf "$NATIVE_TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

[[ -x $VANTREL_SAVER ]] || { fail "setup: $VANTREL_SAVER exists" "build it: ./setup.sh native"; report_summary; exit 1; }
require_tools wtype jq
unset VANTREL_BACKEND XSCREENSAVER_WINDOW
sway_require 1024x768+0+0

# As the compositor's user, with the pid the program's own.
_exec_as_user() { sway_exec_as_user "$@"; }
panel_rect() {
  sway_as_user swaymsg -t get_tree -r 2>/dev/null |
    jq -r '.. | objects | select(.name? == "Screen Saver Settings") |
      "\(.rect.x + .window_rect.x) \(.rect.y + .window_rect.y) \(.window_rect.width) \(.window_rect.height)"' | head -n1
}
panel_shown() { [[ -n $(panel_rect) ]]; }
only_the_panel() { [[ $(our_processes) == "$(cat "$BG_DIR/panel.pid")" ]]; }
our_processes() { pgrep -f -- "^$VANTREL_SAVER( |$)" || true; }
no_processes() { [[ -z $(our_processes) ]]; }

# A keyboard on the seat before the panel, so that its first key counts.
bg_start keyboard _exec_as_user wtype -s 3600000
vars=("VANTREL_REGISTRY=$VANTREL_REGISTRY")
for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
  [[ -n ${!name:-} ]] && vars+=("$name=${!name}")
done
bg_start panel _exec_as_user env -u DISPLAY "${vars[@]}" "$VANTREL_SAVER" --panel
if wait_until "$NATIVE_APPEAR_TIMEOUT" panel_shown; then
  pass "without an X server the panel opens as a Wayland window"
  read -r x y _ _ < <(panel_rect)
  if stays_true 2 only_the_panel; then
    pass "it starts no preview process"
  else
    fail "it starts no preview process" "$(pgrep -a -f -- "$VANTREL_SAVER")"
  fi
  # The monitor's screen (the template's 65,7 120x104 in base units of 6 by
  # 13, inside a bezel of 9) holds text on the dialog's face, not a black
  # preview: mostly light, with some dark text.
  sway_shot "${SWAY_OUTPUTS%% *}" "$NATIVE_TMP/shot.png"
  crop="162x117+$((x + 98 + 9))+$((y + 11 + 9))"
  read -r light dark < <(convert "$NATIVE_TMP/shot.png" -crop "$crop" +repage -colorspace gray -format %c histogram:info:- |
    awk '{ split($0, a, "gray\\("); v = a[2] + 0; if (v > 150) l += $1; else if (v < 80) d += $1 } END { print l + 0, d + 0 }')
  if ((light > 12000 && dark > 100)); then
    pass "the monitor's screen says why there is no preview"
  else
    fail "the monitor's screen says why there is no preview" "light $light, dark $dark pixels in $crop"
  fi
  convert "$NATIVE_TMP/shot.png" -crop "$crop" +repage "${VANTREL_ARTEFACTS:-$VANTREL_ROOT/out/test-artefacts}/native-panel-wayland-screen.png" 2>/dev/null
  sway_as_user wtype -k Escape
  if bg_wait panel "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc panel) == 0 ]]; then pass "Escape closes it with 0"; else
    fail "Escape closes it with 0" "status $(bg_rc panel): $(bg_output panel)"; fi
  check "no process of ours is left" wait_until 10 no_processes
else
  fail "without an X server the panel opens as a Wayland window" "$(bg_output panel)"
fi
[[ -f $VANTREL_REGISTRY ]] && fail "closing with Escape stores nothing" "$(cat "$VANTREL_REGISTRY")"

# shellcheck disable=SC2119  # no files beyond the runs' own output
no_sanitizer_report
report_summary
