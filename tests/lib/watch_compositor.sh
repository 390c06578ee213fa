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
#                            time stamps, seconds since one (to the ms), a
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
#                            later)
#   clear_saver WATCHER      input, and waits for the saver to be gone

[[ -n ${VANTREL_LIB_WATCH_COMPOSITOR:-} ]] && return 0
VANTREL_LIB_WATCH_COMPOSITOR=1

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
within() { awk -v a="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(a >= lo && a <= hi) }'; }

stamped_input() {
  local stamp
  stamp=$(now)
  input >/dev/null 2>&1
  echo "$stamp"
}

_covered() { local k; k=$(output_kind "$1"); [[ $k == black || $k == bombs || $k == picture ]]; }
_outputs_covered() {
  local output
  for output in "${OUTPUTS[@]}"; do _covered "$output" || return 1; done
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
  local name=$1 stamp=$2 watcher=$3 low=$4 high=$5 took="" deadline=$((SECONDS + 20))
  # The outputs alone are looked at while the time runs (counting the savers
  # takes a walk through /proc, too slow to time by); a tight loop, so the
  # figure is late by one round of shots at most.
  while ((SECONDS < deadline)); do
    if _outputs_covered; then took=$(since "$stamp"); break; fi
    sleep 0.05
  done
  if [[ -z $took ]]; then
    fail "$name" "$(screens "$watcher")" "$(watch_log "$watcher")"
  elif ! within "$took" "$low" "$high"; then
    fail "$name" "came after $took s, want $low..$high s" "$(watch_log "$watcher")"
  elif [[ $(watch_savers "$watcher") != 1 ]]; then
    fail "$name" "covered after $took s, but $(watch_savers "$watcher") savers of the watcher's run" "$(watch_log "$watcher")"
  else
    pass "$name (after $took s)"
    return 0
  fi
  return 1
}

clear_saver() { input >/dev/null 2>&1; wait_until 10 saver_gone "$1"; }
