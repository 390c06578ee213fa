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
