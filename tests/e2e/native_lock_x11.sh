#!/usr/bin/env bash
# Password protection of the native saver on an X server. With
# ScreenSaveUsePassword on, input on a full-screen run asks logind (our
# stand-in, on a private system bus) to lock the session, and the saver goes
# only once the session says it is locked: until then it covers every
# monitor. Where no lock comes (no bus, no session, a refusal, no lock in
# 5 s) it stays, saying why on stderr and on its window, and SIGTERM still
# ends it with 0. Off, a key ends it at once and nothing is asked; module
# and preview runs never ask.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/logind.sh
source "$(dirname "$0")/../lib/logind.sh"
native_begin
# The desktop's colour set here must not outlast the script on a display
# the next script shares.
MAIN_DISPLAY=$DISPLAY
lock_end() {
  logind_end
  DISPLAY=$MAIN_DISPLAY xsetroot -def 2>/dev/null
  native_end
}
trap lock_end EXIT

STAYS='vantrel-saver: the saver stays:'
LINE_NO_BUS="$STAYS no login manager answers on the system bus to lock the session"
LINE_NO_SESSION="$STAYS the login manager knows no session of this program to lock"
LINE_REFUSED="$STAYS the login manager refused to lock the session: Locking is not allowed here"
LINE_TIMED_OUT="$STAYS the session did not report itself locked within 5 s"

# The desktop's colour: a screenshot with any of it shows the desktop.
DESKTOP='#FF00FF'

if ! logind_begin never; then
  fail "setup: a stand-in logind on a private system bus" "see the lines above"
  report_summary
  exit 1
fi

# protection 1|0: ScreenSaveUsePassword as the panel writes it (a DWORD), and
# bombs only, so that the saver never stops drawing (draws_on tells by new
# frames that its input has been handled).
protection() {
  {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n'
    printf '"ScreenSaveUsePassword"=dword:%08x\n\n' "$1"
    printf '[HKEY_CURRENT_USER\\SOFTWARE\\Kestrelix\\VantrelScreenSaver]\n"BombsOnly"=dword:00000001\n'
  } >"$VANTREL_REGISTRY"
}

# start_saver ID [VAR=VALUE...]: a full-screen run with the pointer parked
# where it measures movement from, up and shown.
start_saver() {
  local id=$1; shift
  pointer_to 200 200 || return 1
  bg_start "$id" env "$@" "$VANTREL_SAVER" /s
  saver_wait_window "$id"
}

now() { date +%s.%N; }
# at_or_after A B: the time A is not before the time B.
at_or_after() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }
# When a run ended, from its status file. The kernel stamps files from its
# coarse clock, up to a tick (10 ms at most) behind the clock the stand-in
# prints from: the stamp is moved on by that much.
end_time() {
  local stamp
  stamp=$(stat -c %.3Y "$BG_DIR/$1.rc" 2>/dev/null) || return 1
  awk -v s="$stamp" 'BEGIN { printf "%.3f", s + 0.010 }'
}
says() { [[ $(bg_output "$1" | grep -cFx "$2") -ge 1 ]]; }
says_once() { [[ $(bg_output "$1" | grep -cFx "$2") == 1 ]]; }
locks_are() { [[ $(logind_locks) == "$1" ]]; }
locked_yet() { [[ -n $(logind_locked_times) ]]; }

# The saver's notice: a child window, shown, with white in the bottom band of
# the saver's window. The bombs are green over greys and never white, so
# white there is the notice's text.
notice_shown() {
  local window=$1 shot=$NATIVE_TMP/notice.ppm child shown=0
  for child in $(xprobe children "$window" 2>/dev/null); do
    [[ $(field "$(xprobe info "$child" 2>/dev/null)" viewable) == 1 ]] && shown=1
  done
  ((shown)) || return 1
  xprobe shot "$window" "$shot" 2>/dev/null || return 1
  convert "$shot" -gravity South -crop 100%x12%+0+0 +repage -unique-colors -depth 8 txt:- 2>/dev/null |
    grep -q '#FFFFFF'
}

# sigterm_ends ID NAME: SIGTERM to the run; it must end with 0, and soon:
# well within the 5 s the verifier may wait for a lock.
sigterm_ends() {
  local id=$1 name=$2 sent
  if bg_done "$id"; then
    fail "$name" "the run had ended before" "$(describe "$id")"
    return 1
  fi
  sent=$(now)
  kill -TERM "$(saver_pid "$id")"
  if bg_wait "$id" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "$id") == 0 ]] &&
    at_or_after 3 "$(seconds_to_end "$sent" "$id")" && wait_until 10 no_saver_window; then
    pass "$name ($(seconds_to_end "$sent" "$id") s)"
  else
    fail "$name" "ended $(seconds_to_end "$sent" "$id" 2>/dev/null) s after the signal" "$(describe "$id")"
  fi
  bg_kill "$id"
}

# --- shots while the lock comes up ----------------------------------------------
# A loop that, while the run goes on and until the session is locked, takes
# screenshots of the whole screen and notes beside each when it began and
# ended and what else was true then (the command SHOT_CHECK, 1 or 0). The
# shots taken wholly between the lock request and the lock must all show
# the saver.
SHOT_CHECK=(true)
shooter() {
  local id=$1 dir=$2 n=0 began ended ok until=$((SECONDS + 15))
  : >"$dir/index"
  while { bg_running "$id" || ! locked_yet; } && ((n < 300 && SECONDS < until)); do
    began=$(now)
    if ! import -window root "$dir/shot-$n.ppm" 2>/dev/null; then
      sleep 0.1
      continue
    fi
    if "${SHOT_CHECK[@]}"; then ok=1; else ok=0; fi
    ended=$(now)
    echo "$n $began $ended $ok" >>"$dir/index"
    n=$((n + 1))
  done
}

# between_shots DIR FROM TO: the shots of DIR taken wholly between the two
# times, checked: prints "N bad-description..." (N shots, and what was wrong).
between_shots() {
  local dir=$1 from=$2 to=$3 n began ended ok count=0 bad=()
  while read -r n began ended ok; do
    if ! at_or_after "$began" "$from" || ! at_or_after "$to" "$ended"; then continue; fi
    count=$((count + 1))
    local what; what=$(image_shows "$dir/shot-$n.ppm")
    [[ $what == bombs ]] || bad+=("shot $n shows $what")
    [[ $ok == 1 ]] || bad+=("shot $n: ${SHOT_CHECK[*]} failed")
  done <"$dir/index"
  local IFS=';'
  echo "$count ${bad[*]:0:4}"
}

# lock_run ID NAME: the key on a run started as ID with the stand-in locking
# 1 s after the request: the lock is asked for once, every shot until the
# lock shows the saver (and SHOT_CHECK holds), the run ends with 0 after it.
lock_run() {
  local id=$1 name=$2 dir=$NATIVE_TMP/shots-$1
  mkdir -p "$dir"
  shooter "$id" "$dir" &
  local shooting=$!
  xdotool key a
  bg_wait "$id" "$NATIVE_EXIT_TIMEOUT"
  wait "$shooting"
  # A run that went too soon has not waited for the lock: it still comes.
  wait_until 5 locked_yet
  local requested locked ended
  requested=$(logind_lock_times | head -n1)
  locked=$(logind_locked_times | head -n1)
  ended=$(end_time "$id")
  if locks_are 1 && [[ -n $locked ]]; then
    pass "$name: the key asks logind to lock the session, once"
  else
    fail "$name: the key asks logind to lock the session, once" "stand-in: $(logind_output)" "$(describe "$id")"
    bg_kill "$id"
    return 1
  fi
  local verdict; verdict=$(between_shots "$dir" "$requested" "$locked")
  if [[ ${verdict%% *} -ge 1 && $verdict != *' '?* ]]; then
    pass "$name: until the session is locked the saver stays on the screen (${verdict%% *} shots)"
  else
    fail "$name: until the session is locked the saver stays on the screen" \
      "shots between the request and the lock: $verdict" "request $requested, locked $locked"
  fi
  if [[ $(bg_rc "$id") == 0 && -n $ended ]] && at_or_after "$ended" "$locked" &&
    at_or_after "$(awk -v l="$locked" 'BEGIN { printf "%.3f", l + 5 }')" "$ended"; then
    pass "$name: the run ends with 0 once the session is locked ($(awk -v a="$locked" -v b="$ended" 'BEGIN { printf "%.2f", b - a }') s after)"
  else
    fail "$name: the run ends with 0 once the session is locked" \
      "request $requested, locked $locked, run ended ${ended:-not}" "$(describe "$id")"
  fi
  bg_kill "$id"
}

xsetroot -solid "$DESKTOP"
protection 1

# --- protection on, the lock comes 1 s after the request ---------------------------
name="protection on, a lock after 1 s"
logind_begin lock-after:1000
SHOT_CHECK=(saver_window_shown)
if start_saver locked; then
  lock_run locked "$name"
else
  fail "$name: the saver starts" "$(describe locked)"
fi
bg_kill locked
SHOT_CHECK=(true)
wait_until 10 no_saver_window

# --- no lock within 5 s: the saver stays, says why; SIGTERM ends it -----------------
name="protection on, a lock that never comes"
logind_begin never
if start_saver never; then
  xdotool key a
  window=$(saver_window)
  if wait_until 20 says never "$LINE_TIMED_OUT" && draws_on never "$window" && says_once never "$LINE_TIMED_OUT"; then
    pass "$name: after 5 s the saver stays, draws on and says why on stderr, once"
  else
    fail "$name: after 5 s the saver stays, draws on and says why on stderr, once" "$(describe never)"
  fi
  if wait_until 5 notice_shown "$window"; then
    pass "$name: the reason shows at the bottom of the saver's window"
  else
    fail "$name: the reason shows at the bottom of the saver's window" "$(describe never)"
  fi
  # Asked again, and ended from outside while it waits for the lock.
  xdotool key b
  if wait_until 10 locks_are 2; then
    sigterm_ends never "$name: SIGTERM while it waits for the lock ends the run with 0"
  else
    fail "$name: a second key asks again" "locks: $(logind_locks)" "$(describe never)"
  fi
else
  fail "$name: the saver starts" "$(describe never)"
fi
bg_kill never

# --- no lock to be had: the saver stays at once, saying why --------------------------
# stays_saying ID NAME LINE [VAR=VALUE...]: with the stand-in as it is, two
# keys 50 ms apart on a run: the saver stays, draws on, says LINE once on
# stderr and shows it; SIGTERM ends it with 0.
stays_saying() {
  local id=$1 name=$2 line=$3; shift 3
  if ! start_saver "$id" "$@"; then
    fail "$name: the saver starts" "$(describe "$id")"
    return 1
  fi
  local window; window=$(saver_window)
  xdotool key --delay 50 a b
  if wait_until 10 says "$id" "$line" && draws_on "$id" "$window" && says_once "$id" "$line"; then
    pass "$name: the saver stays, draws on and says why on stderr, once"
  else
    fail "$name: the saver stays, draws on and says why on stderr, once" "want: $line" "$(describe "$id")"
  fi
  if wait_until 5 notice_shown "$window"; then
    pass "$name: the reason shows at the bottom of the saver's window"
  else
    fail "$name: the reason shows at the bottom of the saver's window" "$(describe "$id")"
  fi
  sigterm_ends "$id" "$name: SIGTERM ends it with 0"
}

logind_begin refuse
stays_saying refused "logind refuses the lock" "$LINE_REFUSED"
# The two keys came 50 ms apart: the second fell within 200 ms of the first
# refusal, so only one was asked.
if locks_are 1; then
  pass "two keys 50 ms apart ask for the lock once"
else
  fail "two keys 50 ms apart ask for the lock once" "Lock calls: $(logind_locks)"
fi
logind_begin no-session
stays_saying nosession "logind knows no session of the saver" "$LINE_NO_SESSION"
stays_saying nobus "no system bus" "$LINE_NO_BUS" DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent

# --- protection off: a key ends the run at once, nothing asked -----------------------
name="protection off"
protection 0
logind_begin lock-after:1000
if start_saver off; then
  pressed=$(now)
  xdotool key a
  if bg_wait off "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc off) == 0 ]] &&
    at_or_after 2.0 "$(seconds_to_end "$pressed" off)" && locks_are 0; then
    pass "$name: a key ends the run with 0 at once ($(seconds_to_end "$pressed" off) s), no lock asked"
  else
    fail "$name: a key ends the run with 0 at once, no lock asked" "Lock calls: $(logind_locks)" "$(describe off)"
  fi
else
  fail "$name: the saver starts" "$(describe off)"
fi
bg_kill off
protection 1

# --- module mode and the preview never ask --------------------------------------------
logind_begin lock-after:1000
if panel_start host 400x300+50+40; then
  host=$PANEL
  in_host() { [[ -n $(first_child "$host") ]]; }
  # input_asks_nothing ID NAME: input over the host window, handled (new
  # frames come after it), asks for no lock.
  input_asks_nothing() {
    local id=$1 name=$2
    if ! wait_until "$NATIVE_APPEAR_TIMEOUT" in_host || bg_done "$id"; then
      fail "$name: the run draws in its host window" "$(describe "$id")"
      return 1
    fi
    pointer_to 200 150
    xdotool key a click 1
    pointer_to 260 200
    if draws_on "$id" "$host" && locks_are 0; then
      pass "$name: input asks for no lock"
    else
      fail "$name: input asks for no lock" "Lock calls: $(logind_locks)" "$(describe "$id")"
    fi
  }
  bg_start module env XSCREENSAVER_WINDOW="$host" "$VANTREL_SAVER" --root
  input_asks_nothing module "module mode with protection on"
  sigterm_ends module "module mode with protection on: SIGTERM ends it with 0"
  wait_until 10 eval '! in_host'

  saver_start preview /p "$host"
  input_asks_nothing preview "a preview with protection on"
  xprobe destroy "$host" >/dev/null
  if bg_wait preview "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc preview) == 0 ]] && locks_are 0; then
    pass "a preview with protection on ends with 0 with its host window, no lock asked"
  else
    fail "a preview with protection on ends with 0 with its host window, no lock asked" "$(describe preview)"
  fi
  bg_kill preview
else
  fail "setup: a host window for module mode and the preview" "$(bg_output host)"
fi

# --- two monitors: neither saver goes before the lock ---------------------------------
name="two monitors, a lock after 1 s"
if native_extra_display 2048x768x24; then
  export DISPLAY=$EXTRA_DISPLAY
  xrandr --setmonitor LEFT 1024/270x768/200+0+0 screen >/dev/null 2>&1
  xrandr --setmonitor RIGHT 1024/270x768/200+1024+0 none >/dev/null 2>&1
  xsetroot -solid "$DESKTOP"
  windows() { xprobe list 2>/dev/null | sed -n 's/^window=//p'; }
  shown_count() {
    local w n=0
    for w in $(windows); do
      [[ $(field "$(xprobe info "$w" 2>/dev/null)" viewable) == 1 ]] && n=$((n + 1))
    done
    echo "$n"
  }
  both_shown() { [[ $(shown_count) == 2 ]]; }
  CHILDREN=()
  both_alive() { kill -0 "${CHILDREN[0]}" 2>/dev/null && kill -0 "${CHILDREN[1]}" 2>/dev/null; }
  both_up() { both_shown && both_alive; }
  none_alive() { ! kill -0 "${CHILDREN[0]}" 2>/dev/null && ! kill -0 "${CHILDREN[1]}" 2>/dev/null; }
  logind_begin lock-after:1000
  pointer_to 200 200
  saver_start monitors /s
  if [[ $(xrandr --listmonitors | head -n1) == "Monitors: 2" ]] && wait_until "$NATIVE_APPEAR_TIMEOUT" both_shown &&
    mapfile -t CHILDREN < <(pgrep -P "$(saver_pid monitors)") && ((${#CHILDREN[@]} == 2)); then
    SHOT_CHECK=(both_up)
    if ! lock_run monitors "$name"; then
      :
    elif wait_until 10 none_alive &&
      wait_until 10 no_saver_window; then
      pass "$name: then both savers are gone"
    else
      fail "$name: then both savers are gone" "$(ps -o pid=,stat=,args= -p "${CHILDREN[*]}")" "$(xprobe find)"
    fi
    SHOT_CHECK=(true)
  else
    fail "$name: a saver on each monitor" "$(xrandr --listmonitors)" "windows shown: $(shown_count)" \
      "children: $(pgrep -P "$(saver_pid monitors)" | tr '\n' ' ')" "$(describe monitors)"
  fi
  bg_kill monitors
else
  fail "setup: an X display of two monitors"
fi

no_sanitizer_report
rm -f "$VANTREL_REGISTRY"
report_summary
