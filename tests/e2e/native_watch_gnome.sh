#!/usr/bin/env bash
# The watcher (vantrel-saver --watch) on GNOME's compositor: a headless
# mutter with two virtual monitors, its idle learnt from mutter's
# IdleMonitor on the session bus, input from mutter's remote-desktop API
# (tests/e2e/mutter_input), ScreenSaveTimeOut "3". Shown: the saver covers
# both monitors within a second after 3 idle seconds; input ends it and 3
# idle seconds bring it back; our org.freedesktop.ScreenSaver (nobody else
# serves it here) keeps it off while a client holds an inhibit, on both
# object paths, until the client lets go or is killed; a second watcher
# leaves the first alone; ScreenSaveActive "0" keeps it off; the watcher
# ends with mutter.
#
# mutter offers no screenshots: what a saver shows is read from its Wayland
# protocol trace (WAYLAND_DEBUG), each process's apart
# (tests/e2e/stderr_per_process.cpp): the toplevel made fullscreen on an
# output, the buffers committed to it, and the trace's own clock for when.
# Everything runs as mutter's user (tests/lib/mutter.sh makes one). When
# mutter cannot run here for a limit of the machine, the script says why and
# counts nothing.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/mutter.sh
source "$(dirname "$0")/../lib/mutter.sh"
# shellcheck source=tests/lib/watch.sh
source "$(dirname "$0")/../lib/watch.sh"

MUTTER_INPUT=${MUTTER_INPUT:-$VANTREL_ROOT/build/tests/e2e/mutter_input}
INHIBIT_CLIENT=${INHIBIT_CLIENT:-$VANTREL_ROOT/build/tests/e2e/inhibit_client}
STDERR_APART=${STDERR_APART:-$VANTREL_ROOT/build/tests/e2e/stderr_per_process.so}

BIG_SIZE=1600x1200
SMALL_SIZE=1280x720
TIMEOUT=3

GW_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-watch-gnome.XXXXXX")
BG_DIR=$GW_TMP
finish() {
  { printf 'quit\n' >&9; } 2>/dev/null
  watch_end
  bg_kill_all
  mutter_cleanup
  rm -rf "$GW_TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

for binary in "$VANTREL_SAVER" "$MUTTER_INPUT" "$INHIBIT_CLIENT" "$STDERR_APART"; do
  [[ -e $binary ]] || {
    fail "setup: $binary exists" "build it: ./setup.sh native (the D-Bus helpers need libsystemd-dev)"
    report_summary
    exit 1
  }
done

# The watcher must find mutter on its own: Wayland and the session bus only.
unset VANTREL_BACKEND XSCREENSAVER_WINDOW
mutter_require "$BIG_SIZE" "$SMALL_SIZE"
BIG=${MUTTER_OUTPUTS[0]} SMALL=${MUTTER_OUTPUTS[1]}
chown "$MUTTER_USER" "$GW_TMP"

# _exec_as_user COMMAND...: becomes COMMAND, run as mutter's user in its
# session's environment; in the background its pid is the program's own.
_exec_as_user() {
  exec 9>&-
  local MUTTER_COMMAND
  mutter_user_command "$@"
  exec "${MUTTER_COMMAND[@]}"
}
as_user() {
  local MUTTER_COMMAND
  mutter_user_command "$@"
  "${MUTTER_COMMAND[@]}" 9>&-
}

# --- the input client ------------------------------------------------------------
INPUT_PIPE=$GW_TMP/input.pipe
mkfifo -m 600 "$INPUT_PIPE" && chown "$MUTTER_USER" "$INPUT_PIPE"
exec 9<>"$INPUT_PIPE"
_input_client() {
  exec <"$INPUT_PIPE"
  _exec_as_user "$MUTTER_INPUT"
}
bg_start input _input_client
_input_ready() { grep -q '^ready$' "$BG_DIR/input.out" 2>/dev/null || bg_done input; }
if ! wait_until 30 _input_ready || bg_done input; then
  fail "setup: a keyboard and a pointer from mutter's remote-desktop API" "$(bg_output input)"
  report_summary
  exit 1
fi
_answers() { grep -cE '^(ok|error)' "$BG_DIR/input.out" 2>/dev/null; }
input() {
  local before
  before=$(_answers)
  printf '%s\n' "$*" >&9
  _answered() { (($(_answers) > before)) || bg_done input; }
  wait_until 10 _answered && [[ $(grep -E '^(ok|error)' "$BG_DIR/input.out" | tail -n1) == ok ]] ||
    { log "input '$*': $(tail -n1 "$BG_DIR/input.out")"; return 1; }
}

# --- the watcher, its savers and their traces ---------------------------------------
# Each process the watcher starts writes its error stream (its protocol
# trace) to TRACE/PID; so does the watcher, whose own lines are those that
# start with "vantrel-saver:".
TRACE=$GW_TMP/trace
mkdir "$TRACE" && chown "$MUTTER_USER" "$TRACE"
watch_begin "$MUTTER_USER"
watch_settings 1 "$TIMEOUT"
WATCH_RUN=(_exec_as_user)

gw_log() {
  local pid
  bg_output "$1"
  pid=$(watch_pid "$1")
  [[ -n $pid && -f $TRACE/$pid ]] && grep '^vantrel-saver:' "$TRACE/$pid"
  return 0
}
_gw_watching() { gw_log "$1" | grep -q 'watching for idle'; }
_gw_watching_or_ended() { _gw_watching "$1" || bg_done "$1"; }
# gw_watch_start ID: a watcher, traced, as mutter's user; 0 once it watches.
gw_watch_start() {
  local id=$1 name
  local vars=(WAYLAND_DEBUG=1 LD_PRELOAD="$STDERR_APART" VANTREL_STDERR_DIR="$TRACE")
  for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [[ -n ${!name:-} ]] && vars+=("$name=${!name}")
  done
  WATCH_IDS+=("$id")
  bg_start "$id" "${WATCH_RUN[@]}" env VANTREL_REGISTRY="$VANTREL_REGISTRY" "${vars[@]}" "$VANTREL_SAVER" --watch
  wait_until "$WATCH_START_TIMEOUT" _gw_watching_or_ended "$id"
  _gw_watching "$id" && bg_running "$id"
}

# The trace of the process that the watcher's running saver started for
# OUTPUT (its first line names the monitor and the parent), if it runs.
output_trace() {
  local saver file
  for saver in $(watch_saver_pids first); do
    for file in "$TRACE"/*; do
      [[ -f $file && $(head -n1 "$file") == *" parent $saver monitor $1" ]] || continue
      [[ $(awk '{ print $3 }' "/proc/${file##*/}/stat" 2>/dev/null) == [RSD] ]] && { echo "$file"; return 0; }
    done
  done
  return 1
}

# shown_at FILE SIZE: the trace clock (microseconds, modulo 2^32) of the first
# commit of a SIZE buffer to a surface of a toplevel made fullscreen; fails
# when there is none.
shown_at() {
  awk -v want="$2" '
    function after(line, key,   i, rest) {
      i = index(line, key); if (!i) return ""
      rest = substr(line, i + length(key)); match(rest, /^[0-9]+/); return substr(rest, 1, RLENGTH)
    }
    / discarded / { next }
    /-> xdg_wm_base@[0-9]+\.get_xdg_surface\(/ { surfaceOf[after($0, "new id xdg_surface@")] = after($0, ", wl_surface@"); next }
    /-> xdg_surface@[0-9]+\.get_toplevel\(/ { toplevelSurface[after($0, "new id xdg_toplevel@")] = surfaceOf[after($0, "-> xdg_surface@")]; next }
    /-> xdg_toplevel@[0-9]+\.set_fullscreen\(/ { full[toplevelSurface[after($0, "-> xdg_toplevel@")]] = 1; next }
    /-> wl_shm_pool@[0-9]+\.create_buffer\(/ {
      split(substr($0, index($0, "create_buffer(") + 14), a, /[ ,]+/)
      size[after($0, "new id wl_buffer@")] = a[5] "x" a[6]; next
    }
    /-> wl_surface@[0-9]+\.attach\(/ { attached[after($0, "-> wl_surface@")] = size[after($0, "(wl_buffer@")]; next }
    /-> wl_surface@[0-9]+\.commit\(/ {
      s = after($0, "-> wl_surface@")
      if (full[s] && attached[s] == want) {
        stamp = substr($0, index($0, "[") + 1); stamp = substr(stamp, 1, index(stamp, "]") - 1)
        split(stamp, t, "."); printf "%.0f\n", t[1] * 1000 + t[2]; found = 1; exit
      }
    }
    END { exit !found }' "$1" 2>/dev/null
}

# Now on the trace clock: libwayland stamps with CLOCK_REALTIME in
# microseconds, kept in 32 bits.
trace_now() { echo $(($(date +%s%6N) % 4294967296)); }

# covered: both outputs have a live saver that shows a picture of their size.
covered() {
  local file
  for pair in "$BIG:$BIG_SIZE" "$SMALL:$SMALL_SIZE"; do
    file=$(output_trace "${pair%%:*}") && shown_at "$file" "${pair#*:}" >/dev/null || return 1
  done
}

# covered_after T0: seconds from T0 (trace clock) until the later of the two
# outputs was first shown.
covered_after() {
  local t0=$1 latest=0 file at
  for pair in "$BIG:$BIG_SIZE" "$SMALL:$SMALL_SIZE"; do
    file=$(output_trace "${pair%%:*}") && at=$(shown_at "$file" "${pair#*:}") || return 1
    at=$(((at - t0 + 4294967296) % 4294967296))
    ((at > latest)) && latest=$at
  done
  awk -v us="$latest" 'BEGIN { printf "%.2f", us / 1e6 }'
}

# expect_cover NAME T0 MIN MAX: the saver covers both outputs between MIN and
# MAX seconds after T0.
expect_cover() {
  local name=$1 t0=$2 min=$3 max=$4 took
  if wait_until 15 covered && took=$(covered_after "$t0") &&
    awk -v t="$took" -v a="$min" -v b="$max" 'BEGIN { exit !(t >= a && t <= b) }'; then
    pass "$name (${took} s)"
  else
    fail "$name" "covered after ${took:-never} s; savers: $(watch_saver_pids first | tr '\n' ' ')" \
      "$(for pair in "$BIG:$BIG_SIZE" "$SMALL:$SMALL_SIZE"; do
        file=$(output_trace "${pair%%:*}") && echo "${pair%%:*}: $(head -n1 "$file"), shown at $(shown_at "$file" "${pair#*:}") (T0 $t0)"
      done)" "$(gw_log first)"
  fi
}

# nudge: input that the idle monitor counts, and that ends a saver: the
# pointer there and back by 20 pixels (a saver may learn where the pointer
# is from the first motion only), then a key for the saver that has the
# keyboard. T0 is taken before the last of it is sent, so that the times
# measured from it are never shorter than the real ones.
nudge() {
  input move 20 0 && input move -20 0 || return 1
  T0=$(trace_now)
  input key Shift_L
}

# --- the watcher watches ---------------------------------------------------------------
if gw_watch_start first; then
  if gw_log first | grep -q 'watching for idle with org.gnome.Mutter.IdleMonitor'; then
    pass "the watcher says it uses mutter's IdleMonitor"
  else
    fail "the watcher says it uses mutter's IdleMonitor" "$(gw_log first)"
  fi
else
  fail "the watcher starts on mutter" "$(gw_log first)"
  report_summary
  exit 1
fi

# mutter had been idle before the watcher came: a saver may be up already.
nudge
watch_wait_savers first 0 15
nudge
expect_cover "no input for 3 s: a saver covers both outputs within 1 s after" "$T0" 2.9 4.0

# --- input ends it, 3 idle seconds bring it back ----------------------------------------
nudge
if watch_wait_savers first 0 10; then
  pass "input ends the saver"
else
  fail "input ends the saver" "savers: $(watch_savers first)" "$(gw_log first)"
fi
expect_cover "3 idle seconds after the input bring it back" "$T0" 2.9 4.0

# --- org.freedesktop.ScreenSaver: an inhibit keeps it off --------------------------------
# hold ID PATH: an inhibit_client on PATH, as the session's user, holding
# until its standard input (a pipe of ours) closes; 0 once it has a cookie.
hold() {
  local id=$1 path=$2
  mkfifo -m 600 "$GW_TMP/$id.in" && chown "$MUTTER_USER" "$GW_TMP/$id.in"
  _holder() { exec <"$GW_TMP/$1.in"; shift; _exec_as_user "$@"; }
  bg_start "$id" _holder "$id" "$INHIBIT_CLIENT" --path "$path" "player $id" "playing a video"
  local fd
  exec {fd}>"$GW_TMP/$id.in"
  eval "HOLD_$id=$fd"
  _cookie() { grep -q '^cookie [1-9]' "$BG_DIR/$1.out" 2>/dev/null || bg_done "$1"; }
  wait_until 15 _cookie "$id" && grep -q '^cookie [1-9]' "$BG_DIR/$id.out"
}
let_go() {
  local fd
  eval "fd=\${HOLD_$1:-}"
  [[ -n $fd ]] && exec {fd}>&-
  eval "HOLD_$1="
}
# no_saver_runs: no "vantrel-saver /s" of the session's user runs at all.
no_saver_runs() { ! pgrep -u "$MUTTER_USER" -f -- "vantrel-saver /s( |$)" >/dev/null; }
cookie_of() { sed -n 's/^cookie //p' "$BG_DIR/$1.out" | head -n1; }
busctl_ss() { as_user timeout -k 2 10 busctl --user call org.freedesktop.ScreenSaver "$@" 2>&1; }

nudge
watch_wait_savers first 0 10
if hold video /ScreenSaver; then
  nudge
  if watch_no_saver_for first 10; then
    pass "an inhibit on /ScreenSaver keeps the saver off for 10 s"
  else
    fail "an inhibit on /ScreenSaver keeps the saver off for 10 s" "$(gw_log first)"
  fi
  # Another caller may not release it, nor an unknown cookie anything.
  said=$(busctl_ss /org/freedesktop/ScreenSaver org.freedesktop.ScreenSaver UnInhibit u "$(cookie_of video)")
  unknown=$(busctl_ss /ScreenSaver org.freedesktop.ScreenSaver UnInhibit u 4000000000)
  if [[ $said == *"ccess denied"* && $unknown == *"No inhibit has that cookie"* ]] &&
    watch_no_saver_for first 2; then
    pass "another caller's UnInhibit and an unknown cookie are refused, and the inhibit stays"
  else
    fail "another caller's UnInhibit and an unknown cookie are refused, and the inhibit stays" \
      "theirs: $said" "unknown: $unknown" "$(gw_log first)"
  fi
  T0=$(trace_now)
  let_go video
  if bg_wait video 10 && [[ $(bg_rc video) == 0 ]]; then
    expect_cover "released on /ScreenSaver: the saver comes within 4 s" "$T0" 0 4.0
  else
    fail "the inhibit client releases with 0" "$(bg_output video)"
  fi
else
  fail "inhibit_client gets a cookie from the watcher's org.freedesktop.ScreenSaver" "$(bg_output video)" "$(gw_log first)"
fi

# A caller killed while it holds one takes its inhibit with it.
nudge
watch_wait_savers first 0 10
if hold killed /org/freedesktop/ScreenSaver; then
  nudge
  if watch_no_saver_for first 5; then
    T0=$(trace_now)
    kill -KILL "$(cat "$BG_DIR/killed.pid")"
    expect_cover "a caller killed with SIGKILL while it holds an inhibit: the saver comes within 4 s" "$T0" 0 4.0
  else
    fail "an inhibit on /org/freedesktop/ScreenSaver keeps the saver off" "$(gw_log first)"
  fi
  let_go killed
else
  fail "inhibit_client gets a cookie on /org/freedesktop/ScreenSaver" "$(bg_output killed)" "$(gw_log first)"
fi

# --- a second watcher -------------------------------------------------------------------
nudge
watch_wait_savers first 0 10
bg_start second "${WATCH_RUN[@]}" env VANTREL_REGISTRY="$VANTREL_REGISTRY" "$VANTREL_SAVER" --watch
if bg_wait second 20 && [[ $(bg_rc second) == 0 ]] && bg_running first; then
  nudge
  expect_cover "a second watcher ends with 0, and the first still brings the saver" "$T0" 2.9 4.0
else
  fail "a second watcher ends with 0 and leaves the first alone" "second: $(bg_rc second) $(bg_output second)" \
    "first: $(gw_log first)"
fi

# --- ScreenSaveActive "0" ---------------------------------------------------------------
nudge
watch_wait_savers first 0 10
watch_settings 0 "$TIMEOUT"
if bg_wait first 10 && [[ $(bg_rc first) == 0 ]] && stays_true 5 no_saver_runs; then
  pass "ScreenSaveActive \"0\": the watcher ends itself with 0, and no saver comes"
else
  fail "ScreenSaveActive \"0\": the watcher ends itself with 0, and no saver comes" "$(gw_log first)"
fi
if gw_watch_start off; then
  fail "ScreenSaveActive \"0\": a watcher started then does not watch" "$(gw_log off)"
elif [[ $(bg_rc off) == 0 ]] && stays_true 5 no_saver_runs; then
  pass "ScreenSaveActive \"0\": a watcher started then ends with 0 and starts nothing"
else
  fail "ScreenSaveActive \"0\": a watcher started then ends with 0 and starts nothing" "$(gw_log off)"
fi

# --- the watcher ends with mutter -------------------------------------------------------
# Last, since it takes the session with it.
watch_settings 1 "$TIMEOUT"
if gw_watch_start last; then
  nudge
  kill -TERM "$MUTTER_PID"
  if bg_wait last 15; then
    pass "the watcher ends when mutter ends (status $(bg_rc last))"
  else
    fail "the watcher ends when mutter ends" "$(gw_log last)"
  fi
else
  fail "a watcher starts again once ScreenSaveActive is \"1\"" "$(gw_log last)"
fi

no_sanitizer_report "$TRACE"/*
report_summary
