# The watcher's cases on a compositor, for the scripts of every Wayland
# desktop: timing the saver a watcher starts against the input that came
# before, from the outputs' own pixels. Source it after tests/lib/watch.sh;
# the script defines, for its compositor:
#
#   OUTPUTS                  the outputs' names
#   input                    input the compositor counts as activity
#   output_kind OUTPUT       what a fresh shot of OUTPUT shows (image_shows):
#                            "other" while the desktop's colour or a window
#                            is to be seen
#
# and gets:
#
#   now / since STAMP / within A LOW HIGH
#                            time stamps, seconds since one (to 10 ms), a
#                            range check
#   stamped_input            input, printing the time stamp of the moment
#                            just before it: an idle time measured from
#                            there can only come out long, never short
#   all_covered WATCHER      exactly one saver of WATCHER runs and every
#                            output shows a saver ("black", "bombs" or
#                            "picture")
#   saver_gone WATCHER       no saver of WATCHER runs and every output shows
#                            the desktop again
#   screens WATCHER          what each output shows, for a failure message
#   comes_after NAME STAMP WATCHER LOW HIGH
#                            a case: a saver of WATCHER covers every output
#                            between LOW and HIGH s after STAMP (the shots'
#                            own time is in the figure, which only makes it
#                            later); the saver's process must have started
#                            by HIGH; a sanitized one, slower to draw its
#                            first frame, gets a second more to cover
#   clear_saver WATCHER      input, and waits for the saver to be gone
#   at_rest NAME WATCHER     a case: WATCHER, whose timeout is far away,
#                            wakes for nothing in 5 s without input
#   second_watcher_cases     the cases of one watcher per session, on the
#                            running watcher "main"
#   turned_off_cases         ScreenSaveActive "0" written while "main" runs,
#                            and a watcher started with it (ends "main")
#   rest_and_end_cases DESKTOP COMMAND...
#                            a watcher "last" at rest, then a new timeout
#                            picked up, then COMMAND ends the compositor and
#                            must end the watcher and its saver
#
# The cases run the watcher as the session's user through `as_session`
# (VAR=VALUE... COMMAND), with the script's SESSION variables.

[[ -n ${VANTREL_LIB_WATCH_COMPOSITOR:-} ]] && return 0
VANTREL_LIB_WATCH_COMPOSITOR=1

# A sanitized build draws its first frame a good deal later: its covering
# gets a second more, while the watcher must still start it in time (when
# its process began, from /proc). The ordinary build is held to the bound.
WATCH_DRAW_SLACK=0
grep -qa __asan_init "${VANTREL_SAVER:?}" 2>/dev/null && WATCH_DRAW_SLACK=1

# Time stamps on the clock of /proc (seconds since boot), so that a
# process's start compares with them.
now() { cut -d' ' -f1 /proc/uptime; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
within() { awk -v a="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(a >= lo && a <= hi) }'; }
# started_since PID STAMP: seconds from STAMP to the start of process PID.
started_since() {
  local ticks rest
  rest=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  rest=${rest##*) }
  ticks=$(awk '{ print $20 }' <<<"$rest")
  awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v a="$2" 'BEGIN { printf "%.2f", t / hz - a }'
}

stamped_input() {
  local stamp
  stamp=$(now)
  input >/dev/null 2>&1
  echo "$stamp"
}

# The outputs are shot side by side: a round takes as long as one shot,
# which is what the timing is late by at most.
_outputs_covered() {
  local i pids=() dir=${BG_DIR:?}/covered
  mkdir -p "$dir"
  for i in "${!OUTPUTS[@]}"; do
    output_kind "${OUTPUTS[i]}" >"$dir/$i" 2>/dev/null &
    pids+=($!)
  done
  wait "${pids[@]}"
  for i in "${!OUTPUTS[@]}"; do
    [[ $(<"$dir/$i") =~ ^(black|bombs|picture)$ ]] || return 1
  done
}
all_covered() { _outputs_covered && [[ $(watch_savers "$1") == 1 ]]; }
saver_gone() {
  local output
  [[ $(watch_savers "$1") == 0 ]] || return 1
  for output in "${OUTPUTS[@]}"; do [[ $(output_kind "$output") == other ]] || return 1; done
}
screens() {
  local output
  for output in "${OUTPUTS[@]}"; do printf '%s: %s; ' "$output" "$(output_kind "$output")"; done
  printf 'savers: %s\n' "$(watch_savers "$1")"
}

comes_after() {
  local name=$1 stamp=$2 watcher=$3 low=$4 high=$5 took="" deadline=$((SECONDS + 20)) drawn saver started
  drawn=$(awk -v h="$high" -v s="$WATCH_DRAW_SLACK" 'BEGIN { print h + s }')
  # The outputs alone are looked at while the time runs (counting the savers
  # takes a walk through /proc, too slow to time by); a tight loop, so the
  # figure is late by one round of shots at most.
  while ((SECONDS < deadline)); do
    if _outputs_covered; then took=$(since "$stamp"); break; fi
    sleep 0.05
  done
  saver=$(watch_saver_pids "$watcher")
  [[ $(wc -w <<<"$saver") == 1 ]] && started=$(started_since "$saver" "$stamp")
  if [[ -z $took ]]; then
    fail "$name" "$(screens "$watcher")" "$(watch_log "$watcher")"
  elif [[ -z ${started:-} ]]; then
    fail "$name" "covered after $took s, but savers of the watcher's: $(wc -w <<<"$saver")" "$(watch_log "$watcher")"
  elif ! within "$took" "$low" "$drawn" || ! within "$started" 0 "$high"; then
    fail "$name" "the saver started after $started s and covered after $took s; want $low..$drawn s" \
      "$(watch_log "$watcher")"
  else
    pass "$name (started after $started s, covered after $took s$( ((WATCH_DRAW_SLACK)) &&
      echo "; sanitized: up to $drawn s allowed"))"
    return 0
  fi
  return 1
}

clear_saver() { input >/dev/null 2>&1; wait_until 10 saver_gone "$1"; }

# Every time the kernel put the watcher to sleep or took the processor from
# it: at rest it sleeps in poll() and is never woken.
_wakeups() {
  awk '/^(non)?voluntary_ctxt_switches:/ { n += $2 } END { print n + 0 }' "/proc/$1/status" 2>/dev/null
}
at_rest() {
  local name=$1 pid before after
  pid=$(watch_pid "$2")
  # Whatever starting up still brought (the bus's greetings) is over first.
  sleep 1
  before=$(_wakeups "$pid")
  sleep 5
  after=$(_wakeups "$pid")
  if [[ -n $before && -n $after ]] && ((after - before <= 1)) && bg_running "$2"; then
    pass "$name ($((after - before)) wake-ups in 5 s)"
  else
    fail "$name" "wake-ups in 5 s: $((${after:-0} - ${before:-0}))" "$(watch_log "$2")"
  fi
}

second_watcher_cases() {
  local second status stamp
  clear_saver main
  second=$(as_session VANTREL_REGISTRY="$VANTREL_REGISTRY" timeout -k 5 20 "$VANTREL_SAVER" --watch 2>&1)
  status=$?
  if [[ $status == 0 && $second == *"already runs"*"pid $(watch_pid main)"* ]] && bg_running main; then
    pass "a second watcher says one runs and exits 0"
  else
    fail "a second watcher says one runs and exits 0" "status $status: $second"
  fi
  stamp=$(stamped_input)
  comes_after "the first one still starts the saver" "$stamp" main 2.9 4.0
}

turned_off_cases() {
  local off status
  clear_saver main
  watch_settings 0 3
  if bg_wait main 10 && [[ $(bg_rc main) == 0 ]] && watch_log main | grep -q 'turned off' &&
    watch_no_saver_for main 5; then
    pass "ScreenSaveActive \"0\" written in the file ends the watcher with 0, and no saver comes"
  else
    fail "ScreenSaveActive \"0\" written in the file ends the watcher with 0, and no saver comes" \
      "status $(bg_rc main)" "$(watch_log main)"
  fi
  input >/dev/null 2>&1
  off=$(as_session VANTREL_REGISTRY="$VANTREL_REGISTRY" timeout -k 5 20 "$VANTREL_SAVER" --watch 2>&1)
  status=$?
  if [[ $status == 0 && $off == *"turned off"* ]] && stays_true 5 saver_gone main; then
    pass "started with ScreenSaveActive \"0\" it keeps the saver off"
  else
    fail "started with ScreenSaveActive \"0\" it keeps the saver off" "status $status: $off"
  fi
}

# At rest first: a timeout far away and no input. Then a new one in the file
# counts at once, and the compositor's end ends the watcher and its saver.
rest_and_end_cases() {
  local desktop=$1 saver name
  shift
  name="the watcher ends with 0 when $desktop ends, and its saver with it"
  watch_settings 1 600
  if ! watch_start last "${SESSION[@]}"; then
    fail "$name" "it did not start" "$(watch_log last)"
    return
  fi
  at_rest "at rest the watcher wakes for nothing" last
  watch_settings 1 3
  if ! wait_until 10 bash -c "grep -q 'now watching for 3 s' '$BG_DIR/last.out'" || ! wait_until 20 all_covered last; then
    fail "$name" "no saver came after the timeout became 3 s" "$(watch_log last)"
    return
  fi
  saver=$(watch_saver_pids last | head -n1)
  "$@" >/dev/null 2>&1
  if bg_wait last 15 && [[ $(bg_rc last) == 0 ]] && wait_until 10 eval '! kill -0 "$saver" 2>/dev/null'; then
    pass "$name"
  else
    fail "$name" "status $(bg_rc last)" "$(watch_log last)"
  fi
}
