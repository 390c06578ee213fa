#!/usr/bin/env bash
# The watcher on sway (headless, two outputs) with ScreenSaveTimeOut "3": it
# learns of idle through org_kde_kwin_idle (this sway has no
# ext-idle-notify-v1), starts a saver that covers both outputs, lets input
# end it and idle bring it back, keeps it off while a visible window holds a
# Wayland idle inhibitor or a client holds an org.freedesktop.ScreenSaver
# inhibit (served by the watcher itself on the session's private bus), lets
# it come when that client is killed, stays off with ScreenSaveActive "0",
# stays alone in its session, wakes for nothing at rest, follows a new
# timeout in the file, and ends with sway.
#
# Everything runs as the compositor's own user (tests/lib/sway.sh makes one),
# with a session bus of that user's. When sway itself cannot run here, the
# script says why and counts nothing.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/sway.sh
source "$(dirname "$0")/../lib/sway.sh"
# shellcheck source=tests/lib/watch.sh
source "$(dirname "$0")/../lib/watch.sh"

WL_IDLE_INHIBIT=${WL_IDLE_INHIBIT:-$VANTREL_ROOT/build/tests/e2e/wl_idle_inhibit}
INHIBIT_CLIENT=${INHIBIT_CLIENT:-$VANTREL_ROOT/build/tests/e2e/inhibit_client}
# The desktop's colour: an output that shows it is not covered.
DESKTOP='#C02080'

NATIVE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-watch-sway.XXXXXX")
chmod 755 "$NATIVE_TMP"
BG_DIR=$NATIVE_TMP
finish() {
  watch_end
  bg_kill_all
  sway_cleanup
  rm -rf "$NATIVE_TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

require_built "$VANTREL_SAVER" "$WL_IDLE_INHIBIT" "$INHIBIT_CLIENT"
require_tools swaybg wtype dbus-daemon

unset VANTREL_BACKEND XSCREENSAVER_WINDOW
sway_require 800x600+0+0 640x480+800+0
OUTPUTS=("${SWAY_OUTPUTS[@]}")

# As the compositor's user, with the pid the program's own.
_exec_as_user() { sway_exec_as_user "$@"; }

# The session's bus, its user's own; no system bus, so that no logind of
# the machine's counts here.
BUS=unix:path=$SWAY_RUNTIME_DIR/bus
bg_start bus _exec_as_user dbus-daemon --session --nofork --nopidfile --address="$BUS"
if ! wait_until 20 test -S "$SWAY_RUNTIME_DIR/bus"; then
  fail "setup: a session bus for sway's user" "$(bg_output bus)"
  report_summary
  exit 1
fi
SESSION=(DBUS_SESSION_BUS_ADDRESS="$BUS" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$NATIVE_TMP/no-system-bus")
# A sanitized build's options reach the watcher and, through it, its savers.
for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
  [[ -n ${!name:-} ]] && SESSION+=("$name=${!name}")
done
# Programs of the session: the session's variables, then COMMAND.
as_session() { sway_as_user env "${SESSION[@]}" "$@"; }
WATCH_RUN=(_exec_as_user)
watch_begin "$SWAY_USER"

# Input the compositor counts: a key from a keyboard new to the seat (wtype
# makes one each time).
input() { sway_as_user wtype -k space; }
# What an output shows: "other" while the desktop's colour (or a window) is
# to be seen.
output_kind() {
  local shot=$NATIVE_TMP/$1.ppm
  rm -f "$shot"
  sway_shot "$1" "$shot" >/dev/null 2>&1 && image_shows "$shot" || echo "no screenshot"
}
# shellcheck source=tests/lib/watch_compositor.sh
source "$(dirname "$0")/../lib/watch_compositor.sh"

sway_as_user swaymsg "output * bg $DESKTOP solid_color" >/dev/null
_desktop_shown() { saver_gone nobody; }
if ! wait_until 30 _desktop_shown; then
  fail "setup: the desktop shows its colour on both outputs" "$(screens nobody)"
  report_summary
  exit 1
fi

# --- idle and input -------------------------------------------------------------

watch_settings 1 3
if watch_start main "${SESSION[@]}" &&
  watch_log main | grep -q 'watching for idle with org_kde_kwin_idle (Wayland), after 3 s'; then
  pass "the watcher says it uses org_kde_kwin_idle (Wayland), after 3 s"
else
  fail "the watcher says it uses org_kde_kwin_idle (Wayland), after 3 s" "$(watch_log main)"
  report_summary
  exit 1
fi

stamp=$(stamped_input)
comes_after "with no input a saver covers both outputs within 1 s after 3 s" "$stamp" main 2.9 4.0

stamp=$(stamped_input)
if wait_until 10 saver_gone main; then
  pass "input ends the saver: both outputs show the desktop again"
else
  fail "input ends the saver: both outputs show the desktop again" "$(screens main)"
fi
comes_after "3 idle seconds bring it back" "$stamp" main 2.9 4.0

# --- holders of idle --------------------------------------------------------------

# A video that starts over the saver: this sway reports no input while an
# inhibitor holds, so only the saver's own clean end tells the watcher of the
# key that closed it; after the video the saver must still come.
bg_start video _exec_as_user "$WL_IDLE_INHIBIT"
_inhibiting() { bg_output video | grep -q '^inhibiting' || bg_done video; }
if wait_until 10 _inhibiting && bg_running video && input >/dev/null 2>&1 && wait_until 10 saver_gone main &&
  watch_no_saver_for main 5; then
  stamp=$(now)
  bg_kill video
  comes_after "a video started over the saver: the key that closes it counts, and the saver comes after the video" \
    "$stamp" main 0 4.0
else
  fail "a video started over the saver: the key that closes it counts, and the saver comes after the video" \
    "$(bg_output video)" "$(watch_log main)"
fi
bg_kill video

# A Wayland idle inhibitor on a visible window.
clear_saver main
bg_start video _exec_as_user "$WL_IDLE_INHIBIT"
_inhibiting() { bg_output video | grep -q '^inhibiting' || bg_done video; }
if wait_until 10 _inhibiting && bg_running video; then
  if watch_no_saver_for main 10; then
    pass "a visible window's Wayland idle inhibitor keeps the saver off for 10 s"
  else
    fail "a visible window's Wayland idle inhibitor keeps the saver off for 10 s" "$(watch_log main)"
  fi
  stamp=$(now)
  bg_kill video
  comes_after "it comes within 4 s of the inhibitor's release" "$stamp" main 0 4.0
else
  fail "a visible window's Wayland idle inhibitor keeps the saver off for 10 s" \
    "the window did not come: $(bg_output video)"
fi
bg_kill video

# An org.freedesktop.ScreenSaver inhibit. The client holds it until a signal
# or the end of its standard input: a FIFO it opens both ways itself never
# ends.
HOLD=$NATIVE_TMP/hold.fifo
mkfifo "$HOLD"
_hold_open() {
  exec <>"$HOLD"
  _exec_as_user "$@"
}
inhibit_holds() {
  bg_start "$1" _hold_open env "${SESSION[@]}" "$INHIBIT_CLIENT" "${@:2}"
  _inhibit_taken() { bg_output "$1" | grep -q '^cookie' || bg_done "$1"; }
  wait_until 10 _inhibit_taken "$1" && bg_running "$1"
}
clear_saver main
if inhibit_holds player player "playing a video"; then
  if watch_no_saver_for main 10; then
    pass "an org.freedesktop.ScreenSaver inhibit keeps the saver off for 10 s"
  else
    fail "an org.freedesktop.ScreenSaver inhibit keeps the saver off for 10 s" "$(watch_log main)"
  fi
  stamp=$(now)
  bg_kill player
  comes_after "it comes within 4 s of UnInhibit" "$stamp" main 0 4.0
else
  fail "an org.freedesktop.ScreenSaver inhibit keeps the saver off for 10 s" "no inhibit taken: $(bg_output player)" \
    "$(watch_log main)"
fi

clear_saver main
if inhibit_holds killed --path /ScreenSaver killed "playing a video"; then
  watch_no_saver_for main 4
  held_off=$?
  stamp=$(now)
  kill -KILL "$(cat "$BG_DIR/killed.pid")"
  if ((held_off == 0)); then
    comes_after "a holder killed with SIGKILL lets the saver come" "$stamp" main 0 4.0
  else
    fail "a holder killed with SIGKILL lets the saver come" "the inhibit did not hold" "$(watch_log main)"
  fi
else
  fail "a holder killed with SIGKILL lets the saver come" "no inhibit taken: $(bg_output killed)" "$(watch_log main)"
fi

# --- one per session, turned off, at rest and the end with sway ----------------------

second_watcher_cases
turned_off_cases
rest_and_end_cases sway _swaymsg exit

no_sanitizer_report
report_summary
