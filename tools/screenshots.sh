#!/usr/bin/env bash
# Takes the README's pictures of the native saver on a private Xvfb screen:
# the full-screen run in its bomb phase and in its slideshow, and a preview
# inside a small stand-in settings window.
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

log "wrote $OUT/native-bombs.png, $OUT/native-slideshow.png and $OUT/native-preview.png"
