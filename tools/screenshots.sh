#!/usr/bin/env bash
# Takes the README's pictures of the native saver on a private Xvfb screen:
# the full-screen run in its bomb phase and in its slideshow, a preview
# inside a small stand-in settings window, and the configuration dialog.
#
#   tools/screenshots.sh [OUTPUT-DIR]      (default: docs/)
#
# Needs the native build (./setup.sh native).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source tests/lib/native_e2e.sh

OUT=${1:-docs}
mkdir -p "$OUT"
VANTREL_NATIVE_SESSION=0
NATIVE_SCREEN=800x600x24
native_begin
# The shortest phases, so the slideshow comes within seconds.
set_settings ScreenDelay=1

# png WINDOW FILE: a window's pixels as a PNG.
png() { xprobe shot "$1" "$NATIVE_TMP/shot.ppm" && convert "$NATIVE_TMP/shot.ppm" "$2"; }

pointer_to 10 10
saver_start full /s
saver_wait_window full || die "the saver did not start: $(bg_output full)"
window=$(saver_window)
wait_until 60 window_shows "$window" bombs || die "no bombs on the screen"
png "$window" "$OUT/native-bombs.png"
wait_until 60 window_shows "$window" picture || die "no slideshow picture on the screen"
png "$window" "$OUT/native-slideshow.png"
xdotool key space
bg_wait full || die "the saver did not close on a key"

panel_start panel 320x240+240+180 || die "no panel window"
saver_start preview /p "$PANEL"
wait_until 60 window_shows "$PANEL" bombs || die "no bombs in the preview"
png "$PANEL" "$OUT/native-preview.png"
xprobe destroy "$PANEL"
bg_wait preview || die "the preview did not end with its window"

# The configuration dialog, with the settings it starts from when none are stored.
rm -f "$VANTREL_REGISTRY"
saver_start config /c
_dialog_up() { xdotool search --onlyvisible --name '^Dialog$' >/dev/null 2>&1; }
wait_until 60 _dialog_up || die "no configuration dialog"
dialog=$(xdotool search --onlyvisible --name '^Dialog$' | head -n1)
# Its controls paint after the dialog itself: taken once the picture is in
# and two looks in a row see the same pixels.
_dialog_drawn() {
  mv -f "$NATIVE_TMP/dialog.ppm" "$NATIVE_TMP/dialog.before.ppm" 2>/dev/null
  xprobe shot "$dialog" "$NATIVE_TMP/dialog.ppm" &&
    (($(convert "$NATIVE_TMP/dialog.ppm" -unique-colors -depth 8 txt:- | grep -c '^[0-9]') > 16)) &&
    cmp -s "$NATIVE_TMP/dialog.ppm" "$NATIVE_TMP/dialog.before.ppm"
}
wait_until 60 _dialog_drawn || die "the dialog did not draw its controls"
convert "$NATIVE_TMP/dialog.ppm" "$OUT/native-config-dialog.png"
pointer_to 790 590
xdotool key Escape
bg_wait config || die "the dialog did not close on Escape"

log "wrote $OUT/native-bombs.png, $OUT/native-slideshow.png, $OUT/native-preview.png and $OUT/native-config-dialog.png"
