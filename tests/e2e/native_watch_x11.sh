#!/usr/bin/env bash
# The watcher on an X server (Xvfb) with ScreenSaveTimeOut "3": it learns of
# idle from the server's IDLETIME counter, starts the saver over the screen,
# lets input end it and idle bring it back, keeps it off while someone holds
# an org.freedesktop.ScreenSaver inhibit (served by itself on a private
# session bus), follows the settings file live, stays alone in its session,
# defers to XScreenSaver's daemon, and ends with the X server.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/watch.sh
source "$(dirname "$0")/../lib/watch.sh"

INHIBIT_CLIENT=${INHIBIT_CLIENT:-$VANTREL_ROOT/build/tests/e2e/inhibit_client}
BUS_PID=

finish() {
  watch_end
  [[ -n $BUS_PID ]] && kill "$BUS_PID" 2>/dev/null
  native_end
}

native_begin
trap finish EXIT
watch_begin

# A session of our own: the lock's folder, a private session bus, and no
# system bus (so no logind of the machine's counts here).
export XDG_RUNTIME_DIR=$NATIVE_TMP/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$NATIVE_TMP/no-system-bus
bus_info=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>/dev/null)
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_info")
BUS_PID=$(sed -n 2p <<<"$bus_info")
if [[ -z $DBUS_SESSION_BUS_ADDRESS || -z $BUS_PID ]]; then
  fail "setup: a private session bus" "$bus_info"
  report_summary
  exit 1
fi

read -r screen_w screen_h < <(xsession_screen_size)

now() { date +%s.%N; }
# Seconds since the time stamp $1, to the millisecond.
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
# within A LOW HIGH: A lies between LOW and HIGH.
within() { awk -v a="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(a >= lo && a <= hi) }'; }

# Input the X server counts: it puts the idle counter back to zero. Prints
# the time stamp of the moment just before it (the idle time is measured
# from there, so the measure can only come out long, never short).
input() {
  local stamp
  stamp=$(now)
  xdotool key space >/dev/null 2>&1
  echo "$stamp"
}

# The saver's window covers the whole screen and is mapped.
saver_covers() {
  local window info
  window=$(saver_window) && [[ -n $window ]] || return 1
  info=$(xprobe info "$window") || return 1
  [[ $(field "$info" viewable),$(field "$info" x),$(field "$info" y),$(field "$info" w),$(field "$info" h) == \
    "1,0,0,$screen_w,$screen_h" ]]
}
# The saver is gone: neither its window nor its process.
saver_gone() { no_saver_window && [[ $(watch_savers "$1") == 0 ]]; }

# comes_after NAME STAMP WATCHER LOW HIGH: a saver of WATCHER covers the
# screen between LOW and HIGH seconds after STAMP.
comes_after() {
  local name=$1 stamp=$2 watcher=$3 low=$4 high=$5 took
  if wait_until 20 saver_covers; then
    took=$(since "$stamp")
    # The probe's own time to find it is in the figure; it is only ever later.
    if within "$took" "$low" "$high" && [[ $(watch_savers "$watcher") == 1 ]]; then
      pass "$name (after $took s)"
      return 0
    fi
    fail "$name" "came after $took s, want $low..$high s; savers: $(watch_savers "$watcher")" "$(watch_log "$watcher")"
  else
    fail "$name" "no saver covers the screen" "$(watch_log "$watcher")"
  fi
  return 1
}

# Started when the session has been idle longer than the timeout already
# (from the panel, at login): the saver comes at once. The X server makes no
# alarm fire for a counter already past its mark when the alarm is made.
watch_settings 1 3
input >/dev/null
sleep 4  # time without input is what this case is about
if watch_start main && watch_log main | grep -q 'watching for idle with .*IDLETIME.*, after 3 s'; then
  pass "the watcher says it watches the X server's idle counter, after 3 s"
else
  fail "the watcher says it watches the X server's idle counter, after 3 s" "$(watch_log main)"
  report_summary
  exit 1
fi
stamp=$(now)
if wait_until 10 saver_covers && took=$(since "$stamp") && within "$took" 0 1.5; then
  pass "started after longer idle than the timeout, it starts the saver at once (after $took s)"
else
  fail "started after longer idle than the timeout, it starts the saver at once" "$(watch_log main)"
fi

stamp=$(input)
comes_after "with no input a saver covers the screen within 1 s after 3 s" "$stamp" main 2.9 4.0

stamp=$(input)
if wait_until 10 saver_gone main; then
  pass "input ends the saver"
else
  fail "input ends the saver" "savers: $(watch_savers main)" "$(xprobe find)"
fi
comes_after "3 idle seconds bring it back" "$stamp" main 2.9 4.0

# A saver that crashes is not started again while the session stays idle:
# only input and a new idle bring one.
saver=$(watch_saver_pids main | head -n1)
kill -SEGV "$saver" 2>/dev/null
if wait_until 10 saver_gone main && watch_no_saver_for main 5 &&
  watch_log main | grep -Eq 'the saver (was killed by signal|exited with status [1-9])'; then
  pass "a saver that crashed is not started again while idle lasts"
else
  fail "a saver that crashed is not started again while idle lasts" "$(watch_log main)"
fi
stamp=$(input)
comes_after "after a crash, input and 3 idle seconds bring a new saver" "$stamp" main 2.9 4.0
input >/dev/null
wait_until 10 saver_gone main

# --- holders of idle -----------------------------------------------------------

# inhibit_holds ID [ARGS...]: an inhibit taken and held by a client in the
# background (it holds while its standard input stays open: a pipe no one
# writes to; SIGTERM makes it give the inhibit back).
mkfifo "$NATIVE_TMP/hold"
exec 7<>"$NATIVE_TMP/hold"
inhibit_holds() {
  local id=$1; shift
  bg_start "$id" bash -c 'exec "$@" <&7' _ "$INHIBIT_CLIENT" "$@"
  _inhibit_taken() { bg_output "$1" | grep -q '^cookie ' || bg_done "$1"; }
  wait_until 10 _inhibit_taken "$id" && bg_running "$id"
}

if inhibit_holds video; then
  input >/dev/null
  if watch_no_saver_for main 10; then
    pass "an org.freedesktop.ScreenSaver inhibit keeps the saver off for 10 s"
  else
    fail "an org.freedesktop.ScreenSaver inhibit keeps the saver off for 10 s" "$(watch_log main)"
  fi
  stamp=$(now)
  bg_kill video
  comes_after "it comes within 4 s of the release" "$stamp" main 0 4.0
  input >/dev/null
  wait_until 10 saver_gone main

  inhibit_holds killed --path /ScreenSaver firefox "playing a video"
  input >/dev/null
  watch_no_saver_for main 4
  held_off=$?
  stamp=$(now)
  kill -KILL "$(cat "$BG_DIR/killed.pid")"
  if ((held_off == 0)); then
    comes_after "a holder killed with SIGKILL lets the saver come" "$stamp" main 0 4.0
  else
    fail "a holder killed with SIGKILL lets the saver come" "the inhibit did not hold" "$(watch_log main)"
  fi
  input >/dev/null
  wait_until 10 saver_gone main
else
  fail "an org.freedesktop.ScreenSaver inhibit keeps the saver off for 10 s" "no inhibit taken: $(bg_output video)" \
    "$(watch_log main)"
fi

# --- one per session -----------------------------------------------------------

second=$(timeout -k 5 20 "$VANTREL_SAVER" --watch 2>&1)
status=$?
if [[ $status == 0 && $second == *"already runs"*"pid $(watch_pid main)"* ]] && bg_running main; then
  pass "a second watcher says one runs and exits 0"
else
  fail "a second watcher says one runs and exits 0" "status $status: $second"
fi
stamp=$(input)
comes_after "the first one still starts the saver" "$stamp" main 2.9 4.0
input >/dev/null
wait_until 10 saver_gone main

# --- the settings, live ----------------------------------------------------------

watch_settings 1 6
if wait_until 10 bash -c "grep -q 'now watching for 6 s' '$BG_DIR/main.out'"; then
  stamp=$(input)
  comes_after "a new timeout in the file counts at once" "$stamp" main 5.9 7.0
else
  fail "a new timeout in the file counts at once" "$(watch_log main)"
fi
input >/dev/null
wait_until 10 saver_gone main

watch_settings 0 3
if bg_wait main 10 && [[ $(bg_rc main) == 0 ]] && watch_log main | grep -q 'turned off'; then
  pass "ScreenSaveActive \"0\" written in the file ends the watcher with 0"
else
  fail "ScreenSaveActive \"0\" written in the file ends the watcher with 0" "status $(bg_rc main)" "$(watch_log main)"
fi

input >/dev/null
off=$(timeout -k 5 20 "$VANTREL_SAVER" --watch 2>&1)
status=$?
if [[ $status == 0 && $off == *"turned off"* ]] && stays_true 5 no_saver_window; then
  pass "started with ScreenSaveActive \"0\" it keeps the saver off"
else
  fail "started with ScreenSaveActive \"0\" it keeps the saver off" "status $status: $off"
fi

# A fresh account has no settings folder yet: the panel's first save must
# still be noticed.
fresh=$NATIVE_TMP/fresh/config/vantrel/registry.reg
if watch_start fresh VANTREL_REGISTRY="$fresh"; then
  (VANTREL_REGISTRY=$fresh WATCH_DIR= watch_settings 0 3)
  if bg_wait fresh 10 && [[ $(bg_rc fresh) == 0 ]]; then
    pass "a first save into a settings folder that did not exist is noticed"
  else
    fail "a first save into a settings folder that did not exist is noticed" "$(watch_log fresh)"
  fi
else
  fail "a first save into a settings folder that did not exist is noticed" "$(watch_log fresh)"
fi
bg_kill fresh

# --- ending ----------------------------------------------------------------------

watch_settings 1 3
if watch_start term && wait_until 20 saver_covers; then
  saver=$(watch_saver_pids term | head -n1)
  kill -TERM "$(watch_pid term)"
  if bg_wait term 10 && [[ $(bg_rc term) == 0 ]] && wait_until 10 saver_gone term && ! kill -0 "$saver" 2>/dev/null; then
    pass "SIGTERM ends the watcher with 0, and its saver with it"
  else
    fail "SIGTERM ends the watcher with 0, and its saver with it" "status $(bg_rc term)" "$(watch_log term)"
  fi
else
  fail "SIGTERM ends the watcher with 0, and its saver with it" "no saver came" "$(watch_log term)"
fi
bg_kill term

# XScreenSaver's daemon marks a window of its own with its version.
bg_start marker "$X11_PROBE" makewindow 10x10+0+0
wait_until 10 bash -c "grep -q window= '$BG_DIR/marker.out'"
marker=$(field "$(bg_output marker)" window)
xprop -id "$marker" -f _SCREENSAVER_VERSION 8s -set _SCREENSAVER_VERSION "5.45" 2>/dev/null
out=$(timeout -k 5 20 "$VANTREL_SAVER" --watch 2>&1)
status=$?
if [[ $status == 0 && $out == *"XScreenSaver"*"already runs"* ]]; then
  pass "where XScreenSaver's daemon runs, the watcher says so and exits 0"
else
  fail "where XScreenSaver's daemon runs, the watcher says so and exits 0" "status $status: $out"
fi
xprobe destroy "$marker" >/dev/null
bg_kill marker

out=$(env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS=unix:path=$NATIVE_TMP/no-bus \
  timeout -k 5 20 "$VANTREL_SAVER" --watch 2>&1)
status=$?
if [[ $status == 1 && $(wc -l <<<"$out") == 1 && $out == *Wayland:*GNOME:*X11:* ]]; then
  pass "with no display and no bus it exits 1, saying why for each source"
else
  fail "with no display and no bus it exits 1, saying why for each source" "status $status: $out"
fi

if native_extra_display 640x480x24; then
  if watch_start other DISPLAY="$EXTRA_DISPLAY"; then
    kill "${NATIVE_EXTRA_XVFB[-1]}"
    if bg_wait other 10 && [[ $(bg_rc other) == 0 ]]; then
      pass "the watcher ends with 0 when its X server ends"
    else
      fail "the watcher ends with 0 when its X server ends" "status $(bg_rc other)" "$(watch_log other)"
    fi
  else
    fail "the watcher ends with 0 when its X server ends" "it did not start" "$(watch_log other)"
  fi
else
  fail "the watcher ends with 0 when its X server ends" "no second X server"
fi

no_sanitizer_report
report_summary
