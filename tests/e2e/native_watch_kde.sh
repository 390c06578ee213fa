#!/usr/bin/env bash
# The watcher on KWin (headless, two outputs) with ScreenSaveTimeOut "3": it
# learns of idle through ext-idle-notify-v1, starts a saver that covers both
# outputs, lets input end it and idle bring it back, keeps it off while a
# visible window holds a Wayland idle inhibitor, stays off with
# ScreenSaveActive "0", stays alone in its session, wakes for nothing at
# rest, follows a new timeout in the file, and ends with KWin.
# Input comes from KWin's own fake input (tests/e2e/kwin_input), pixels from
# its screenshot service.
#
# Everything runs as the compositor's own user (tests/lib/kwin.sh makes one),
# on KWin's session bus. When KWin itself cannot run here, the script says
# why and counts nothing.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/kwin.sh
source "$(dirname "$0")/../lib/kwin.sh"
# shellcheck source=tests/lib/watch.sh
source "$(dirname "$0")/../lib/watch.sh"

WL_IDLE_INHIBIT=${WL_IDLE_INHIBIT:-$VANTREL_ROOT/build/tests/e2e/wl_idle_inhibit}
# The desktop's colour: an output that shows it is not covered.
DESKTOP='#C02080'
KEY_SPACE=57

NATIVE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-watch-kde.XXXXXX")
chmod 755 "$NATIVE_TMP"
BG_DIR=$NATIVE_TMP
finish() {
  watch_end
  bg_kill_all
  kwin_cleanup
  rm -rf "$NATIVE_TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

require_built "$VANTREL_SAVER" "$WL_IDLE_INHIBIT"
require_tools swaybg

unset VANTREL_BACKEND XSCREENSAVER_WINDOW
kwin_require 2 800x600
OUTPUTS=("${KWIN_OUTPUTS[@]}")

# _exec_as_user COMMAND...: becomes COMMAND, run as the compositor's user in
# its session's environment, so that a background pid is the program's own.
_exec_as_user() {
  local KWIN_COMMAND
  _kwin_user_command "$@"
  exec "${KWIN_COMMAND[@]}"
}
# KWin's session bus is in the user's environment; no system bus, so that
# no logind of the machine's counts here.
SESSION=(DBUS_SYSTEM_BUS_ADDRESS="unix:path=$NATIVE_TMP/no-system-bus")
for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
  [[ -n ${!name:-} ]] && SESSION+=("$name=${!name}")
done
as_session() { kwin_as_user env "${SESSION[@]}" "$@"; }
WATCH_RUN=(_exec_as_user)
watch_begin "$KWIN_USER"

input() { kwin_input key "$KEY_SPACE"; }
output_kind() {
  local shot=$NATIVE_TMP/$1.ppm
  rm -f "$shot"
  kwin_shot "$1" "$shot" >/dev/null 2>&1 && image_shows "$shot" || echo "no screenshot"
}
# shellcheck source=tests/lib/watch_compositor.sh
source "$(dirname "$0")/../lib/watch_compositor.sh"

bg_start desktop _exec_as_user swaybg -c "$DESKTOP" -m solid_color
_desktop_shown() { saver_gone nobody; }
if ! wait_until 30 _desktop_shown; then
  fail "setup: the desktop shows its colour on both outputs" "$(screens nobody)" "$(bg_output desktop | tail -n 3)"
  report_summary
  exit 1
fi

# --- idle and input -------------------------------------------------------------

watch_settings 1 3
if watch_start main "${SESSION[@]}" &&
  watch_log main | grep -q 'watching for idle with ext-idle-notify-v1 (Wayland), after 3 s'; then
  pass "the watcher says it uses ext-idle-notify-v1 (Wayland), after 3 s"
else
  fail "the watcher says it uses ext-idle-notify-v1 (Wayland), after 3 s" "$(watch_log main)"
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

# --- a Wayland idle inhibitor -----------------------------------------------------

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

# --- one per session, turned off, at rest and the end with KWin ----------------------

second_watcher_cases
turned_off_cases
rest_and_end_cases KWin kill "$KWIN_PID"

no_sanitizer_report
report_summary
