#!/usr/bin/env bash
# The native full-screen run on an X server of two monitors (RandR 1.5
# monitors set on an Xvfb): a whole saver on each, each window exactly over
# its monitor and each run in a process of its own under the one started;
# input on either monitor ends both, SIGTERM ends all with 0, a child killed
# ends the run with that child's status and nothing left, a monitor that
# goes takes only its own saver with it. On one monitor nothing of this
# happens: one process.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

# One monitor first, on the display native_begin gave us.
saver_start single /s
if saver_wait_window single && [[ -z $(pgrep -P "$(saver_pid single)") ]] &&
  [[ $(field "$(xprobe find)" count) == 1 ]]; then
  pass "one monitor: one window, one process"
else
  fail "one monitor: one window, one process" "$(describe single)" "children: $(pgrep -P "$(saver_pid single)")"
fi
bg_kill single
wait_until 10 no_saver_window

# Two monitors of different sizes side by side; the left one (the first
# listed, as no primary is named) is the primary. The left monitor takes the
# server's own output, so the server's whole-screen monitor goes.
if ! native_extra_display 3520x1200x24; then
  fail "setup: an X display of two monitors"
  report_summary
  exit 1
fi
export DISPLAY=$EXTRA_DISPLAY
LEFT="0 0 1600 1200"
RIGHT="1600 0 1920 1080"
xrandr --setmonitor LEFT 1600/400x1200/300+0+0 screen >/dev/null 2>&1
xrandr --setmonitor RIGHT 1920/500x1080/280+1600+0 none >/dev/null 2>&1
if [[ $(xrandr --listmonitors | head -n1) != "Monitors: 2" ]]; then
  fail "setup: RandR reports two monitors" "$(xrandr --listmonitors)"
  report_summary
  exit 1
fi

windows() { xprobe list 2>/dev/null | sed -n 's/^window=//p'; }
# The geometry of every viewable saver window, "x y w h" a line, sorted.
geometries() {
  local w info
  for w in $(windows); do
    info=$(xprobe info "$w") || continue
    [[ $(field "$info" viewable) == 1 ]] || continue
    echo "$(field "$info" x) $(field "$info" y) $(field "$info" w) $(field "$info" h)"
  done | sort -n
}
both_covered() { [[ $(geometries) == "$LEFT"$'\n'"$RIGHT" ]]; }
only_left() { [[ $(geometries) == "$LEFT" ]]; }
children_of() { pgrep -P "$1" | sort; }
all_gone() {
  local pid
  for pid in "$@"; do kill -0 "$pid" 2>/dev/null && return 1; done
  no_saver_window
}
# start_run ID: a /s run on both monitors; its children left in CHILDREN.
CHILDREN=()
start_run() {
  CHILDREN=()
  pointer_to "${2:-200}" "${3:-200}"
  saver_start "$1" /s
  wait_until "$NATIVE_APPEAR_TIMEOUT" both_covered || return 1
  mapfile -t CHILDREN < <(children_of "$(saver_pid "$1")")
  ((${#CHILDREN[@]} == 2))
}

if start_run keyed; then
  pass "two monitors: two windows, each exactly over its monitor, each of a child process"
else
  fail "two monitors: two windows, each exactly over its monitor, each of a child process" \
    "windows: $(geometries | tr '\n' ';')" "children: ${CHILDREN[*]}" "$(describe keyed)"
fi

# The viewable saver windows, one id a line.
shown_windows() {
  local w
  for w in $(windows); do
    [[ $(field "$(xprobe info "$w" 2>/dev/null)" viewable) == 1 ]] && echo "$w"
  done
}
# One window for each of the two monitors, and bombs in each: with fewer
# windows there is nothing to look at, which must not count as bombs.
bombs_on_both() {
  local shown w
  shown=$(shown_windows)
  [[ $(grep -c . <<<"$shown") == 2 ]] || return 1
  for w in $shown; do window_shows "$w" bombs || return 1; done
}
if wait_until "$NATIVE_APPEAR_TIMEOUT" bombs_on_both; then
  pass "both draw bombs"
else
  fail "both draw bombs" "saver windows shown: $(shown_windows | grep -c .), want 2, one per monitor" \
    "$(for w in $(shown_windows); do echo "$w: $(shows "$w")"; done)"
fi

# A second start raises the running saver and leaves at once.
rc=$(saver_exit_code /s)
if [[ $rc == 0 ]] && bg_running keyed && both_covered; then
  pass "a second /s exits with 0 and the run goes on"
else
  fail "a second /s exits with 0 and the run goes on" "status: $rc" "$(describe keyed)"
fi

started=$(date +%s%N)
xdotool key space
if bg_wait keyed "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc keyed) == 0 ]] && wait_until 10 all_gone "${CHILDREN[@]}"; then
  pass "a key ends both savers and the run with 0 ($(( ($(date +%s%N) - started) / 1000000 )) ms)"
else
  fail "a key ends both savers and the run with 0" "$(describe keyed)" "children: $(ps -o pid=,stat=,args= -p "${CHILDREN[*]:-0}")"
fi

# A movement within the right monitor, which only its own saver hears of,
# ends it all too.
if start_run moved 2400 500; then
  xdotool mousemove 2410 500
  if bg_wait moved "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc moved) == 0 ]] && wait_until 10 all_gone "${CHILDREN[@]}"; then
    pass "a movement over the right monitor ends both"
  else
    fail "a movement over the right monitor ends both" "$(describe moved)"
  fi
else
  fail "a movement over the right monitor ends both" "the run did not start" "$(describe moved)"
fi
bg_kill moved

for sig in TERM INT; do
  name="SIG$sig to the started process ends every saver with 0"
  if start_run "sig$sig"; then
    kill -"$sig" "$(saver_pid "sig$sig")"
    if bg_wait "sig$sig" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "sig$sig") == 0 ]] &&
      wait_until 10 all_gone "${CHILDREN[@]}"; then
      pass "$name"
    else
      fail "$name" "$(describe "sig$sig")"
    fi
  else
    fail "$name" "the run did not start" "$(describe "sig$sig")"
  fi
  bg_kill "sig$sig"
done

# The run ends with the status of the child that ended it: a child killed
# outright as a shell would say it (128 + the signal), one that faulted as
# its fault guard ends it, with 1.
declare -A CRASH_STATUS=([KILL]=137 [SEGV]=1)
for sig in KILL SEGV; do
  name="a child killed by SIG$sig ends the run with ${CRASH_STATUS[$sig]}, nothing left behind"
  if start_run "crash$sig"; then
    kill -"$sig" "${CHILDREN[1]}"
    if bg_wait "crash$sig" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "crash$sig") == "${CRASH_STATUS[$sig]}" ]] &&
      wait_until 10 all_gone "${CHILDREN[@]}"; then
      pass "$name"
    else
      fail "$name" "$(describe "crash$sig")" "children: $(ps -o pid=,stat=,args= -p "${CHILDREN[*]}")"
    fi
  else
    fail "$name" "the run did not start" "$(describe "crash$sig")"
  fi
  bg_kill "crash$sig"
done

# The started process killed outright: its children go too.
if start_run orphaned; then
  kill -KILL "$(saver_pid orphaned)"
  if wait_until 10 all_gone "${CHILDREN[@]}"; then
    pass "SIGKILL to the started process takes its children with it"
  else
    fail "SIGKILL to the started process takes its children with it" "$(ps -o pid=,stat=,args= -p "${CHILDREN[*]}")"
  fi
else
  fail "SIGKILL to the started process takes its children with it" "the run did not start"
fi
bg_kill orphaned

# A monitor that goes takes its saver along; the other goes on. One that
# comes back gets a saver of its own. (Bombs only: the left one's animation
# is how its going on is seen.)
set_settings BombsOnly=1
if start_run changed; then
  xrandr --delmonitor RIGHT >/dev/null 2>&1
  # The one whose monitor went ends, and once the run has reaped it (its
  # process entirely gone) the run has had its say on that end: the other
  # saver must still be there and draw on.
  _one_reaped() { [[ ! -e /proc/${CHILDREN[0]} || ! -e /proc/${CHILDREN[1]} ]]; }
  _other_alive() { kill -0 "${CHILDREN[0]}" 2>/dev/null || kill -0 "${CHILDREN[1]}" 2>/dev/null; }
  if wait_until 20 only_left && wait_until 20 _one_reaped && _other_alive && bg_running changed &&
    draws_on changed "$(shown_windows)" && only_left && _other_alive; then
    pass "a monitor removed: its saver goes, the other goes on"
  else
    fail "a monitor removed: its saver goes, the other goes on" "windows: $(geometries | tr '\n' ';')" \
      "children: $(ps -o pid=,stat=,args= -p "${CHILDREN[*]}")" "$(describe changed)"
  fi
  xrandr --setmonitor RIGHT 1920/500x1080/280+1600+0 none >/dev/null 2>&1
  if wait_until 20 both_covered && bg_running changed; then
    pass "a monitor added: it gets a saver of its own"
  else
    fail "a monitor added: it gets a saver of its own" "windows: $(geometries | tr '\n' ';')" "$(describe changed)"
  fi
  xdotool key space
  if bg_wait changed "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc changed) == 0 ]] && wait_until 10 no_saver_window; then
    pass "after the changes a key still ends them all"
  else
    fail "after the changes a key still ends them all" "$(describe changed)"
  fi
else
  fail "a monitor removed: its saver goes, the other goes on" "the run did not start" "$(describe changed)"
fi
bg_kill changed
rm -f "$VANTREL_REGISTRY"

report_summary
