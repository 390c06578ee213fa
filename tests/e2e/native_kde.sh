#!/usr/bin/env bash
# The native saver on KWin, Plasma's compositor, run headless with outputs
# of its virtual backend: the second at scale 2, a third that comes and goes
# while the saver runs. /s gives every output an overlay surface of its own
# through KWin's layer shell, at the output's size, over the desktop, and
# takes the keyboard; keys, a button and a pointer travelling more than 4
# pixels end it with 0 (input from KWin's own fake input, since KWin has
# no virtual pointer or keyboard protocol), a smaller movement does not;
# SIGTERM ends it with 0 and a KWin that dies under it with 1. /c opens the
# configuration dialog as a toplevel that keys drive. Pixels come from KWin's
# screenshot service, the protocol the saver spoke from its WAYLAND_DEBUG
# trace.
#
# Everything runs as the compositor's own user (tests/lib/kwin.sh makes
# one). When KWin itself cannot run here, the script says why and counts
# nothing.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/kwin.sh
source "$(dirname "$0")/../lib/kwin.sh"

# Every output's size in device pixels (KWin's virtual outputs are all one
# size); the second is at scale 2, so its surfaces are half as large.
SIZE=1600x1200
HALF=800x600
# The desktop's colour, which must show nowhere while the saver runs.
DESKTOP='#C02080'
# Linux key codes of the keys the cases press.
KEY_ESC=1 KEY_2=3 KEY_5=6 KEY_BACKSPACE=14 KEY_TAB=15 KEY_ENTER=28 KEY_A=30 KEY_B=48 KEY_ALT=56
KEY_RIGHT=106 KEY_END=107

# Where the pictures for the README are kept.
ARTEFACTS=${VANTREL_ARTEFACTS:-$VANTREL_ROOT/out/test-artefacts}
NATIVE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-kde.XXXXXX")
BG_DIR=$NATIVE_TMP
finish() {
  bg_kill_all
  kwin_cleanup
  rm -rf "$NATIVE_TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

[[ -x $VANTREL_SAVER ]] || { fail "setup: $VANTREL_SAVER exists" "build it: ./setup.sh native"; report_summary; exit 1; }
require_tools swaybg convert compare identify

# The test session's X server has no business here: every saver below runs
# with no DISPLAY, so only Wayland can serve it.
unset VANTREL_BACKEND XSCREENSAVER_WINDOW
kwin_require 3 "$SIZE"
MAIN=${KWIN_OUTPUTS[0]} HIDPI=${KWIN_OUTPUTS[1]} SPARE=${KWIN_OUTPUTS[2]}
chown "$KWIN_USER" "$NATIVE_TMP"
export VANTREL_REGISTRY=$NATIVE_TMP/registry.reg

# The layout: MAIN, HIDPI at scale 2 beside it, SPARE away until the case
# that brings it.
if ! kwin_outputs set "$HIDPI" scale 2 >/dev/null || ! kwin_outputs set "$SPARE" disable >/dev/null; then
  fail "setup: $HIDPI at scale 2 and $SPARE disabled" "$(kwin_outputs list 2>&1)"
  report_summary
  exit 1
fi
_layout_is() { [[ $(kwin_output_list | sort | tr '\n' ' ') == "$*" ]]; }
if ! wait_until 20 _layout_is "$MAIN $SIZE+0+0*1 $HIDPI $SIZE+1600+0*2 "; then
  fail "setup: the layout is $MAIN $SIZE+0+0*1 and $HIDPI $SIZE+1600+0*2" "$(kwin_outputs list 2>&1)"
  report_summary
  exit 1
fi

# _exec_as_user COMMAND...: becomes COMMAND, run as the compositor's user in
# its session's environment. In the background its pid is then the
# program's own, so signals reach the program itself.
_exec_as_user() {
  local KWIN_COMMAND
  _kwin_user_command "$@"
  exec "${KWIN_COMMAND[@]}"
}

# kde_saver_start ID [VAR=VALUE...] ARGS...: the saver in the background, with
# no DISPLAY and whatever variables are given; always with its protocol
# trace, which the cases read.
kde_saver_start() {
  local id=$1; shift
  local vars=(WAYLAND_DEBUG=client)
  while [[ ${1:-} == *=* ]]; do vars+=("$1"); shift; done
  local name
  for name in VANTREL_REGISTRY ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [[ -n ${!name:-} ]] && vars=("$name=${!name}" "${vars[@]}")
  done
  bg_start "$id" _exec_as_user env -u DISPLAY "${vars[@]}" "$VANTREL_SAVER" "$@"
}

# output_has ID PATTERN: what the run ID printed has a line matching PATTERN.
output_has() { grep -q -- "$2" "$BG_DIR/$1.out" 2>/dev/null; }
output_count() { grep -c -- "$2" "$BG_DIR/$1.out" 2>/dev/null; }

# output_shot OUTPUT: a fresh screenshot of OUTPUT, left in $NATIVE_TMP/OUTPUT.ppm.
output_shot() {
  rm -f "$NATIVE_TMP/$1.ppm"
  kwin_shot "$1" "$NATIVE_TMP/$1.ppm" 2>"$NATIVE_TMP/shot.log"
}
output_shows() { output_shot "$1" && [[ $(image_shows "$NATIVE_TMP/$1.ppm") == "$2" ]]; }
output_kind() { output_shot "$1" && image_shows "$NATIVE_TMP/$1.ppm" || echo "no screenshot ($(head -n1 "$NATIVE_TMP/shot.log"))"; }
shot_size() { identify -format '%wx%h' "$NATIVE_TMP/$1.ppm" 2>/dev/null; }
# desktop_on OUTPUT: the output shows the desktop's colour, all of it.
desktop_on() {
  output_shot "$1" &&
    [[ $(convert "$NATIVE_TMP/$1.ppm" -unique-colors -depth 8 txt:- 2>/dev/null | grep -c '^[0-9]') == 1 ]] &&
    [[ $(convert "$NATIVE_TMP/$1.ppm" -format '%[hex:p{10,10}]' info: 2>/dev/null) == "${DESKTOP#\#}"* ]]
}
desktop_shown() { desktop_on "$MAIN" && desktop_on "$HIDPI"; }

pixels_off() {
  compare -metric AE "$1" "$2" null: 2>&1 | awk '$1 + 0 == $1 { printf "%d\n", $1; ok = 1 } END { if (!ok) print 999999999 }'
}

# The saver's processes: the run's own and, with several outputs, one per
# output, each told its output's name.
saver_children() { pgrep -P "$(saver_pid "$1")" 2>/dev/null; }
# saver_on ID OUTPUT: a process of the run ID keeps to OUTPUT.
saver_on() {
  local child
  for child in $(saver_children "$1"); do
    tr '\0' '\n' <"/proc/$child/environ" 2>/dev/null | grep -qx "VANTREL_MONITOR_NAME=$2" && return 0
  done
  return 1
}
saver_off() { ! saver_on "$@"; }
# saver_of ID OUTPUT: the pid of the process of the run ID that keeps to OUTPUT.
saver_of() {
  local child
  for child in $(saver_children "$1"); do
    tr '\0' '\n' <"/proc/$child/environ" 2>/dev/null | grep -qx "VANTREL_MONITOR_NAME=$2" && { echo "$child"; return 0; }
  done
  return 1
}

kde_describe() {
  printf 'exit status: %s\n' "$(bg_rc "$1")"
  printf '%s shows: %s; %s shows: %s\n' "$MAIN" "$(output_kind "$MAIN")" "$HIDPI" "$(output_kind "$HIDPI")"
  local out; out=$(bg_output "$1" | grep -v '^\[' | tail -n 5)
  [[ -n $out ]] && printf 'output: %s\n' "$out"
  return 0
}

# kde_saver_ready ID [keyboard]: the run ID has a surface configured on each
# of the two outputs (an overlay or a fullscreen toplevel) and a frame
# attached, and with "keyboard" the keyboard too; fails early when the saver
# has already ended. (From its trace: a screenshot each time would cost a
# second.)
# A saver that once failed to come up, or to answer input, will hardly do
# so later: the cases after it wait less, so that a broken saver still gets
# its report within the time a tier has.
APPEAR_TIMEOUT=$NATIVE_APPEAR_TIMEOUT
ANSWER_TIMEOUT=$NATIVE_EXIT_TIMEOUT
came_up() {
  "$@" && return 0
  APPEAR_TIMEOUT=$((NATIVE_APPEAR_TIMEOUT < 8 ? NATIVE_APPEAR_TIMEOUT : 8))
  return 1
}
answered() {
  "$@" && return 0
  ANSWER_TIMEOUT=$((NATIVE_EXIT_TIMEOUT < 8 ? NATIVE_EXIT_TIMEOUT : 8))
  return 1
}
kde_saver_ready() {
  local id=$1 keyboard=${2:-}
  _ready_or_end() {
    bg_done "$id" && return 0
    (($(output_count "$id" '\(zwlr_layer_surface_v1\|xdg_surface\)@[0-9]*\.configure(') >= 2)) &&
      output_has "$id" '-> wl_surface@[0-9]*\.attach(wl_buffer@' &&
      { [[ -z $keyboard ]] || output_has "$id" 'wl_keyboard@[0-9]*\.enter('; }
  }
  came_up wait_until "$APPEAR_TIMEOUT" _ready_or_end && bg_running "$id"
}

# expect_end ID WANT NAME: the run ID ends with WANT; returns 1 when it did not.
expect_end() {
  local id=$1 want=$2 name=$3 ended=1
  if answered bg_wait "$id" "$ANSWER_TIMEOUT" && [[ $(bg_rc "$id") == "$want" ]]; then
    pass "$name"
  else
    fail "$name" "$(kde_describe "$id")"
    ended=0
  fi
  bg_kill "$id"
  ((ended))
}

# --- the session ---------------------------------------------------------------------
# A desktop of one colour on every output (a background layer surface).
bg_start desktop _exec_as_user swaybg -c "$DESKTOP" -m solid_color
if ! wait_until 30 desktop_shown; then
  fail "setup: the desktop shows its colour on both outputs" "$MAIN: $(output_kind "$MAIN"), $HIDPI: $(output_kind "$HIDPI")" \
    "$(bg_output desktop | tail -n 3)"
  report_summary
  exit 1
fi
# The pointer rests in the middle of MAIN.
park_pointer() { kwin_input moveto 800 600; }

# --- the overlay: one surface per output, at its size, with the keyboard ------------
park_pointer
kde_saver_start bombs /s
if kde_saver_ready bombs; then
  pass "/s comes up on KWin: a surface configured and drawn on each output"
  name="$MAIN ($SIZE) shows the bombs all over, nothing of the desktop left"
  if wait_until "$NATIVE_APPEAR_TIMEOUT" output_shows "$MAIN" bombs; then
    pass "$name"
    # For the README: what KWin shows, through its own screenshot service.
    mkdir -p "$ARTEFACTS" && convert "$NATIVE_TMP/$MAIN.ppm" -resize 50% "$ARTEFACTS/kde-bombs.png" 2>/dev/null
  else
    fail "$name" "$(kde_describe bombs)"
  fi
  name="$HIDPI ($SIZE at scale 2) shows bombs of its own all over"
  if wait_until "$NATIVE_APPEAR_TIMEOUT" output_shows "$HIDPI" bombs; then pass "$name"; else fail "$name" "$(kde_describe bombs)"; fi
  # Drawn at half size and enlarged, every 2x2 block would be one colour
  # (KWin enlarging by nearest neighbour), or the picture would have far
  # more colours than the saver's 256 (enlarging by blending neighbours).
  shot=$NATIVE_TMP/$HIDPI.ppm
  detail=0 colours=0
  if output_shot "$HIDPI" && convert "$shot" -sample 50% -sample 200% "$NATIVE_TMP/blocks.ppm"; then
    detail=$(pixels_off "$shot" "$NATIVE_TMP/blocks.ppm")
    colours=$(convert "$shot" -unique-colors -format '%w' info: 2>/dev/null)
  fi
  if [[ $(shot_size "$HIDPI") == "$SIZE" ]] && ((detail > 1600 * 1200 / 20 && colours > 0 && colours <= 256)); then
    pass "$HIDPI is drawn at its device pixels ($detail pixels of one-pixel detail, $colours colours)"
  else
    fail "$HIDPI is drawn at its device pixels" "shot $(shot_size "$HIDPI"), one-pixel detail: $detail, colours: $colours"
  fi

  # The protocol the savers spoke (one process per output, their traces
  # in one stream; each binds the outputs in KWin's order, so one output
  # has one wl_output id in all of them).
  trace=$NATIVE_TMP/bombs.trace
  bg_output bombs >"$trace"
  layers=$(grep -c -- '-> zwlr_layer_shell_v1@[0-9]*\.get_layer_surface(new id zwlr_layer_surface_v1@[0-9]*, wl_surface@[0-9]*, wl_output@[0-9]*, 3,' "$trace")
  outputs=$(grep -o -- '\.get_layer_surface(new id [^,]*, [^,]*, wl_output@[0-9]*' "$trace" | sed 's/.*wl_output/wl_output/' | sort -u | wc -l)
  # Every anchor and size asked for: a later request would undo the first.
  anchored=$(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_anchor(15)' "$trace")
  ((anchored == $(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_anchor(' "$trace"))) || anchored=0
  ((anchored == $(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_size(0, 0)' "$trace"))) || anchored=0
  ((anchored == $(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_size(' "$trace"))) || anchored=0
  zone=$(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_exclusive_zone(-1)' "$trace")
  keyboard=$(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_keyboard_interactivity(1)' "$trace")
  name="one overlay surface per output: every edge anchored at size 0x0, exclusive zone -1, the keyboard exclusive"
  if ((layers == 2 && outputs == 2 && anchored == 2 && zone == 2 && keyboard == 2)); then
    pass "$name"
  else
    fail "$name" "overlay surfaces $layers on $outputs outputs; set_anchor(15) and set_size(0, 0) alone $anchored," \
      "set_exclusive_zone(-1) $zone," \
      "set_keyboard_interactivity(1) $keyboard"
  fi
  # KWin configures each at its output's size in layout units; the scale-2
  # output's takes buffers of scale 2, and no surface is given another size.
  sizes=$(grep -o -- 'zwlr_layer_surface_v1@[0-9]*\.configure([0-9]*, [0-9]*, [0-9]*)' "$trace" |
    sed -E 's/.*, ([0-9]+), ([0-9]+)\)/\1x\2/' | sort -u | tr '\n' ' ')
  name="KWin configures them at their outputs' sizes ($SIZE and $HALF), the scale-2 one with buffers of scale 2"
  if [[ $sizes == "$SIZE $HALF " ]] && grep -q -- '-> wl_surface@[0-9]*\.set_buffer_scale(2)' "$trace"; then
    pass "$name"
  else
    fail "$name" "configured sizes: $sizes" "set_buffer_scale(2): $(grep -c -- 'set_buffer_scale(2)' "$trace")"
  fi
  # The keyboard enters one of the overlay surfaces.
  _keyboard_in() { output_has bombs 'wl_keyboard@[0-9]*\.enter('; }
  wait_until 10 _keyboard_in
  bg_output bombs >"$trace"
  surfaces=$(grep -o -- '\.get_layer_surface(new id [^,]*, wl_surface@[0-9]*' "$trace" | sed 's/.*, //' | sort -u)
  entered=$(grep -o -- 'wl_keyboard@[0-9]*\.enter([0-9]*, wl_surface@[0-9]*' "$trace" | sed 's/.*, //' | sort -u)
  if [[ -n $entered && -n $surfaces ]] && [[ -z $(comm -23 <(printf '%s\n' "$entered") <(printf '%s\n' "$surfaces")) ]]; then
    pass "the keyboard is given to the overlay ($(tr '\n' ' ' <<<"$entered"))"
  else
    fail "the keyboard is given to the overlay" "keyboard entered: ${entered:-nothing}; overlay surfaces: ${surfaces:-none}"
  fi
else
  fail "/s comes up on KWin: a surface configured and drawn on each output" "$(kde_describe bombs)"
fi

# The first key through fake input ends the run, within a second.
started=$(date +%s.%N)
bg_running bombs && kwin_input key "$KEY_A"
if bg_wait bombs "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc bombs) == 0 ]]; then
  took=$(seconds_to_end "$started" bombs)
  if awk -v t="$took" 'BEGIN { exit !(t >= 0 && t <= 1.0) }'; then
    pass "a key ends the run with 0 within a second (${took} s)"
  else
    fail "a key ends the run with 0 within a second" "it took $took s"
  fi
else
  fail "a key ends the run with 0 within a second" "$(kde_describe bombs)"
fi
bg_kill bombs
if wait_until 10 desktop_shown; then
  pass "after the run both outputs show the desktop again"
else
  fail "after the run both outputs show the desktop again" "$MAIN: $(output_kind "$MAIN"), $HIDPI: $(output_kind "$HIDPI")"
fi

# --- the pointer and its buttons ------------------------------------------------------
# kde_parked_saver ID NAME: a saver started with the pointer in the middle of
# MAIN, which has heard where the pointer is; fails NAME when it does not
# come up.
kde_parked_saver() {
  local id=$1 name=$2
  park_pointer || { fail "$name" "the fake pointer does not move"; return 1; }
  kde_saver_start "$id" /s
  if ! kde_saver_ready "$id"; then
    fail "$name" "$(kde_describe "$id")"
    bg_kill "$id"
    return 1
  fi
  # A movement of nothing: KWin then tells the surface under the pointer
  # that it is there, and where.
  kwin_input move 0 0
  _told() { output_has "$id" 'wl_pointer@[0-9]*\.enter([0-9]*, wl_surface@[0-9]*, 800\.0*, 600\.0*)'; }
  if ! wait_until 10 _told; then
    fail "$name" "the saver was not told the pointer's place" "$(bg_output "$id" | grep 'wl_pointer@' | tail -n 3)"
    bg_kill "$id"
    return 1
  fi
}

# The movement must be seen handled, not only watched for a while: the
# saver under the pointer receives it (its trace shows the motion), then
# draws three new frames. At most two of them can have been drawn before it
# read the motion (one on its way to the compositor, one waiting for the
# next frame callback); the third came after, and the saver handles all
# input it has read before it draws again. Bombs only, so that the drawing
# never stops.
set_settings BombsOnly=1
chown "$KWIN_USER" "$VANTREL_REGISTRY"
if kde_parked_saver drift "a 2-pixel movement leaves the saver running"; then
  kwin_input move 2 0
  _arrived() { output_has drift 'wl_pointer@[0-9]*\.motion([0-9]*, 802\.0*, 600\.0*)' || bg_done drift; }
  if wait_until 10 _arrived && bg_running drift && output_draws_on drift "$MAIN" 3; then
    pass "a 2-pixel movement reaches the saver, which draws on after it"
    kwin_input move 3 0
    expect_end drift 0 "3 pixels more (5 from the start) end the run with 0"
  else
    fail "a 2-pixel movement reaches the saver, which draws on after it" \
      "$(bg_output drift | grep 'wl_pointer@' | tail -n 3)" "$(kde_describe drift)"
  fi
  bg_kill drift
fi
rm -f "$VANTREL_REGISTRY"

if kde_parked_saver moved "a 5-pixel movement ends the run with 0"; then
  kwin_input move 0 5
  expect_end moved 0 "a 5-pixel movement ends the run with 0"
fi

if kde_parked_saver clicked "the left button ends the run with 0"; then
  kwin_input button left
  expect_end clicked 0 "the left button ends the run with 0"
fi

# --- SIGTERM ----------------------------------------------------------------------------
kde_saver_start term /s
if kde_saver_ready term; then
  kill -TERM "$(saver_pid term)"
  expect_end term 0 "SIGTERM ends the run with 0"
  _savers_gone() { ! pgrep -u "$KWIN_USER" -x vantrel-saver >/dev/null; }
  if wait_until 10 _savers_gone && wait_until 10 desktop_shown; then
    pass "and takes every output's saver with it"
  else
    fail "and takes every output's saver with it" "$(pgrep -u "$KWIN_USER" -a -x vantrel-saver)" \
      "$MAIN: $(output_kind "$MAIN"), $HIDPI: $(output_kind "$HIDPI")"
  fi
else
  fail "SIGTERM ends the run with 0" "$(kde_describe term)"
fi
bg_kill term

# --- an output that comes and goes -------------------------------------------------------
# Once the process of the output taken away is gone, the run's own process
# has judged its end (it reaps it first); the others must then go on
# drawing, three frames as above.
set_settings BombsOnly=1
chown "$KWIN_USER" "$VANTREL_REGISTRY"
kde_saver_start hotplug /s
if kde_saver_ready hotplug && wait_until 10 saver_on hotplug "$MAIN" && wait_until 10 saver_on hotplug "$HIDPI"; then
  kwin_outputs set "$SPARE" enable position 2400 0 >/dev/null
  if wait_until "$NATIVE_APPEAR_TIMEOUT" saver_on hotplug "$SPARE" &&
    wait_until "$NATIVE_APPEAR_TIMEOUT" output_shows "$SPARE" bombs; then
    pass "an output added mid-run ($SPARE) gets a saver of its own"
  else
    fail "an output added mid-run ($SPARE) gets a saver of its own" "$SPARE shows: $(output_kind "$SPARE")" \
      "processes: $(saver_children hotplug | tr '\n' ' ')" "$(kde_describe hotplug)"
  fi
  spare=$(saver_of hotplug "$SPARE")
  kwin_outputs set "$SPARE" disable >/dev/null
  _reaped() { [[ -n $spare && ! -e /proc/$spare ]]; }
  if wait_until 10 _reaped && bg_running hotplug && output_draws_on hotplug "$MAIN" 3 &&
    saver_on hotplug "$MAIN" && saver_on hotplug "$HIDPI" && output_shows "$MAIN" bombs; then
    pass "an output removed mid-run takes its own saver away, and the others stay"
  else
    fail "an output removed mid-run takes its own saver away, and the others stay" \
      "its process $spare: $([[ -e /proc/${spare:-none} ]] && echo there || echo gone)" \
      "processes: $(saver_children hotplug | tr '\n' ' ')" "$(kde_describe hotplug)"
  fi
  kwin_input key "$KEY_A"
  expect_end hotplug 0 "a key then ends what is left of the run with 0"
else
  fail "an output added mid-run ($SPARE) gets a saver of its own" "$(kde_describe hotplug)"
  kwin_outputs set "$SPARE" disable >/dev/null
fi
bg_kill hotplug
rm -f "$VANTREL_REGISTRY"

# --- the configuration dialog --------------------------------------------------------------
stored() {
  local line
  line=$(grep -s "^\"$1\"=" "$VANTREL_REGISTRY")
  echo "${line:-absent}"
}
# dialog_shown ID TITLE: the run ID made a toplevel titled TITLE, KWin
# configured it, and a frame of it is attached.
dialog_shown() {
  local id=$1 title=$2 toplevel
  toplevel=$(grep -o -- "-> xdg_toplevel@[0-9]*\.set_title(\"$title\")" "$BG_DIR/$id.out" | tail -n1 | sed -E 's/.*@([0-9]+)\..*/\1/')
  [[ -n $toplevel ]] && output_has "$id" "xdg_toplevel@$toplevel\.configure(" &&
    output_has "$id" '-> wl_surface@[0-9]*\.attach(wl_buffer@'
}
# open_dialog ID: /c as ID, waiting for its toplevel and the keyboard on it.
open_dialog() {
  local id=$1
  kde_saver_start "$id" /c
  _dialog_or_end() { bg_done "$id" || { dialog_shown "$id" Dialog && output_has "$id" 'wl_keyboard@[0-9]*\.enter('; }; }
  came_up wait_until "$APPEAR_TIMEOUT" _dialog_or_end && bg_running "$id"
}
# keys KEY...: each KEY pressed and released in turn; A+B holds A while B
# goes down and up.
keys() {
  local key codes
  for key in "$@"; do
    IFS=+ read -ra codes <<<"$key"
    kwin_input key "${codes[@]}" || return 1
  done
}

set_settings BombsOnly=0 BombCount=7
chown "$KWIN_USER" "$VANTREL_REGISTRY"
if open_dialog typed; then
  pass "/c opens the dialog as a toplevel that has the keyboard"
  # Five Tabs from OK reach the Bomb Speed box, where digits replace what
  # it shows; then Alt+B ticks "Bombs Only".
  keys $KEY_TAB $KEY_TAB $KEY_TAB $KEY_TAB $KEY_TAB $KEY_END $KEY_BACKSPACE $KEY_BACKSPACE $KEY_BACKSPACE \
    $KEY_2 $KEY_5 "$KEY_ALT+$KEY_B" $KEY_ENTER
  if ! expect_end typed 1 "Enter ends the dialog with 1"; then
    fail "what was typed is stored: Bombs Only ticked by Alt+B, 25 in the speed box" "nothing to judge: Enter did not end the dialog"
  elif [[ $(stored BombsOnly) == '"BombsOnly"=dword:00000001' && $(stored BombSpeed) == '"BombSpeed"=dword:00000019' ]]; then
    pass "what was typed is stored: Bombs Only ticked by Alt+B, 25 in the speed box"
  else
    fail "what was typed is stored: Bombs Only ticked by Alt+B, 25 in the speed box" "$(cat "$VANTREL_REGISTRY")"
  fi
else
  fail "/c opens the dialog as a toplevel that has the keyboard" "$(kde_describe typed)"
fi
bg_kill typed

# What the dialog shows, read from its pixels, so that an edit is seen to
# have reached it. Its client area is 291x219 dialog units of the
# template's font, whose base units are 6 by 13 pixels; KWin puts it on one
# output over the desktop, with a frame (where it draws one) around it and
# a title bar above it. A fresh copy of the client area is left in
# DIALOG_SHOT.
du_x() { echo $((($1 * 6 + 2) / 4)); }
du_y() { echo $((($1 * 13 + 4) / 8)); }
DIALOG_WIDTH=$(du_x 291) DIALOG_HEIGHT=$(du_y 219)
DIALOG_SHOT=$NATIVE_TMP/dialog.ppm
dialog_shot() {
  local output box w h x y side
  for output in "$MAIN" "$HIDPI"; do
    desktop_on "$output" && continue
    # What is not desktop: the dialog and its frame.
    box=$(convert "$NATIVE_TMP/$output.ppm" -trim -format '%w %h %X %Y' info: 2>/dev/null) || return 1
    read -r w h x y <<<"${box//+/}"
    ((w >= DIALOG_WIDTH && h >= DIALOG_HEIGHT)) || return 1
    side=$(((w - DIALOG_WIDTH) / 2))
    convert "$NATIVE_TMP/$output.ppm" -crop "${DIALOG_WIDTH}x$DIALOG_HEIGHT+$((x + side))+$((y + h - DIALOG_HEIGHT - side))" \
      +repage "$DIALOG_SHOT" 2>/dev/null
    return
  done
  return 1
}
# black_in FILE WxH+X+Y: the black pixels in that part of FILE.
black_in() {
  convert "$1" -crop "$2" +repage -format %c histogram:info:- 2>/dev/null |
    awk '/#000000/ { n += $1 } END { print n + 0 }'
}
# "Bombs Only" at 176,22 72x16 has its 13-pixel square centred on its
# height, a sunken edge of 2 around a white field; its tick is 21 black
# pixels in that field.
BOMBS_ONLY_FIELD="9x9+$(($(du_x 176) + 2))+$(($(du_y 22) + ($(du_y 16) - 13) / 2 + 2))"
ticked() { dialog_shot && [[ $(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") == "$1" ]]; }
# The Max Bomb Count box (43,68 20x15), which shows its slider's position.
COUNT_BOX="$(du_x 20)x$(du_y 15)+$(du_x 43)+$(du_y 68)"
count_box() { convert "$DIALOG_SHOT" -crop "$COUNT_BOX" +repage "$1" 2>/dev/null; }

# Two things changed first, so that there is something to store: seven
# Tabs from OK reach the Max Bomb Count slider, which two Rights move on (its
# box shows the new count); Alt+B ticks Bombs Only. Both must show on the
# dialog before Escape is pressed, or keys that went nowhere would pass.
set_settings BombCount=7 BombSpeed=9
chown "$KWIN_USER" "$VANTREL_REGISTRY"
cp "$VANTREL_REGISTRY" "$NATIVE_TMP/before.reg"
if open_dialog escape; then
  edited=0 tick=no recounted=no
  if wait_until "$APPEAR_TIMEOUT" ticked 0 && count_box "$NATIVE_TMP/box-before.ppm"; then
    keys $KEY_TAB $KEY_TAB $KEY_TAB $KEY_TAB $KEY_TAB $KEY_TAB $KEY_TAB $KEY_RIGHT $KEY_RIGHT "$KEY_ALT+$KEY_B"
    _edit_shown() {
      tick=no recounted=no
      dialog_shot || return 1
      [[ $(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") == 21 ]] && tick=yes
      count_box "$NATIVE_TMP/box-now.ppm" && ! cmp -s "$NATIVE_TMP/box-before.ppm" "$NATIVE_TMP/box-now.ppm" &&
        recounted=yes
      [[ $tick == yes && $recounted == yes ]]
    }
    if answered wait_until "$ANSWER_TIMEOUT" _edit_shown && bg_running escape; then
      edited=1
      pass "before Escape the dialog shows the edit: Bombs Only ticked, a new count in its box"
    else
      fail "before Escape the dialog shows the edit: Bombs Only ticked, a new count in its box" \
        "Bombs Only ticked: $tick ($(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") black pixels in its field, a tick is 21)" \
        "a new count in the box: $recounted" "$(kde_describe escape)"
    fi
  else
    fail "before Escape the dialog shows the edit" \
      "the dialog was not seen drawn with Bombs Only off (shot: $(identify -format '%wx%h' "$DIALOG_SHOT" 2>/dev/null))" \
      "$(kde_describe escape)"
  fi
  keys $KEY_ESC
  escaped=0
  expect_end escape 0 "Escape ends the dialog with 0" && escaped=1
  if ((!edited || !escaped)); then
    fail "Escape leaves the registry file as it was, byte for byte" \
      "nothing to judge: the edit seen $edited, ended by Escape $escaped"
  elif cmp -s "$NATIVE_TMP/before.reg" "$VANTREL_REGISTRY"; then
    pass "Escape leaves the registry file as it was, byte for byte"
  else
    fail "Escape leaves the registry file as it was" "$(diff "$NATIVE_TMP/before.reg" "$VANTREL_REGISTRY")"
  fi
else
  fail "/c shows the dialog before Escape" "$(kde_describe escape)"
fi
bg_kill escape

# The About box over the dialog; the dialog must be seen to stay after the
# box closes: it takes a key again (Alt+B, its tick seen), before Escape.
rm -f "$VANTREL_REGISTRY"
if open_dialog about; then
  keys "$KEY_ALT+$KEY_A"
  if answered wait_until "$ANSWER_TIMEOUT" dialog_shown about 'About Vantrel Screen Saver'; then
    pass "Alt+A opens the About box, a toplevel KWin shows"
    about=$(grep -o -- '-> xdg_toplevel@[0-9]*\.set_title("About Vantrel Screen Saver")' "$BG_DIR/about.out" |
      tail -n1 | sed -E 's/.*@([0-9]+)\..*/\1/')
    keys $KEY_ENTER
    _about_gone() { output_has about "-> xdg_toplevel@$about\.destroy()" || bg_done about; }
    stayed=0
    if answered wait_until "$ANSWER_TIMEOUT" _about_gone && bg_running about && keys "$KEY_ALT+$KEY_B" &&
      answered wait_until "$ANSWER_TIMEOUT" ticked 21 && bg_running about; then
      stayed=1
      pass "Enter closes the About box; the dialog stays and takes keys again"
    else
      fail "Enter closes the About box; the dialog stays and takes keys again" "$(kde_describe about)"
    fi
    keys $KEY_ESC
    if ! expect_end about 0 "Escape then ends the dialog with 0" || ((!stayed)); then
      fail "the About box and Escape store nothing" "nothing to judge: the dialog was not seen to stay and end by Escape"
    elif [[ -e $VANTREL_REGISTRY ]]; then
      fail "the About box and Escape store nothing" "$(cat "$VANTREL_REGISTRY")"
    else
      pass "the About box and Escape store nothing"
    fi
  else
    fail "Alt+A opens the About box, a toplevel KWin shows" "$(kde_describe about)"
  fi
else
  fail "/c shows the dialog before Alt+A" "$(kde_describe about)"
fi
bg_kill about

# --- KWin dies under the saver --------------------------------------------------------------
# Last, since it takes the session with it.
kde_saver_start orphan /s
if kde_saver_ready orphan; then
  killed_under_saver "KWin killed under the saver: status 1 within a second" orphan "$KWIN_PID"
else
  fail "KWin killed under the saver: status 1 within a second" "$(kde_describe orphan)"
fi
bg_kill orphan
no_sanitizer_report

report_summary
