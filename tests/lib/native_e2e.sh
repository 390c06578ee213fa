# Helpers for the end-to-end scripts that drive the native vantrel-saver on
# an X server. Source it from a test script, then call native_begin.
#
# A script runs on the display test.sh prepared (VANTREL_NATIVE_SESSION=1
# with DISPLAY exported), or, started on its own, makes a private Xvfb for
# itself and removes it at the end. No Wine is involved.

[[ -n ${VANTREL_LIB_NATIVE_E2E:-} ]] && return 0
VANTREL_LIB_NATIVE_E2E=1

# shellcheck source=tests/lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck source=tests/lib/xsession.sh
source "$(dirname "${BASH_SOURCE[0]}")/xsession.sh"

# These scripts drive the saver on an X server; run from a Wayland desktop,
# the saver would otherwise go to the compositor instead.
unset WAYLAND_DISPLAY

VANTREL_SAVER=${VANTREL_SAVER:-$VANTREL_ROOT/build/vantrel-saver}
X11_PROBE=${X11_PROBE:-$VANTREL_ROOT/build/tests/e2e/x11_probe}

# Generous: a small CI machine under load can take seconds for a first frame.
NATIVE_APPEAR_TIMEOUT=${NATIVE_APPEAR_TIMEOUT:-30}
NATIVE_EXIT_TIMEOUT=${NATIVE_EXIT_TIMEOUT:-20}

NATIVE_TMP=
NATIVE_OWN_SESSION=0
NATIVE_EXTRA_XVFB=()

native_end() {
  bg_kill_all
  local pid
  for pid in "${NATIVE_EXTRA_XVFB[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if ((NATIVE_OWN_SESSION)); then xsession_cleanup; fi
  [[ -n $NATIVE_TMP ]] && rm -rf "$NATIVE_TMP"
  return 0
}

native_begin() {
  trap native_end EXIT
  trap 'exit 130' INT TERM
  NATIVE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-native.XXXXXX")
  BG_DIR=$NATIVE_TMP
  local binary
  for binary in "$VANTREL_SAVER" "$X11_PROBE"; do
    [[ -x $binary ]] || { fail "setup: $binary exists" "build it: ./setup.sh native"; report_summary; exit 1; }
  done
  # Settings of our own, never the user's; and the X server, whatever the
  # caller's environment asked of the layer.
  export VANTREL_REGISTRY=$NATIVE_TMP/registry.reg
  export VANTREL_BACKEND=x11
  unset XSCREENSAVER_WINDOW
  if [[ ${VANTREL_NATIVE_SESSION:-0} != 1 ]]; then
    NATIVE_OWN_SESSION=1
    if ! xsession_start_display "${NATIVE_SCREEN:-1024x768x24}"; then
      fail "setup: a private X display"
      report_summary
      exit 1
    fi
  fi
  if ! wait_until "$NATIVE_EXIT_TIMEOUT" no_saver_window; then
    fail "setup: no saver window is open before the tests" "$(xprobe find)"
    report_summary
    exit 1
  fi
}

# native_extra_display SCREEN XVFB-ARGS...: another Xvfb, stopped at the
# end; its DISPLAY value is left in EXTRA_DISPLAY. (Not for $(...): the
# server would not be known to the clean-up.)
EXTRA_DISPLAY=
native_extra_display() {
  local screen=$1; shift
  local numfile=$NATIVE_TMP/extra-display.$RANDOM
  : >"$numfile"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset "$@" 3>"$numfile" \
    >"$numfile.log" 2>&1 &
  NATIVE_EXTRA_XVFB+=($!)
  wait_until 30 grep -q '^[0-9][0-9]*$' "$numfile" || return 1
  EXTRA_DISPLAY=":$(head -n1 "$numfile")"
}

# --- the saver and the probe ---------------------------------------------------

saver_start() { local id=$1; shift; bg_start "$id" "$VANTREL_SAVER" "$@"; }
saver_pid() { cat "$BG_DIR/$1.pid"; }

# saver_exit_code ARGS...: run the saver to its end and print its status
# ("timeout" when it had not ended in time; it is then killed).
NATIVE_RUN_SEQ=0
saver_exit_code() {
  local id=run$((NATIVE_RUN_SEQ += 1))
  saver_start "$id" "$@"
  if bg_wait "$id" "$NATIVE_EXIT_TIMEOUT"; then
    bg_rc "$id"
  else
    bg_kill "$id"
    echo timeout
  fi
}

# refused_saying NAME LINE COMMAND...: COMMAND (a saver run) must end with
# 255 at once and print one line, "vantrel-saver: LINE", and nothing else.
refused_saying() {
  local name=$1 line=$2; shift 2
  local out rc
  out=$(timeout -k 5 "$NATIVE_EXIT_TIMEOUT" "$@" 2>&1)
  rc=$?
  if [[ $rc == 255 && $out == "vantrel-saver: $line" ]]; then
    pass "$name"
  else
    fail "$name" "status $rc, want 255" "output: $out" "want: vantrel-saver: $line"
  fi
}

xprobe() { timeout -k 5 30 "$X11_PROBE" "$@"; }

# field LINE KEY: the value of KEY=value in a probe line.
field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<<"$1" | head -n1; }

# The id of the topmost top-level saver window titled TITLE ("Screen
# Saver", the full-screen one, unless given), or nothing.
saver_window() {
  local line
  line=$(xprobe find "${1:-Screen Saver}") && field "$line" window
}
saver_window_shown() {
  local window
  window=$(saver_window) && [[ -n $window ]] && [[ $(field "$(xprobe info "$window")" viewable) == 1 ]]
}
no_saver_window() { ! xprobe find >/dev/null; }

# Waits for the full-screen window of a saver started as ID; fails early
# when the saver has already ended.
saver_wait_window() {
  local id=$1
  _saver_window_or_end() { saver_window_shown || bg_done "$id"; }
  wait_until "$NATIVE_APPEAR_TIMEOUT" _saver_window_or_end && bg_running "$id"
}

# panel_start ID GEOMETRY: a stand-in settings panel, its window id left in
# PANEL. (Not for $(...): the panel would hold the substitution open.)
PANEL=
panel_start() {
  local id=$1
  bg_start "$id" "$X11_PROBE" makewindow "$2"
  _panel_up() { bg_output "$id" | grep -q '^window='; }
  wait_until "$NATIVE_APPEAR_TIMEOUT" _panel_up || return 1
  PANEL=$(bg_output "$id" | sed -n 's/^window=//p' | head -n1)
}

# The first child of a window (a preview inside a panel), or nothing.
first_child() { xprobe children "$1" 2>/dev/null | head -n1; }

# --- what is on the screen -----------------------------------------------------

# shows WINDOW: what a window shows now, as image_shows says.
shows() {
  local shot=$NATIVE_TMP/shot.ppm
  xprobe shot "$1" "$shot" 2>/dev/null || { echo other; return; }
  image_shows "$shot"
}
window_shows() { [[ $(shows "$1") == "$2" ]]; }

cursor_is() { [[ $(xprobe cursor) == "cursor=$1" ]]; }

# draws_on ID WINDOW [FRAMES]: WINDOW goes on to show FRAMES pictures (2
# unless given), each unlike the one before, the first unlike what it showed
# when this was called, while the run ID goes on. Fails as soon as the run
# ends, or when nothing new is drawn in time.
#
# This is how a script knows that input sent before the call has been
# handled: the saver's loop reads all that the X server has queued for it
# before it takes a timer, and it draws on timers only. (Only animated
# scenes will do: the bombs, not a picture of the slideshow.)
draws_on() {
  local id=$1 window=$2 frames=${3:-2} i
  local last=$NATIVE_TMP/frame-last.ppm now=$NATIVE_TMP/frame-now.ppm
  xprobe shot "$window" "$last" 2>/dev/null || return 1
  _new_frame_or_end() {
    bg_done "$id" || { xprobe shot "$window" "$now" 2>/dev/null && ! cmp -s "$last" "$now"; }
  }
  for ((i = 0; i < frames; i++)); do
    wait_until "$NATIVE_APPEAR_TIMEOUT" _new_frame_or_end && bg_running "$id" || return 1
    mv "$now" "$last"
  done
}

# output_draws_on ID OUTPUT FRAMES: what OUTPUT shows changes FRAMES times
# while the run ID goes on; fails as soon as the run ends. The compositor's
# counterpart of draws_on: the script's own output_shot OUTPUT leaves a fresh
# picture of OUTPUT in $NATIVE_TMP/OUTPUT.ppm.
output_draws_on() {
  local id=$1 output=$2 frames=$3 i
  output_shot "$output" && cp "$NATIVE_TMP/$output.ppm" "$NATIVE_TMP/last-frame.ppm" || return 1
  _changed_or_end() {
    bg_done "$id" || { output_shot "$output" && ! cmp -s "$NATIVE_TMP/last-frame.ppm" "$NATIVE_TMP/$output.ppm"; }
  }
  for ((i = 0; i < frames; i++)); do
    wait_until "$NATIVE_APPEAR_TIMEOUT" _changed_or_end && bg_running "$id" || return 1
    cp "$NATIVE_TMP/$output.ppm" "$NATIVE_TMP/last-frame.ppm"
  done
}

# --- input ---------------------------------------------------------------------

pointer_at() { [[ $(xdotool getmouselocation 2>/dev/null) == "x:$1 y:$2 "* ]]; }

# Moves the X pointer and waits until the server reports it there.
pointer_to() {
  xdotool mousemove "$1" "$2" && wait_until 10 pointer_at "$1" "$2"
}

# --- settings --------------------------------------------------------------------

# set_settings NAME=VALUE...: the saver's settings as DWORDs in the registry file.
set_settings() {
  {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Kestrelix\\VantrelScreenSaver]\n'
    local setting
    for setting in "$@"; do
      printf '"%s"=dword:%08x\n' "${setting%%=*}" "${setting#*=}"
    done
  } >"$VANTREL_REGISTRY"
}

# A description of a saver run for failure messages.
describe() {
  local id=$1
  printf 'exit status: %s\n' "$(bg_rc "$id")"
  printf 'saver window: %s\n' "$(xprobe find)"
  local out; out=$(bg_output "$id")
  [[ -n $out ]] && printf 'output: %s\n' "$out"
  return 0
}

# --- what every compositor's script ends with --------------------------------------

# Seconds (to the millisecond) from the time stamp $1 to the end of the run $2.
seconds_to_end() {
  awk -v a="$1" -v b="$(stat -c %.3Y "$BG_DIR/$2.rc")" 'BEGIN { printf "%.2f", b - a }'
}

# killed_under_saver NAME ID PID [SECONDS]: kills the compositor PID under the
# saver run ID, which is up; the run must end with 1 within a second (it is
# given SECONDS, NATIVE_EXIT_TIMEOUT unless told, to end at all).
killed_under_saver() {
  local name=$1 id=$2 pid=$3 limit=${4:-$NATIVE_EXIT_TIMEOUT} started took
  started=$(date +%s.%N)
  kill -KILL "$pid"
  if ! bg_wait "$id" "$limit"; then
    fail "$name" "still running after $limit s"
    return 1
  fi
  took=$(seconds_to_end "$started" "$id")
  if [[ $(bg_rc "$id") == 1 ]] && awk -v t="$took" 'BEGIN { exit !(t <= 1.0) }'; then
    pass "$name (${took} s)"
  else
    fail "$name" "status $(bg_rc "$id") after $took s"
  fi
}

# no_sanitizer_report [FILE...]: a sanitized build reports on its error
# stream, also in runs that were ended from outside and so had no status to
# look at: any report in the runs' output (and FILEs) fails.
no_sanitizer_report() {
  local reports
  reports=$(grep -l -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$BG_DIR"/*.out "$@" 2>/dev/null)
  [[ -z $reports ]] ||
    fail "no sanitizer report in any run" "$(xargs grep -h -A3 -E 'ERROR: |runtime error:' <<<"$reports" | head -n 20)"
}
