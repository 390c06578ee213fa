#!/usr/bin/env bash
# Password protection on sway (headless, two outputs), with a stand-in
# logind on a private system bus. A key on a protected saver asks logind to
# lock the session, and the overlays stay on both outputs until the session
# reports itself locked; where no lock comes (never, refused) the saver stays
# and says why; unprotected, a key ends it at once and asks for nothing.
#
# Then sway's own locker: swayidle's "lock" event runs swaylock when logind
# emits the session's Lock signal, but swaylock never sets LockedHint, so a
# saver waiting for it stays and gives up after 5 s. That is why protection
# is not offered on sway.
#
# Everything of the session runs as the compositor's own user
# (tests/lib/sway.sh makes one); the private system bus is open to it. When
# sway itself cannot run here, the script says why and counts nothing.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/sway.sh
source "$(dirname "$0")/../lib/sway.sh"
# shellcheck source=tests/lib/logind.sh
source "$(dirname "$0")/../lib/logind.sh"

# The desktop's colour, which must show nowhere before the session is
# locked, and the locker's.
DESKTOP='#C02080'
LOCKER='#336699'
LINE_PREFIX='vantrel-saver: the saver stays: '
NEVER_LINE="${LINE_PREFIX}the session did not report itself locked within 5 s"
REFUSED_LINE="${LINE_PREFIX}the login manager refused to lock the session: Locking is not allowed here"

NATIVE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-lock-sway.XXXXXX")
chmod 755 "$NATIVE_TMP"
BG_DIR=$NATIVE_TMP
finish() {
  bg_kill_all
  logind_end
  sway_cleanup
  rm -rf "$NATIVE_TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

require_built "$VANTREL_SAVER" "$LOGIND_STANDIN"
require_tools swaybg wtype dbus-daemon swayidle swaylock busctl

unset VANTREL_BACKEND XSCREENSAVER_WINDOW
sway_require 800x600+0+0 640x480+800+0
OUTPUTS=("${SWAY_OUTPUTS[@]}")
chown "$SWAY_USER" "$NATIVE_TMP"
export VANTREL_REGISTRY=$NATIVE_TMP/registry.reg

# As the compositor's user, with the pid the program's own.
_exec_as_user() { sway_exec_as_user "$@"; }

# protection 1|0: the user's choice, as the panel writes it.
protection() {
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"ScreenSaveUsePassword"=dword:%08x\n' "$1" \
    >"$VANTREL_REGISTRY"
  chown "$SWAY_USER" "$VANTREL_REGISTRY"
}

# lock_saver_start ID: a full-screen saver of the session's user on the
# stand-in's bus, with no DISPLAY.
lock_saver_start() {
  local vars=("VANTREL_REGISTRY=$VANTREL_REGISTRY" "DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS") name
  for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [[ -n ${!name:-} ]] && vars+=("$name=${!name}")
  done
  bg_start "$1" _exec_as_user env -u DISPLAY "${vars[@]}" "$VANTREL_SAVER" /s
}

# What an output shows: "desktop" when the desktop's colour is anywhere on
# it, "locker" when the locker's colour fills it, else what image_shows says
# (black, bombs or picture: the saver).
screen_kind() {
  local shot=$NATIVE_TMP/kind-$1-$BASHPID.ppm colours
  rm -f "$shot"
  sway_shot "$1" "$shot" >/dev/null 2>&1 || { rm -f "$shot"; echo none; return; }
  colours=$(convert "$shot" -unique-colors -depth 8 txt:- 2>/dev/null)
  if grep -q "$DESKTOP" <<<"$colours"; then
    echo desktop
  elif grep -q "$LOCKER" <<<"$colours" && [[ $(convert "$shot" -format '%[hex:p{10,10}] %[hex:p{300,200}]' info: 2>/dev/null) == \
    "${LOCKER#\#} ${LOCKER#\#}" ]]; then
    echo locker
  else
    image_shows "$shot"
  fi
  rm -f "$shot"
}
# screens: what both outputs show, shot side by side: "KIND KIND".
screens() {
  # Shots are also taken in the background meanwhile: files of our own.
  local i dir=$NATIVE_TMP/screens-$BASHPID
  mkdir -p "$dir"
  for i in "${!OUTPUTS[@]}"; do screen_kind "${OUTPUTS[i]}" >"$dir/$i" & done
  wait
  for i in "${!OUTPUTS[@]}"; do printf '%s ' "$(<"$dir/$i")"; done
  echo
  rm -rf "$dir"
}
# notice_on OUTPUT: its bottom 28 rows are a line of white text on black,
# as the saver shows why it stays.
notice_on() {
  local shot=$NATIVE_TMP/notice-$1-$BASHPID.ppm
  sway_shot "$1" "$shot" >/dev/null 2>&1 &&
    convert "$shot" -gravity south -crop x28+0+0 +repage -unique-colors -depth 8 txt:- 2>/dev/null | awk '
      /^[0-9]+,[0-9]+:/ { if ($3 == "#000000") black = 1; else if ($3 == "#FFFFFF") white = 1; else other = 1 }
      END { exit !(black && white && !other) }'
}
notice_shown() {
  local output
  for output in "${OUTPUTS[@]}"; do notice_on "$output" && return 0; done
  return 1
}
saver_shown() { [[ $(screens) =~ ^(bombs|picture|black)\ (bombs|picture|black)\ $ ]]; }
desktop_shown() { [[ $(screens) == "desktop desktop " ]]; }
savers() { pgrep -c -u "$SWAY_USER" -x vantrel-saver; }

# shoot ID: rounds of shots of both outputs until ID.stop exists, a line a
# round: "START END KIND KIND SAVERS" (realtime seconds, as the stand-in
# stamps its lines). A shot is taken somewhere between START and END.
shoot() {
  local t0 seen count
  while [[ ! -e $BG_DIR/$1.stop ]]; do
    t0=$(date +%s.%N) seen=$(screens) count=$(savers)
    echo "$t0 $(date +%s.%N) $seen$count"
  done
}
shots_start() { rm -f "$BG_DIR/$1.stop"; bg_start "$1" shoot "$1"; }
shots_stop() { touch "$BG_DIR/$1.stop"; bg_wait "$1" 20 || bg_kill "$1"; }

# lock_saver_up ID: the saver of ID covers both outputs, or has ended.
lock_saver_up() {
  _covered_or_end() { saver_shown || bg_done "$1"; }
  wait_until "$NATIVE_APPEAR_TIMEOUT" _covered_or_end "$1" && bg_running "$1"
}
# A key from a keyboard that is there a while before it is pressed, as a
# real one is: every saver's client has it by then, and only the one with
# its focus hears the key. (wtype's keyboard otherwise comes and goes within
# milliseconds, sooner than a busy client may hear of it at all.)
key() { sway_as_user wtype -s 300 -k space; }
locks_at_least() { (($(logind_locks) >= $1)); }
lock_describe() {
  printf 'exit status: %s; outputs: %s; savers: %s\n' "$(bg_rc "$1")" "$(screens)" "$(savers)"
  printf 'stand-in: %s\n' "$(logind_output | tr '\n' ' ')"
  local out; out=$(bg_output "$1" | tail -n 5)
  [[ -n $out ]] && printf 'output: %s\n' "$out"
  return 0
}
# Lines of the run ID's output that are exactly LINE.
lines_of() { grep -cxF -- "$2" "$BG_DIR/$1.out" 2>/dev/null; }
# When a run ended, from its status file: the kernel stamps files from its
# coarse clock, up to a tick (10 ms at most) behind the clock the stand-in
# prints from, so the stamp is moved on by that much.
end_time() {
  local stamp
  stamp=$(stat -c %.3Y "$BG_DIR/$1.rc") || return 1
  awk -v s="$stamp" 'BEGIN { printf "%.3f", s + 0.010 }'
}

# sigterm_ends NAME ID: SIGTERM ends the run ID with 0.
sigterm_ends() {
  local up=0
  bg_running "$2" && up=1 && kill -TERM "$(saver_pid "$2")" 2>/dev/null
  if ((up)) && bg_wait "$2" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "$2") == 0 ]]; then
    pass "$1"
  else
    fail "$1" "$(lock_describe "$2")"
  fi
  bg_kill "$2"
}

sway_as_user swaymsg "output * bg $DESKTOP solid_color" >/dev/null
if ! wait_until 30 desktop_shown; then
  fail "setup: the desktop shows its colour on both outputs" "$(screens)"
  report_summary
  exit 1
fi

# --- the session locks 1 s after the request ---------------------------------------
protection 1
if logind_begin lock-after:1000; then
  lock_saver_start locked
  if lock_saver_up locked; then
    children=$(savers)
    shots_start shots
    wait_until 10 test -s "$BG_DIR/shots.out"
    key
    wait_until 10 locks_at_least 1
    bg_wait locked "$NATIVE_EXIT_TIMEOUT"
    # Only the saver of the output with the keyboard's focus asks.
    if [[ $(logind_locks) == 1 ]]; then
      pass "a key on a protected saver asks logind once to lock the session"
    else
      fail "a key on a protected saver asks logind once to lock the session" "$(logind_locks) Lock calls" \
        "$(lock_describe locked)"
    fi
    shots_stop shots
    requested=$(logind_lock_times | head -n1) locked_at=$(logind_locked_times | head -n1)
    rounds=$NATIVE_TMP/shots.out
    if bg_done locked && [[ $(bg_rc locked) == 0 && -n $locked_at ]] &&
      awk -v e="$(end_time locked)" -v l="$locked_at" 'BEGIN { exit !(e >= l) }'; then
      pass "the run ends with 0 once the session is locked ($(awk -v e="$(end_time locked)" -v l="$locked_at" \
        'BEGIN { printf "%.2f", e - l }') s after)"
    else
      fail "the run ends with 0 once the session is locked" "locked at ${locked_at:-never}, run ended $(end_time locked)" \
        "$(lock_describe locked)"
    fi
    # Rounds wholly between the request and the lock; and any before the
    # lock that showed the desktop anywhere or lost a saver.
    between=$(awk -v r="${requested:-0}" -v l="${locked_at:-0}" '$1 >= r && $2 <= l' "$rounds" | wc -l)
    early=$(awk -v l="${locked_at:-0}" -v n="$children" '$2 <= l && ($3 !~ /^(bombs|picture|black)$/ ||
      $4 !~ /^(bombs|picture|black)$/ || $5 != n)' "$rounds")
    if [[ -n $requested && -n $locked_at ]] && ((between >= 1)) && [[ -z $early ]]; then
      pass "between the request and the lock both outputs show the saver ($between rounds of shots), all $children processes up"
    else
      fail "between the request and the lock both outputs show the saver, all $children processes up" \
        "requested $requested, locked $locked_at; $between rounds between; before the lock:" "$(cat "$rounds")"
    fi
    if wait_until 10 desktop_shown; then
      pass "after the run both outputs show the desktop"
    else
      fail "after the run both outputs show the desktop" "$(screens)"
    fi
  else
    fail "a protected saver covers both outputs" "$(lock_describe locked)"
  fi
  bg_kill locked
fi
logind_end

# --- no lock: the saver stays --------------------------------------------------------
# never: the request is taken and nothing comes of it.
if logind_begin never; then
  lock_saver_start never
  if lock_saver_up never; then
    key
    wait_until 10 locks_at_least 1
    _said() { (($(lines_of never "$NEVER_LINE") >= 1)) || bg_done never; }
    wait_until 15 _said
    said=$(date +%s.%N)
    took=$(awk -v r="$(logind_lock_times | head -n1)" -v s="$said" 'BEGIN { printf "%.1f", s - r }')
    if [[ $(lines_of never "$NEVER_LINE") == 1 ]] && bg_running never &&
      awk -v t="$took" 'BEGIN { exit !(t >= 4.8 && t <= 7) }'; then
      pass "a session that never locks: after 5 s the saver prints why, once ($took s after the request)"
    else
      fail "a session that never locks: after 5 s the saver prints why, once" "$took s after the request" \
        "$(lock_describe never)"
    fi
    if stays_true 2 saver_shown && bg_running never && notice_shown; then
      pass "and stays on both outputs, one of them saying why at its bottom"
    else
      fail "and stays on both outputs, one of them saying why at its bottom" "$(lock_describe never)"
    fi
    # Asked again, and ended while it waits.
    key
    if wait_until 10 locks_at_least 2 && bg_running never; then
      sigterm_ends "SIGTERM while the saver waits for the lock ends it with 0" never
    else
      fail "a second key asks again" "$(lock_describe never)"
    fi
  else
    fail "a protected saver covers both outputs" "$(lock_describe never)"
  fi
  bg_kill never
fi
logind_end

if logind_begin refuse; then
  lock_saver_start refused
  if lock_saver_up refused; then
    key
    _said() { (($(lines_of refused "$REFUSED_LINE") >= 1)) || bg_done refused; }
    if wait_until 10 _said && bg_running refused && stays_true 2 saver_shown; then
      pass "a refused lock: the saver stays on both outputs and prints the login manager's message"
    else
      fail "a refused lock: the saver stays on both outputs and prints the login manager's message" \
        "$(lock_describe refused)"
    fi
    sigterm_ends "then SIGTERM ends it with 0" refused
  else
    fail "a protected saver covers both outputs" "$(lock_describe refused)"
  fi
  bg_kill refused
fi
logind_end

# --- unprotected --------------------------------------------------------------------
protection 0
if logind_begin lock-after:1000; then
  lock_saver_start open
  if lock_saver_up open; then
    started=$(date +%s.%N)
    key
    if bg_wait open "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc open) == 0 ]] &&
      took=$(seconds_to_end "$started" open) && awk -v t="$took" 'BEGIN { exit !(t <= 1.0) }' &&
      [[ $(logind_locks) == 0 ]]; then
      pass "unprotected, a key ends the run with 0 at once ($took s) and asks for no lock"
    else
      fail "unprotected, a key ends the run with 0 at once and asks for no lock" "${took:-} s; Lock calls: $(logind_locks)" \
        "$(lock_describe open)"
    fi
  else
    fail "an unprotected saver covers both outputs" "$(lock_describe open)"
  fi
  bg_kill open
fi
logind_end

# --- sway's own locker --------------------------------------------------------------
# Last: what swaylock leaves behind is not ours to undo gently.
protection 1
session_path=/org/freedesktop/login1/session/c1
# The session's LockedHint as busctl prints it; asked again when a loaded
# machine leaves busctl without an answer.
locked_hint() {
  local try answer
  for try in 1 2 3; do
    answer=$(busctl --address="$DBUS_SYSTEM_BUS_ADDRESS" get-property org.freedesktop.login1 "$session_path" \
      org.freedesktop.login1.Session LockedHint 2>&1) && { echo "$answer"; return 0; }
    sleep 0.5
  done
  echo "no answer: $answer"
}
if logind_begin never; then
  bg_start swayidle _exec_as_user env DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" \
    swayidle -w -d lock "swaylock -f -c ${LOCKER#\#}"
  # Its debug output names the session once it listens for the session's signals.
  _listening() { grep -q 'Using session: /org/freedesktop/login1/session/' "$BG_DIR/swayidle.out" || bg_done swayidle; }
  wait_until 20 _listening
  lock_saver_start under_swaylock
  if ! bg_running swayidle || ! grep -q 'Using session' "$BG_DIR/swayidle.out"; then
    fail "setup: swayidle listens to the session on the private system bus" "$(bg_output swayidle | tail -n 10)"
  elif lock_saver_up under_swaylock; then
    shots_start locker_shots
    key
    _swaylock_up() { pgrep -u "$SWAY_USER" -x swaylock >/dev/null; }
    if wait_until 10 locks_at_least 1 && wait_until 10 _swaylock_up; then
      pass "on the session's Lock signal swayidle runs swaylock"
    else
      fail "on the session's Lock signal swayidle runs swaylock" "$(bg_output swayidle | tail -n 10)" \
        "$(lock_describe under_swaylock)"
    fi
    _said() { (($(lines_of under_swaylock "$NEVER_LINE") >= 1)) || bg_done under_swaylock; }
    wait_until 15 _said
    hint=$(locked_hint)
    if [[ $(lines_of under_swaylock "$NEVER_LINE") == 1 ]] && bg_running under_swaylock && _swaylock_up &&
      [[ $hint == "b false" && -z $(logind_locked_times) ]]; then
      pass "swaylock up, LockedHint stays false: after 5 s the saver says the session did not report itself locked"
    else
      fail "swaylock up, LockedHint stays false: after 5 s the saver says the session did not report itself locked" \
        "LockedHint: $hint; lines: $(lines_of under_swaylock "$NEVER_LINE"); swaylock: $(_swaylock_up && echo up || echo gone)" \
        "$(lock_describe under_swaylock)"
    fi
    # Both are overlays; this sway keeps the older one, ours, on top.
    if stays_true 2 saver_shown && bg_running under_swaylock; then
      pass "the saver stays on both outputs, over swaylock's overlay"
    else
      fail "the saver stays on both outputs, over swaylock's overlay" "$(lock_describe under_swaylock)"
    fi
    # For the record, not a verdict: whether the keyboard is still ours
    # with swaylock's input inhibitor up.
    key
    if wait_until 10 locks_at_least 2; then
      log "with swaylock up a key still reached the saver: it asked for the lock again"
    else
      log "with swaylock up a key did not reach the saver"
    fi
    shots_stop locker_shots
    log "what the outputs showed, a round of shots a line (start, end, outputs, savers):"
    sed 's/^/  /' "$NATIVE_TMP/locker_shots.out" >&2
    sigterm_ends "SIGTERM ends the saver under swaylock with 0" under_swaylock
    _locker_shown() { [[ $(screens) == "locker locker " ]]; }
    if wait_until 10 _locker_shown; then
      pass "then swaylock's colour covers both outputs: the screen was locked, only the session was never told"
    else
      fail "then swaylock's colour covers both outputs" "$(screens)"
    fi
  else
    fail "a protected saver covers both outputs" "$(lock_describe under_swaylock)"
  fi
  bg_kill under_swaylock
  for pid in $(pgrep -u "$SWAY_USER" -x swaylock); do kill "$pid"; done
  bg_kill swayidle
fi
logind_end

no_sanitizer_report
report_summary
