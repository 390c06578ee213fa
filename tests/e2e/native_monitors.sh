#!/usr/bin/env bash
# The native full-screen run on an X server with two monitors of different
# sizes (the XWayland of a headless sway with two outputs): a window exactly
# over each monitor, the bombs on both, in the slideshow a whole picture on
# each; a key ends every monitor's saver at once and leaves no process
# behind, and so do SIGTERM (the run ends with 0) and a crash of one
# monitor's process (with 1).
#
# The display of the native tier is not used: the script makes its own.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/sway.sh
source "$(dirname "$0")/../lib/sway.sh"
VANTREL_NATIVE_SESSION=1 native_begin

# The saver in a session of its own: whatever processes it makes stay in
# it, so none can slip away unseen.
saver_start_alone() { bg_start "$1" setsid "$VANTREL_SAVER" "${@:2}"; }
left_behind() { [[ -f $BG_DIR/$1.pid ]] && pgrep -s "$(saver_pid "$1")" | tr '\n' ' '; }
all_gone() { bg_done "$1" && [[ -z $(left_behind "$1") ]]; }
end_sessions() {
  local id pid
  for id in "${BG_STARTED[@]}"; do
    for pid in $(left_behind "$id"); do kill -9 "$pid" 2>/dev/null; done
  done
}
trap 'end_sessions; native_end; sway_cleanup' EXIT

sway_require 1600x1200+0+0 1920x1080+1600+0

# "NAME W H X Y" per output (scale 1: layout units are pixels).
mapfile -t OUTPUTS < <(sway_outputs | sed -E 's/^([^ ]+) ([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+).*/\1 \2 \3 \4 \5/')

# The shortest phases, so the slideshow comes within seconds.
set_settings ScreenDelay=1

# "X Y W H" of every viewable full-screen saver window, sorted.
saver_windows() {
  local id info
  for id in $(xwininfo -root -children 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p'); do
    info=$(xprobe info "$((id))") || continue
    [[ $(field "$info" class) == WindowsScreenSaverClass && $(field "$info" viewable) == 1 &&
      $info == *" title=Screen Saver" ]] || continue
    printf '%s %s %s %s\n' "$(field "$info" x)" "$(field "$info" y)" "$(field "$info" w)" "$(field "$info" h)"
  done | sort
}
monitor_rects() { printf '%s\n' "${OUTPUTS[@]}" | awk '{ print $4, $5, $2, $3 }' | sort; }
one_window_per_monitor() { [[ $(saver_windows) == "$(monitor_rects)" ]]; }

output_shows() {
  local shot=$NATIVE_TMP/output.ppm
  sway_shot "$1" "$shot" 2>/dev/null && [[ $(image_shows "$shot") == "$2" ]]
}

# The four slideshow pictures as each monitor would show one whole, made
# smaller (the same way as the screenshots) to be quick to compare.
PICTURES=(title battlefield searchlights fortress)
for output in "${OUTPUTS[@]}"; do
  read -r _ w h _ _ <<<"$output"
  for picture in "${PICTURES[@]}"; do
    ref=$NATIVE_TMP/ref-${w}x$h-$picture.ppm
    [[ -f $ref ]] || convert "$VANTREL_ROOT/resources/$picture.bmp" -sample "${w}x$h!" -scale 25% "$ref"
  done
done

# shown_picture NAME W H: the picture the output shows whole, or nothing.
shown_picture() {
  local shot=$NATIVE_TMP/slide.ppm small=$NATIVE_TMP/slide-small.ppm picture error
  sway_shot "$1" "$shot" 2>/dev/null && convert "$shot" -scale 25% "$small" 2>/dev/null || return 1
  for picture in "${PICTURES[@]}"; do
    error=$(compare -metric RMSE "$NATIVE_TMP/ref-$2x$3-$picture.ppm" "$small" null: 2>&1 |
      sed -n 's/.*(\([0-9.e-]*\)).*/\1/p')
    if awk -v e="${error:-1}" 'BEGIN { exit !(e < 0.03) }'; then
      echo "$picture"
      return 0
    fi
  done
  return 1
}

# --- one run: windows, bombs, pictures, the key --------------------------------

pointer_to 800 600
saver_start_alone first /s
if ! saver_wait_window first; then
  fail "/s opens the saver" "$(describe first)"
  report_summary
  exit 1
fi

if wait_until "$NATIVE_APPEAR_TIMEOUT" one_window_per_monitor; then
  pass "one saver window exactly over each monitor ($(monitor_rects | tr '\n' ',' | sed 's/,$//'))"
else
  fail "one saver window exactly over each monitor" "monitors (x y w h):" "$(monitor_rects)" \
    "saver windows:" "$(saver_windows)"
fi

for output in "${OUTPUTS[@]}"; do
  read -r name w h x y <<<"$output"
  if wait_until "$NATIVE_APPEAR_TIMEOUT" output_shows "$name" bombs; then
    pass "$name (${w}x$h+$x+$y) shows the bombs"
  else
    sway_shot "$name" "$NATIVE_TMP/output.ppm"
    fail "$name (${w}x$h+$x+$y) shows the bombs" "shows: $(image_shows "$NATIVE_TMP/output.ppm")"
  fi
done

# Each monitor runs its own scene cycle, so each is watched on its own until
# it has shown one of the pictures whole.
declare -A SHOWN=()
_whole_pictures() {
  local output name w h picture
  for output in "${OUTPUTS[@]}"; do
    read -r name w h _ _ <<<"$output"
    [[ -n ${SHOWN[$name]:-} ]] && continue
    picture=$(shown_picture "$name" "$w" "$h") && SHOWN[$name]=$picture
  done
  ((${#SHOWN[@]} == ${#OUTPUTS[@]}))
}
wait_until 60 _whole_pictures
for output in "${OUTPUTS[@]}"; do
  read -r name w h _ _ <<<"$output"
  if [[ -n ${SHOWN[$name]:-} ]]; then
    pass "$name shows a whole slideshow picture over its ${w}x$h (${SHOWN[$name]})"
  else
    fail "$name shows a whole slideshow picture over its ${w}x$h" "none within 60 s" "$(describe first)"
  fi
done

if bg_running first; then
  xdotool key space
  started=$(date +%s%N)
  wait_until "$NATIVE_EXIT_TIMEOUT" all_gone first
  took=$((($(date +%s%N) - started) / 1000000))
  if all_gone first && ((took <= 1000)) && [[ $(bg_rc first) == 0 && -z $(saver_windows) ]]; then
    pass "a key ends the saver on both monitors with 0 within 1 s (${took} ms), no process left"
  else
    fail "a key ends the saver on both monitors with 0 within 1 s" "after $took ms" "$(describe first)" \
      "processes left: $(left_behind first)" "saver windows: $(saver_windows)"
  fi
else
  fail "a key ends the saver on both monitors with 0 within 1 s" "it had ended before" "$(describe first)"
fi
bg_kill first
end_sessions

# --- ended from outside ------------------------------------------------------------

# output_has ID PATTERN: what the run ID printed has a line matching PATTERN.
output_has() { grep -q -- "$2" "$BG_DIR/$1.out" 2>/dev/null; }
# Each run must first stand on every monitor, one process each under the one
# started, or there is nothing for the signal to end.

# monitors_served ID: a window exactly over each monitor, and as many
# processes under the one started as there are monitors.
monitors_served() {
  one_window_per_monitor && [[ $(pgrep -P "$(saver_pid "$1")" | grep -c .) == "${#OUTPUTS[@]}" ]]
}
# What of that is missing, for a failure.
unserved() {
  printf 'monitors (x y w h):\n%s\nsaver windows:\n%s\n' "$(monitor_rects)" "$(saver_windows)"
  printf 'processes under the one started: %s (want %s)\n' \
    "$(pgrep -P "$(saver_pid "$1")" | tr '\n' ' ')" "${#OUTPUTS[@]}"
}

name="SIGTERM ends the saver on both monitors with 0, no process left"
saver_start_alone signalled /s
if saver_wait_window signalled && wait_until "$NATIVE_APPEAR_TIMEOUT" monitors_served signalled; then
  kill -TERM "$(saver_pid signalled)"
  wait_until "$NATIVE_EXIT_TIMEOUT" all_gone signalled
  if all_gone signalled && [[ $(bg_rc signalled) == 0 && -z $(saver_windows) ]]; then
    pass "$name"
  else
    fail "$name" "$(describe signalled)" "processes left: $(left_behind signalled)" "saver windows: $(saver_windows)"
  fi
else
  fail "$name" "the saver did not stand on every monitor before the signal" "$(unserved signalled)" \
    "$(describe signalled)"
fi
bg_kill signalled
end_sessions

# One monitor's saver crashing must not leave the others, or any process,
# behind. The crashed one's fault guard ends it with 1, and the run ends
# with the status of the one that ended it, after a report of the fault.
name="a crash of one monitor's saver ends them all with 1, no process or window left"
saver_start_alone crashed /s
if saver_wait_window crashed && wait_until "$NATIVE_APPEAR_TIMEOUT" monitors_served crashed; then
  victim=$(pgrep -P "$(saver_pid crashed)" | head -n1)
  kill -SEGV "$victim"
  if wait_until "$NATIVE_EXIT_TIMEOUT" all_gone crashed && [[ $(bg_rc crashed) == 1 && -z $(saver_windows) ]] &&
    output_has crashed '^vantrel: unhandled exception 0xC0000005 (access violation)'; then
    pass "$name"
  else
    fail "$name" "$(describe crashed)" "processes left: $(left_behind crashed)" "saver windows: $(saver_windows)"
  fi
else
  fail "$name" "the saver did not stand on every monitor before the crash" "$(unserved crashed)" \
    "$(describe crashed)"
fi
bg_kill crashed
end_sessions

report_summary
