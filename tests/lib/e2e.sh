# Helpers for the end-to-end scripts that drive the real VantrelSaver.scr under
# Wine. Source it from a test script, then call e2e_begin.
#
# A script runs inside the display and prefix that test.sh prepared
# (VANTREL_SESSION=1 with DISPLAY and WINEPREFIX exported), or, started on its
# own, makes a private session for itself and removes it at the end.

[[ -n ${VANTREL_LIB_E2E:-} ]] && return 0
VANTREL_LIB_E2E=1

# shellcheck source=tests/lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck source=tests/lib/xsession.sh
source "$(dirname "${BASH_SOURCE[0]}")/xsession.sh"

# shellcheck source=tests/lib/machine.sh
source "$(dirname "${BASH_SOURCE[0]}")/machine.sh"

# Which Windows build: test.sh names it (win32 or win64) with its programs; a
# script started on its own takes the 32-bit build where this machine runs
# it, the 64-bit one elsewhere.
if [[ -z ${VANTREL_WIN_ARCH:-} ]]; then
  if machine_wine_runs win32; then VANTREL_WIN_ARCH=win32; else VANTREL_WIN_ARCH=win64; fi
fi
if [[ $VANTREL_WIN_ARCH == win64 ]]; then E2E_WIN_TREE=build-win64; else E2E_WIN_TREE=build-win; fi
VANTREL_SCR=${VANTREL_SCR:-$VANTREL_ROOT/$E2E_WIN_TREE/VantrelSaver.scr}
VANTREL_PROBE=${VANTREL_PROBE:-$VANTREL_ROOT/$E2E_WIN_TREE/tests/e2e/e2e_probe.exe}

# How long to wait for things that should happen (generous: the first start
# of a Wine program on a small CI machine can take many seconds).
E2E_APPEAR_TIMEOUT=${E2E_APPEAR_TIMEOUT:-60}
E2E_EXIT_TIMEOUT=${E2E_EXIT_TIMEOUT:-30}

# The saver's settings in the prefix's registry.
E2E_SETTINGS_KEY='HKCU\SOFTWARE\Kestrelix\VantrelScreenSaver'

E2E_TMP=
E2E_OWN_SESSION=0

e2e_end() {
  bg_kill_all
  if ((E2E_OWN_SESSION)); then xsession_cleanup; fi
  [[ -n $E2E_TMP ]] && rm -rf "$E2E_TMP"
  return 0
}

e2e_begin() {
  trap e2e_end EXIT
  trap 'exit 130' INT TERM
  E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-e2e.XXXXXX")
  BG_DIR=$E2E_TMP
  [[ -f $VANTREL_SCR ]] || { fail "setup: $VANTREL_SCR exists" "build it: ./setup.sh windows"; report_summary; exit 1; }
  [[ -f $VANTREL_PROBE ]] || { fail "setup: $VANTREL_PROBE exists" "build it: ./setup.sh windows"; report_summary; exit 1; }
  if [[ ${VANTREL_SESSION:-0} != 1 ]]; then
    E2E_OWN_SESSION=1
    if ! { xsession_start_display && xsession_start_wine "$VANTREL_WIN_ARCH"; }; then
      fail "setup: a private X display and Wine prefix"
      report_summary
      exit 1
    fi
  fi
  # A saver left behind by an earlier script would answer our look-ups.
  if ! wait_until "$E2E_EXIT_TIMEOUT" no_saver_window; then
    fail "setup: no saver window is open before the tests" "$(probe find)"
    report_summary
    exit 1
  fi
}

# --- the registry ---------------------------------------------------------------

# wine_reg ARGS...: `wine reg ARGS...` for a test's set-up. Under a loaded
# machine a call now and then fails while wineserver is busy saving; it is
# tried three times, and the last attempt's words are kept in WINE_REG_ERROR
# for the failure message.
WINE_REG_ERROR=
wine_reg() {
  local attempt
  for attempt in 1 2 3; do
    WINE_REG_ERROR=$(wine reg "$@" 2>&1 >/dev/null) && return 0
    sleep 1
  done
  WINE_REG_ERROR="wine reg $*: ${WINE_REG_ERROR:-failed}"
  return 1
}

# --- the saver and the probe --------------------------------------------------

saver_start() { local id=$1; shift; bg_start "$id" wine "$VANTREL_SCR" "$@"; }

# saver_exit_code ARGS...: run the saver to its end and print its exit status
# ("timeout" when it had not ended within E2E_EXIT_TIMEOUT, e.g. because it
# sits in a dialog; it is then killed, so a test can never hang on it).
E2E_RUN_SEQ=0
saver_exit_code() {
  local id=run$((E2E_RUN_SEQ += 1))
  saver_start "$id" "$@"
  if bg_wait "$id" "$E2E_EXIT_TIMEOUT"; then
    bg_rc "$id"
  else
    bg_kill "$id"
    echo timeout
  fi
}

# probe ARGS...: the probe's one line of output (Windows line ends removed);
# returns the probe's exit status.
probe() {
  local out rc
  out=$(timeout -k 5 60 wine "$VANTREL_PROBE" "$@" 2>/dev/null)
  rc=$?
  printf '%s\n' "${out//$'\r'/}"
  return $rc
}

# field LINE KEY: the value of KEY=value in a probe line.
field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<<"$1" | head -n1; }

# Whether a full-screen saver is on screen. A closing saver hides its window
# at once, but under Wine without a window manager the window then lingers,
# invisible, for about two seconds while the X side is taken down (and the
# process with it): visibility is the prompt sign of a close.
saver_window_shown() {
  local info
  info=$(probe find) && [[ $(field "$info" visible) == 1 ]]
}
no_saver_window() { ! probe find >/dev/null; }

# Wait for the full-screen window of a saver started as ID; fails early when
# the saver has already ended.
saver_wait_window() {
  local id=$1
  _saver_window_or_end() { saver_window_shown || bg_done "$id"; }
  wait_until "$E2E_APPEAR_TIMEOUT" _saver_window_or_end && bg_running "$id"
}

# wine_draws_on ID [FRAMES]: the screen goes on to show FRAMES pictures (2
# unless given), each unlike the one before, while the run ID goes on; fails
# as soon as the run ends or nothing new comes in time.
#
# A watch that input does NOT end something would pass on a Wine that acts
# on input late; this is the sign that input sent before the call has been
# acted on: Wine hands a program the input the X server queued for it before
# any timer, and the saver draws on timers only. (Only the bombs will do,
# not a still picture of the slideshow: BombsOnly.)
wine_draws_on() {
  local id=$1 frames=${2:-2} i last=$E2E_TMP/frame-last.ppm now=$E2E_TMP/frame-now.ppm
  import -window root "$last" 2>/dev/null || return 1
  _new_frame_or_end() { bg_done "$id" || { import -window root "$now" 2>/dev/null && ! cmp -s "$last" "$now"; }; }
  for ((i = 0; i < frames; i++)); do
    wait_until "$E2E_APPEAR_TIMEOUT" _new_frame_or_end && bg_running "$id" || return 1
    mv "$now" "$last"
  done
}

# --- input --------------------------------------------------------------------

pointer_at() { [[ $(xdotool getmouselocation 2>/dev/null) == "x:$1 y:$2 "* ]]; }

# Moves the X pointer and waits until the server reports it there. (xdotool's
# own --sync never returns when the pointer is already in place.)
pointer_to() {
  xdotool mousemove "$1" "$2" && wait_until 10 pointer_at "$1" "$2"
}

# A description of a saver run for failure messages.
describe() {
  local id=$1
  printf 'exit status: %s\n' "$(bg_rc "$id")"
  printf 'windows: %s\n' "$(probe find)"
  local out; out=$(bg_output "$id")
  [[ -n $out ]] && printf 'output: %s\n' "$out"
  return 0
}
