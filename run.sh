#!/usr/bin/env bash
# Builds what it needs, then shows the saver.
#
# With a display ($DISPLAY set) the native saver (build/vantrel-saver) runs
# on it full-screen until you press a key, click or move the mouse;
# SAVER_BACKEND=wine runs the Windows build under Wine instead. Without a
# display the native build renders a short animation of it, off screen, into
# out/saver.gif (and its frames into out/frames/).
set -euo pipefail
cd "$(dirname "$0")"

source tests/lib/common.sh
source tests/lib/machine.sh

OUT_DIR=out
# Black, a bomb phase, a picture and the bombs again: each phase lasts 79
# paints at ScreenDelay 1.
ANIMATION_FRAMES=${ANIMATION_FRAMES:-200}

# Which build shows the saver on a display: "native" (the X11 program) or
# "wine" (VantrelSaver.scr under Wine).
SAVER_BACKEND=${SAVER_BACKEND:-native}

case $SAVER_BACKEND in
  wine | native) ;;
  *) die "SAVER_BACKEND must be wine or native, not '$SAVER_BACKEND'" ;;
esac

# The 32-bit build where this machine runs it, else the 64-bit one.
saver_command() {
  if [[ $SAVER_BACKEND == native ]]; then
    echo build/vantrel-saver /s
  elif machine_wine_runs win32; then
    echo wine build-win/VantrelSaver.scr /s
  else
    echo "${MACHINE_WINE64} build-win64/VantrelSaver.scr /s"
  fi
}

if [[ -n ${DISPLAY:-} ]]; then
  # Only the build that shows the saver, and what it needs, is set up here.
  if [[ $SAVER_BACKEND == wine ]]; then ./setup.sh windows; else ./setup.sh native; fi
  export WINEDEBUG=${WINEDEBUG:--all}
  # A first start in a new prefix would otherwise stop to offer the Mono and
  # Gecko installers, which the saver does not use.
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}
  log "running the saver on $DISPLAY; a key press or a mouse movement ends it"
  # shellcheck disable=SC2046
  exec $(saver_command)
fi

# No display: the real program on the headless desktop, frame by frame on a
# virtual clock, so it takes seconds whatever the machine.
./setup.sh native
rm -rf "$OUT_DIR/frames"
mkdir -p "$OUT_DIR"
VANTREL_BACKEND=headless build/vantrel-frames --size 640x480 --frames "$ANIMATION_FRAMES" --set ScreenDelay=1 \
  --out "$OUT_DIR/frames" --gif "$OUT_DIR/saver.gif" || die "the frame renderer failed"

echo "Animation of the running saver: $PWD/$OUT_DIR/saver.gif (frames in $PWD/$OUT_DIR/frames/)"
