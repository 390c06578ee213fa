#!/usr/bin/env bash
# The native saver on Wayland compositors, with no X server in its way. On
# sway (headless, two outputs of different sizes, the second at scale 2)
# every output gets an overlay surface of its own showing a whole scene at
# the output's device pixels, over the desktop; a Wayland keyboard, a button
# or a pointer that travels more than 4 pixels ends the run with 0, as on
# X11. weston, which has no layer shell, gets fullscreen toplevels. And the
# bad ends: no compositor at all, one that dies under the saver, a preview
# asked for where there is no X server.
#
# Everything runs as the compositor's own user (tests/lib/sway.sh makes one).
# When sway itself cannot run here, the script says why and counts nothing.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/sway.sh
source "$(dirname "$0")/../lib/sway.sh"

WL_POINTER=${WL_POINTER:-$VANTREL_ROOT/build/tests/e2e/wl_pointer}
# The configuration dialog's cases (0 leaves them out).
WAYLAND_DIALOG_CASES=${WAYLAND_DIALOG_CASES:-1}

# The two outputs, their sizes in device pixels; the second is 640x360 in
# the layout.
BIG_SIZE=1600x1200
HIDPI_SIZE=1280x720
# The desktop's colour, which must show nowhere while the saver runs.
DESKTOP='#C02080'
# What the saver's pictures are drawn from: the same art, stretched whole.
PICTURES=(title battlefield searchlights fortress)
# Where the screenshots of the whole layout are kept (for the README).
ARTEFACTS=${VANTREL_ARTEFACTS:-$VANTREL_ROOT/out/test-artefacts}
mkdir -p "$ARTEFACTS"

NATIVE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wayland.XXXXXX")
BG_DIR=$NATIVE_TMP
finish() {
  bg_kill_all
  sway_cleanup
  rm -rf "$NATIVE_TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

require_built "$VANTREL_SAVER" "$WL_POINTER"
require_tools swaybg wtype weston

# The test session's Xvfb has no business here: every saver below runs with
# no DISPLAY, so only Wayland can serve it.
unset VANTREL_BACKEND XSCREENSAVER_WINDOW
sway_require "$BIG_SIZE+0+0" "$HIDPI_SIZE+1600+0*2"
BIG=${SWAY_OUTPUTS[0]} HIDPI=${SWAY_OUTPUTS[1]}
chown "$SWAY_USER" "$NATIVE_TMP"
export VANTREL_REGISTRY=$NATIVE_TMP/registry.reg

# As the compositor's user, with the pid the program's own.
_exec_as_user() { sway_exec_as_user "$@"; }

# wl_saver_start ID [VAR=VALUE...] ARGS...: the saver in the background, with
# no DISPLAY and whatever variables are given.
wl_saver_start() {
  local id=$1; shift
  local vars=()
  while [[ ${1:-} == *=* ]]; do vars+=("$1"); shift; done
  # The settings of this script, and a sanitizer's options when it runs a
  # sanitized build.
  local name
  for name in VANTREL_REGISTRY ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [[ -n ${!name:-} ]] && vars=("$name=${!name}" "${vars[@]}")
  done
  bg_start "$id" _exec_as_user env -u DISPLAY "${vars[@]}" "$VANTREL_SAVER" "$@"
}

# wl_saver_run ID [VAR=VALUE...] ARGS...: a run to its end; prints its status
# ("timeout" when it was still going and had to be killed).
wl_saver_run() {
  local id=$1; shift
  wl_saver_start "$id" "$@"
  if bg_wait "$id" "$NATIVE_EXIT_TIMEOUT"; then bg_rc "$id"; else bg_kill "$id"; echo timeout; fi
}

pointer() { sway_as_user "$WL_POINTER" "$@" >/dev/null; }
# The pointer to the middle of the big output, whatever came before. The
# compositor draws its cursor into the output's pixels, and there is no
# cursor to draw before a saver hides it: shots of the big output leave out
# the square around it (painted black).
POINTER_BOX='rectangle 792,592 855,655'
park_pointer() { pointer -10000 -10000 && pointer 800 600; }

# output_shot OUTPUT: a fresh screenshot of OUTPUT, left in $NATIVE_TMP/OUTPUT.ppm.
output_shot() {
  local shot=$NATIVE_TMP/$1.ppm
  rm -f "$shot"
  sway_shot "$1" "$shot" >/dev/null 2>&1 || return 1
  [[ $1 != "$BIG" ]] || convert "$shot" -fill black -draw "$POINTER_BOX" "$shot"
}
output_shows() { output_shot "$1" && [[ $(image_shows "$NATIVE_TMP/$1.ppm") == "$2" ]]; }
output_kind() { output_shot "$1" && image_shows "$NATIVE_TMP/$1.ppm" || echo "no screenshot"; }
shot_size() { identify -format '%wx%h' "$NATIVE_TMP/$1.ppm" 2>/dev/null; }

wl_describe() {
  printf 'exit status: %s\n' "$(bg_rc "$1")"
  printf '%s shows: %s; %s shows: %s\n' "$BIG" "$(output_kind "$BIG")" "$HIDPI" "$(output_kind "$HIDPI")"
  local out; out=$(bg_output "$1" | grep -v '^\[' | tail -n 5)
  [[ -n $out ]] && printf 'output: %s\n' "$out"
  return 0
}

# wl_saver_up ID: waits for the saver started as ID to draw its bombs on the
# big output; fails early when the saver has already ended.
wl_saver_up() {
  local id=$1
  _bombs_or_end() { output_shows "$BIG" bombs || bg_done "$id"; }
  wait_until "$NATIVE_APPEAR_TIMEOUT" _bombs_or_end && bg_running "$id"
}

# output_has ID PATTERN: what the run ID printed has a line matching PATTERN.
# (The file itself: grep -q at the end of a pipe would end it early, and
# the pipe would count as failed.)
output_has() { grep -q -- "$2" "$BG_DIR/$1.out" 2>/dev/null; }

# pixels_off A B: how many pixels of two images of one size differ (all of
# them when the sizes differ or a file is missing).
pixels_off() {
  compare -metric AE "$1" "$2" null: 2>&1 | awk '$1 + 0 == $1 { printf "%d\n", $1; ok = 1 } END { if (!ok) print 999999999 }'
}

# --- the session ---------------------------------------------------------------
# sway's seat has no pointer until a device exists: one is held for the whole
# session, so a saver finds it when it starts.
bg_start held_pointer _exec_as_user "$WL_POINTER" --hold
_pointer_held() { output_has held_pointer '^ready'; }
wait_until 20 _pointer_held || fail "setup: a virtual pointer on the seat" "$(bg_output held_pointer)"
# Nearest-neighbour enlarging: a scene drawn at half size would come out as
# exact 2x2 blocks, which the sharpness check below looks for.
sway_as_user swaymsg "output $HIDPI scale_filter nearest" >/dev/null
sway_as_user swaymsg "output * bg $DESKTOP solid_color" >/dev/null
_desktop_shown() {
  local output
  for output in "$BIG" "$HIDPI"; do
    output_shot "$output" &&
      [[ $(convert "$NATIVE_TMP/$output.ppm" -format '%[hex:p{10,10}]' info: 2>/dev/null) == "${DESKTOP#\#}"* ]] ||
      return 1
  done
}
if ! wait_until 30 _desktop_shown; then
  fail "setup: the desktop shows its colour on both outputs" "$(sway_outputs 2>&1)"
  report_summary
  exit 1
fi

# --- the bombs, one whole scene per output ------------------------------------------
park_pointer
wl_saver_start bombs WAYLAND_DEBUG=client /s
if wl_saver_up bombs; then
  pass "/s draws the bombs over the whole of $BIG ($BIG_SIZE), nothing of the desktop left"
  if wait_until "$NATIVE_APPEAR_TIMEOUT" output_shows "$HIDPI" bombs; then
    pass "and over the whole of $HIDPI ($HIDPI_SIZE at scale 2)"
    sway_shot_all "$ARTEFACTS/wayland-bombs.png" >/dev/null 2>&1
    # Drawn at half size and enlarged, every 2x2 block would be one colour.
    shot=$NATIVE_TMP/$HIDPI.ppm
    convert "$shot" -sample 50% -sample 200% "$NATIVE_TMP/blocks.ppm"
    detail=$(pixels_off "$shot" "$NATIVE_TMP/blocks.ppm")
    if [[ $(shot_size "$HIDPI") == "$HIDPI_SIZE" ]] && ((detail > 1280 * 720 / 20)); then
      pass "$HIDPI is drawn at its device pixels ($detail pixels of one-pixel detail)"
    else
      fail "$HIDPI is drawn at its device pixels" "shot $(shot_size "$HIDPI"), one-pixel detail: $detail"
    fi
  else
    fail "and over the whole of $HIDPI ($HIDPI_SIZE at scale 2)" "$(wl_describe bombs)"
  fi

  # The protocol the saver spoke: one overlay surface (layer 3) per output,
  # anchored on all four edges, ignoring exclusive zones and taking the
  # keyboard; the scale-2 output's surface has buffers of scale 2.
  trace=$(bg_output bombs)
  layers=$(grep -c -- '-> zwlr_layer_shell_v1@[0-9]*\.get_layer_surface(new id zwlr_layer_surface_v1@[0-9]*, wl_surface@[0-9]*, wl_output@[0-9]*, 3,' <<<"$trace")
  outputs=$(grep -o -- '\.get_layer_surface(new id [^,]*, [^,]*, wl_output@[0-9]*' <<<"$trace" | sed 's/.*wl_output/wl_output/' | sort -u | wc -l)
  anchored=$(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_anchor(15)' <<<"$trace")
  zone=$(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_exclusive_zone(-1)' <<<"$trace")
  keyboard=$(grep -c -- '-> zwlr_layer_surface_v1@[0-9]*\.set_keyboard_interactivity(1)' <<<"$trace")
  if ((layers == 2 && outputs == 2 && anchored == 2 && zone == 2 && keyboard == 2)); then
    pass "one overlay surface per output: every edge anchored, exclusive zone -1, the keyboard exclusive"
  else
    fail "one overlay surface per output: every edge anchored, exclusive zone -1, the keyboard exclusive" \
      "overlay surfaces $layers on $outputs outputs; set_anchor(15) $anchored, set_exclusive_zone(-1) $zone," \
      "set_keyboard_interactivity(1) $keyboard"
  fi
  if grep -q -- '-> wl_surface@[0-9]*\.set_buffer_scale(2)' <<<"$trace"; then
    pass "the scale-2 output's surface takes buffers of scale 2"
  else
    fail "the scale-2 output's surface takes buffers of scale 2" "no wl_surface.set_buffer_scale(2) sent"
  fi

  # Where the pointer is becomes known to the saver; over its surface the
  # cursor is taken away.
  pointer 0 0
  _cursor_hidden() { output_has bombs '-> wl_pointer@[0-9]*\.set_cursor([0-9]*, nil, '; }
  if wait_until 10 _cursor_hidden; then
    pass "the cursor is hidden over the saver"
  else
    fail "the cursor is hidden over the saver" "$(bg_output bombs | grep -- 'wl_pointer@' | tail -n 5)"
  fi

  # wtype brings a keyboard the seat did not have before: its first key counts.
  started=$(date +%s.%N)
  bg_running bombs && sway_as_user wtype a
  if bg_wait bombs "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc bombs) == 0 ]]; then
    took=$(seconds_to_end "$started" bombs)
    if awk -v t="$took" 'BEGIN { exit !(t >= 0 && t <= 1.0) }'; then
      pass "wtype a (a keyboard new to the seat) ends the run with 0 within a second (${took} s)"
    else
      fail "wtype a (a keyboard new to the seat) ends the run with 0 within a second" "it took $took s"
    fi
  else
    fail "wtype a (a keyboard new to the seat) ends the run with 0 within a second" "$(wl_describe bombs)"
  fi
  if wait_until 10 output_shows "$BIG" other && wait_until 10 output_shows "$HIDPI" other &&
    _desktop_shown; then
    pass "after the run both outputs show the desktop again"
  else
    fail "after the run both outputs show the desktop again" "$BIG: $(output_kind "$BIG"), $HIDPI: $(output_kind "$HIDPI")"
  fi
else
  fail "/s draws the bombs over the whole of $BIG ($BIG_SIZE), nothing of the desktop left" "$(wl_describe bombs)"
fi
bg_kill bombs

# --- the slideshow: a whole picture on each output ----------------------------------
# matches_picture OUTPUT SIZE: the output's shot is one of the pictures,
# stretched whole to SIZE (at most 1% of its pixels off); prints which.
matches_picture() {
  local output=$1 size=$2 name reference diff
  local limit=$((${size%x*} * ${size#*x} / 100))
  for name in "${PICTURES[@]}"; do
    reference=$NATIVE_TMP/$name-$size.ppm
    [[ -f $reference ]] || convert "$VANTREL_ROOT/resources/$name.bmp" -sample "$size!" "$reference"
    diff=$(pixels_off "$NATIVE_TMP/$output.ppm" "$reference")
    if ((diff <= limit)); then
      echo "$name"
      return 0
    fi
  done
  return 1
}
set_settings ScreenDelay=1
chown "$SWAY_USER" "$VANTREL_REGISTRY"
wl_saver_start slides /s
if wl_saver_up slides; then
  for output in "$BIG:$BIG_SIZE" "$HIDPI:$HIDPI_SIZE"; do
    name="the slideshow shows a whole picture on ${output%%:*}, stretched to ${output#*:}"
    if wait_until 60 output_shows "${output%%:*}" picture; then
      if picture=$(matches_picture "${output%%:*}" "${output#*:}"); then
        pass "$name ($picture)"
      else
        cp "$NATIVE_TMP/${output%%:*}.ppm" "$NATIVE_TMP/${output%%:*}.picture.ppm"
        fail "$name" "the shot ($(shot_size "${output%%:*}")) is none of the pictures: $(
          for p in "${PICTURES[@]}"; do
            printf '%s %s, ' "$p" "$(pixels_off "$NATIVE_TMP/${output%%:*}.picture.ppm" "$NATIVE_TMP/$p-${output#*:}.ppm")"
          done)pixels off"
      fi
    else
      fail "$name" "$(wl_describe slides)"
    fi
  done
else
  fail "the slideshow shows a whole picture on each output" "$(wl_describe slides)"
fi
bg_kill slides
rm -f "$VANTREL_REGISTRY"

# --- the pointer and its buttons ------------------------------------------------------
# wl_parked_saver ID NAME [VAR=VALUE...]: a saver started with the pointer in
# the middle of the big output and told where it is; fails NAME when it does
# not come up.
wl_parked_saver() {
  local id=$1 name=$2
  park_pointer || { fail "$name" "the virtual pointer does not move"; return 1; }
  wl_saver_start "$id" "${@:3}" /s
  if ! wl_saver_up "$id"; then
    fail "$name" "$(wl_describe "$id")"
    bg_kill "$id"
    return 1
  fi
  # A saver learns the pointer's place from the compositor, which tells it
  # on a movement, even one of nothing.
  pointer 0 0
}
expect_closed() {
  if bg_wait "$1" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "$1") == 0 ]]; then pass "$2"; else fail "$2" "$(wl_describe "$1")"; fi
  bg_kill "$1"
}

# The pointer motions a run traced (WAYLAND_DEBUG) as received. Only the
# process of the output under the pointer receives them.
motions_received() { grep -c 'wl_pointer@[0-9]*\.motion(' "$BG_DIR/$1.out" 2>/dev/null; }
# The movement must be seen to have been handled, not only watched for a
# while: the saver under the pointer receives it (its trace shows the
# motion), then draws three new frames. At most two of them can have been
# drawn before it read the motion (one on its way to the compositor, one
# waiting for the next frame callback); the third came after, and the saver
# handles all input it has read before it draws again. Bombs only, so that
# the drawing never stops.
set_settings BombsOnly=1
chown "$SWAY_USER" "$VANTREL_REGISTRY"
if wl_parked_saver drift "a 2-pixel movement leaves the saver running" WAYLAND_DEBUG=client; then
  seen=$(motions_received drift)
  pointer 2 0
  _received_or_end() { (($(motions_received drift) > seen)) || bg_done drift; }
  if wait_until "$NATIVE_EXIT_TIMEOUT" _received_or_end && bg_running drift &&
    output_draws_on drift "$BIG" 3 && bg_running drift; then
    pass "a 2-pixel movement leaves the saver running"
    pointer 3 0
    expect_closed drift "3 pixels more (5 from the start) end the run with 0"
  else
    fail "a 2-pixel movement leaves the saver running" "$(wl_describe drift)" \
      "pointer motions received: $(motions_received drift) (before the movement: $seen)"
  fi
  bg_kill drift
fi
rm -f "$VANTREL_REGISTRY"

if wl_parked_saver moved "a 5-pixel movement ends the run with 0"; then
  pointer 0 5
  expect_closed moved "a 5-pixel movement ends the run with 0"
fi

for button in left right; do
  if wl_parked_saver "button_$button" "the $button button ends the run with 0"; then
    pointer 0 0 "$button"
    expect_closed "button_$button" "the $button button ends the run with 0"
  fi
done

# --- bad ends ---------------------------------------------------------------------
rc=$(wl_saver_run nosocket WAYLAND_DISPLAY=vantrel-no-such-socket /s)
out=$(bg_output nosocket)
if [[ $rc == 1 && $out == *"cannot open display"* ]]; then
  pass "WAYLAND_DISPLAY naming no socket and no DISPLAY: 'cannot open display' and 1"
else
  fail "WAYLAND_DISPLAY naming no socket and no DISPLAY: 'cannot open display' and 1" "status $rc" "output: $out"
fi

rc=$(wl_saver_run preview /p 12345)
out=$(bg_output preview)
if [[ $rc == 255 && -n $out && $(wc -l <<<"$out") == 1 ]]; then
  pass "/p on Wayland alone says in one line that it needs an X window, and exits with 255 ($out)"
else
  fail "/p on Wayland alone says in one line that it needs an X window, and exits with 255" "status $rc" "output: $out"
fi

# --- the configuration dialog ------------------------------------------------------
# The dialog as a native toplevel: its window in sway's tree, keys from a
# Wayland keyboard, its results in the registry file.
toplevel() {
  sway_as_user swaymsg -t get_tree -r 2>/dev/null |
    jq -e --arg title "$1" '[.. | objects | select(.name? == $title and .shell? == "xdg_shell")] | length > 0' >/dev/null
}
toplevel_gone() { ! toplevel "$1"; }
stored() {
  local line
  line=$(grep -s "^\"$1\"=" "$VANTREL_REGISTRY")
  echo "${line:-absent}"
}
# open_dialog ID [VAR=VALUE...]: /c as ID, waiting for its toplevel.
open_dialog() {
  local id=$1; shift
  wl_saver_start "$id" "$@" /c
  _dialog_or_end() { toplevel Dialog || bg_done "$id"; }
  wait_until "$NATIVE_APPEAR_TIMEOUT" _dialog_or_end && bg_running "$id"
}
# What the dialog shows, read from its pixels, so that an edit is seen to
# have reached it before Escape is judged. The content of the dialog's
# toplevel (sway frames it), a fresh shot in DIALOG_SHOT; the pointer is
# sent to the layout's corner first, away from the dialog.
DIALOG_SHOT=$NATIVE_TMP/dialog.ppm
dialog_shot() {
  local geometry
  geometry=$(sway_as_user swaymsg -t get_tree -r 2>/dev/null | jq -r 'first(.. | objects |
    select(.name? == "Dialog" and .shell? == "xdg_shell")) |
    "\(.rect.x + .window_rect.x),\(.rect.y + .window_rect.y) \(.window_rect.width)x\(.window_rect.height)"')
  [[ $geometry == *,*\ *x* ]] || return 1
  rm -f "$DIALOG_SHOT"
  timeout -k 2 30 grim -t ppm -g "$geometry" "$DIALOG_SHOT" 2>/dev/null
}
# The template's font has base units of 6 by 13 pixels; a control's place in
# dialog units becomes pixels from the dialog's client origin like this.
du_x() { echo $((($1 * 6 + 2) / 4)); }
du_y() { echo $((($1 * 13 + 4) / 8)); }
# black_in FILE WxH+X+Y: the black pixels in that part of FILE.
black_in() {
  convert "$1" -crop "$2" +repage -format %c histogram:info:- 2>/dev/null |
    awk '/#000000/ { n += $1 } END { print n + 0 }'
}
# "Bombs Only" at 176,22 72x16 has its 13-pixel square centred on its
# height, a sunken edge of 2 around a white field; its tick is 21 black
# pixels in that field.
BOMBS_ONLY_FIELD="9x9+$(($(du_x 176) + 2))+$(($(du_y 22) + ($(du_y 16) - 13) / 2 + 2))"
# The Max Bomb Count box (43,68 20x15), which shows its slider's position.
COUNT_BOX="$(du_x 20)x$(du_y 15)+$(du_x 43)+$(du_y 68)"
count_box() { convert "$DIALOG_SHOT" -crop "$COUNT_BOX" +repage "$1" 2>/dev/null; }

# key_ends ID WANT NAME KEYS...: wtype KEYS (wtype's own arguments), then the
# run must end with WANT; returns 1 when it did not.
key_ends() {
  local id=$1 want=$2 name=$3 ended=1; shift 3
  sway_as_user wtype "$@"
  if bg_wait "$id" "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc "$id") == "$want" ]]; then
    pass "$name"
  else
    fail "$name" "$(wl_describe "$id")"
    ended=0
  fi
  bg_kill "$id"
  ((ended))
}

if ((WAYLAND_DIALOG_CASES)); then
  # A person's keyboard is there before the dialog. (Every wtype brings a
  # keyboard of its own, which the seat may offer the dialog only after its
  # first key went down.)
  bg_start held_keyboard _exec_as_user wtype -s 3600000
  _keyboard_held() {
    sway_as_user swaymsg -t get_seats -r 2>/dev/null | jq -e '[.[].devices[] | select(.type == "keyboard")] | length > 0' >/dev/null
  }
  wait_until 20 _keyboard_held || fail "setup: a virtual keyboard on the seat" "$(bg_output held_keyboard)"

  set_settings BombsOnly=0 BombCount=7
  chown "$SWAY_USER" "$VANTREL_REGISTRY"
  if open_dialog typed; then
    pass "/c opens the dialog as a toplevel of its own"
    # Five Tabs from OK reach the Bomb Speed box, where digits replace what
    # it shows; then Alt+B ticks "Bombs Only" (and takes the focus there).
    sway_as_user wtype -k Tab -k Tab -k Tab -k Tab -k Tab -k End -k BackSpace -k BackSpace -k BackSpace 25
    sway_as_user wtype -M alt b -m alt
    key_ends typed 1 "Enter ends the dialog with 1" -k Return
    if [[ $(stored BombsOnly) == '"BombsOnly"=dword:00000001' && $(stored BombSpeed) == '"BombSpeed"=dword:00000019' ]]; then
      pass "what was typed is stored: Bombs Only ticked by Alt+B, 25 in the speed box"
    else
      fail "what was typed is stored: Bombs Only ticked by Alt+B, 25 in the speed box" "$(cat "$VANTREL_REGISTRY")"
    fi
  else
    fail "/c opens the dialog as a toplevel of its own" "$(wl_describe typed)"
  fi

  # Two things changed first, so there is something to store: seven Tabs
  # from OK reach the Max Bomb Count slider, which two Rights move on (its
  # box shows the new count); Alt+B ticks Bombs Only. Both must show on the
  # dialog before Escape is pressed, or keys that went nowhere would pass.
  set_settings BombCount=7 BombSpeed=9
  chown "$SWAY_USER" "$VANTREL_REGISTRY"
  cp "$VANTREL_REGISTRY" "$NATIVE_TMP/before.reg"
  if open_dialog escape; then
    edited=0 ticked=no recounted=no
    pointer -10000 -10000
    _dialog_drawn() {
      dialog_shot && (($(convert "$DIALOG_SHOT" -unique-colors -depth 8 txt:- 2>/dev/null | grep -c '^[0-9]') > 16))
    }
    if wait_until "$NATIVE_APPEAR_TIMEOUT" _dialog_drawn && count_box "$NATIVE_TMP/box-before.ppm" &&
      [[ $(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") == 0 ]]; then
      sway_as_user wtype -k Tab -k Tab -k Tab -k Tab -k Tab -k Tab -k Tab -k Right -k Right -M alt b -m alt
      _edit_shown() {
        ticked=no recounted=no
        dialog_shot || return 1
        [[ $(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") == 21 ]] && ticked=yes
        count_box "$NATIVE_TMP/box-now.ppm" && ! cmp -s "$NATIVE_TMP/box-before.ppm" "$NATIVE_TMP/box-now.ppm" &&
          recounted=yes
        [[ $ticked == yes && $recounted == yes ]]
      }
      if wait_until "$NATIVE_APPEAR_TIMEOUT" _edit_shown && bg_running escape; then
        edited=1
        pass "before Escape the dialog shows the edit: Bombs Only ticked, a new count in its box"
      else
        fail "before Escape the dialog shows the edit: Bombs Only ticked, a new count in its box" \
          "Bombs Only ticked: $ticked ($(black_in "$DIALOG_SHOT" "$BOMBS_ONLY_FIELD") black pixels in its field, a tick is 21)" \
          "a new count in the box: $recounted" "$(wl_describe escape)"
      fi
    else
      fail "before Escape the dialog shows the edit" \
        "the dialog was not seen drawn with Bombs Only off (shot: $(identify -format '%wx%h' "$DIALOG_SHOT" 2>/dev/null))" \
        "$(wl_describe escape)"
    fi
    escaped=0
    key_ends escape 0 "Escape ends the dialog with 0" -k Escape && escaped=1
    if ((!edited || !escaped)); then
      fail "Escape leaves the registry file as it was, byte for byte" \
        "nothing to judge: the edit seen $edited, ended by Escape $escaped"
    elif cmp -s "$NATIVE_TMP/before.reg" "$VANTREL_REGISTRY"; then
      pass "Escape leaves the registry file as it was, byte for byte"
    else
      fail "Escape leaves the registry file as it was" "$(diff "$NATIVE_TMP/before.reg" "$VANTREL_REGISTRY")"
    fi
  else
    fail "/c shows the dialog before Escape" "$(wl_describe escape)"
  fi

  rm -f "$VANTREL_REGISTRY"
  if open_dialog about WAYLAND_DEBUG=client; then
    sway_as_user wtype -M alt a -m alt
    if wait_until "$NATIVE_APPEAR_TIMEOUT" toplevel 'About Vantrel Screen Saver'; then
      pass "Alt+A opens the About box"
      if output_has about '-> xdg_toplevel@[0-9]*\.set_parent(xdg_toplevel@'; then
        pass "the About box is made a child of the dialog's toplevel"
      else
        fail "the About box is made a child of the dialog's toplevel" "no xdg_toplevel.set_parent with a parent"
      fi
      sway_as_user wtype -k Return
      if wait_until "$NATIVE_EXIT_TIMEOUT" toplevel_gone 'About Vantrel Screen Saver' && bg_running about &&
        toplevel Dialog; then
        pass "Enter closes the About box and the dialog stays"
      else
        fail "Enter closes the About box and the dialog stays" "$(wl_describe about)"
      fi
      if ! key_ends about 0 "Escape then ends the dialog with 0" -k Escape; then
        fail "the About box and Escape store nothing" "nothing to judge: Escape did not end the dialog"
      elif [[ -e $VANTREL_REGISTRY ]]; then
        fail "the About box and Escape store nothing" "$(cat "$VANTREL_REGISTRY")"
      else
        pass "the About box and Escape store nothing"
      fi
    else
      fail "Alt+A opens the About box" "$(wl_describe about)"
    fi
  else
    fail "/c shows the dialog before Alt+A" "$(wl_describe about)"
  fi
  bg_kill about
  bg_kill held_keyboard
fi

# --- a dialog on the scale-2 output ---------------------------------------------------
# Drawn at the output's scale: a buffer of twice the window's size in each
# direction, every pixel of the window a whole 2x2 block on the screen (a
# scale-1 picture stretched by the compositor would be smoothed). A window
# rule has sway leave the frame to the client, so our own title bar shows,
# drawn the same way, with the title in it.
dialog_rect() {
  sway_as_user swaymsg -t get_tree -r 2>/dev/null | jq -r '[.. | objects |
    select(.name? == "Dialog" and .shell? == "xdg_shell")][0] | "\(.rect.x) \(.rect.y) \(.rect.width) \(.rect.height)"'
}
if ((WAYLAND_DIALOG_CASES)); then
  _swaymsg 'for_window [app_id="vantrel-saver"] border csd' >/dev/null
  _swaymsg focus output "$HIDPI" >/dev/null
  read -r _ _ hidpi_x hidpi_y _ < <(sway_outputs | awk -v n="$HIDPI" '$1 == n { gsub(/[x+*]/, " ", $2); print $2 }')
  if open_dialog scaled WAYLAND_DEBUG=client; then
    _scaled_shown() { output_has scaled 'wl_surface@[0-9]*\.set_buffer_scale(2)' && [[ $(dialog_rect) != null* ]]; }
    wait_until "$NATIVE_APPEAR_TIMEOUT" _scaled_shown
    read -r dx dy dw dh < <(dialog_rect)
    shot=$NATIVE_TMP/scaled.png
    # What of it the output shows (it may be taller than the output).
    x0=$(((dx - hidpi_x) * 2)) y0=$(((dy - hidpi_y) * 2))
    cw=$((dw * 2)) ch=$((dh * 2))
    ((x0 + cw > ${HIDPI_SIZE%x*})) && cw=$((${HIDPI_SIZE%x*} - x0))
    ((y0 + ch > ${HIDPI_SIZE#*x})) && ch=$((${HIDPI_SIZE#*x} - y0))
    # (The compositor's cursor, drawn sharp at the device's pixels, goes
    # to the other output first.)
    if [[ $dw =~ ^[0-9]+$ ]] && ((x0 >= 0 && y0 >= 0 && cw > 100 && ch > 100)) && park_pointer &&
      output_shot "$HIDPI" &&
      convert "$NATIVE_TMP/$HIDPI.ppm" -crop "${cw}x$ch+$x0+$y0" +repage "$shot"; then
      cp "$shot" "$ARTEFACTS/wayland-dialog-scaled.png"
      # Sampled down to one pixel a block and back up, a picture of whole
      # blocks is unchanged.
      convert "$shot" -sample 50% -sample 200% "$NATIVE_TMP/blocks.png"
      off=$(pixels_off "$shot" "$NATIVE_TMP/blocks.png")
      if output_has scaled "create_buffer(new id wl_buffer@[0-9]*, 0, $((dw * 2)), $(((dh - 20) * 2))," &&
        [[ $(identify -format '%wx%h' "$shot") == "${cw}x$ch" && $off == 0 ]]; then
        pass "on the scale-2 output the dialog is drawn at twice its size, each pixel a whole 2x2 block"
      else
        fail "on the scale-2 output the dialog is drawn at twice its size, each pixel a whole 2x2 block" \
          "dialog at $dx,$dy ${dw}x$dh in the layout; $off pixels off whole blocks" \
          "$(grep -E 'set_buffer_scale|create_buffer' "$BG_DIR/scaled.out" | head -n 6)"
      fi
      # The bar: the top 20 rows of the window (40 on the screen), the
      # caption's blue with the title's white ink in it, left of the close box.
      count_of() {
        convert "$shot" -crop "$(((dw - 24) * 2))x40+0+0" +repage -fill white -opaque "$1" -fill black +opaque white \
          -format '%[fx:int(mean*w*h+0.5)]' info:
      }
      blue=$(count_of '#000080') ink=$(count_of '#FFFFFF')
      if ((blue > (dw - 24) * 2 * 40 / 2 && ink > 100)); then
        pass "our title bar shows the window's title"
      else
        fail "our title bar shows the window's title" "in the bar: $blue pixels of the caption's blue, $ink of white ink"
      fi
    else
      fail "on the scale-2 output the dialog is drawn at twice its size, each pixel a whole 2x2 block" \
        "no dialog to look at: $(dialog_rect)" "$(wl_describe scaled)"
    fi
  else
    fail "/c shows the dialog on the scale-2 output" "$(wl_describe scaled)"
  fi
  bg_kill scaled
  _swaymsg focus output "$BIG" >/dev/null
fi

# --- weston: no layer shell, so fullscreen toplevels ---------------------------------
WESTON_SOCKET=vantrel-weston
bg_start weston _exec_as_user weston --backend=headless-backend.so --use-pixman --no-config \
  --socket="$WESTON_SOCKET" --width=1024 --height=768 --idle-time=0
if wait_until 30 test -S "$SWAY_RUNTIME_DIR/$WESTON_SOCKET"; then
  wl_saver_start weston_saver WAYLAND_DISPLAY="$WESTON_SOCKET" WAYLAND_DEBUG=client /s
  _fullscreen_or_end() {
    output_has weston_saver '-> xdg_toplevel@[0-9]*\.set_fullscreen(' || bg_done weston_saver
  }
  # Keeps running: goes on drawing, frame after frame, well past its first.
  _drawn_or_end() {
    (($(grep -c -- '-> wl_surface@[0-9]*\.attach(wl_buffer@' "$BG_DIR/weston_saver.out") >= 10)) ||
      bg_done weston_saver
  }
  if wait_until "$NATIVE_APPEAR_TIMEOUT" _fullscreen_or_end && wait_until "$NATIVE_APPEAR_TIMEOUT" _drawn_or_end &&
    bg_running weston_saver && ! output_has weston_saver 'zwlr_layer_shell_v1@'; then
    pass "on weston /s makes a fullscreen toplevel, draws into it and keeps running"
    kill -TERM "$(saver_pid weston_saver)"
    if bg_wait weston_saver "$NATIVE_EXIT_TIMEOUT" && [[ $(bg_rc weston_saver) == 0 ]]; then
      pass "on weston SIGTERM ends it with 0"
    else
      fail "on weston SIGTERM ends it with 0" "status $(bg_rc weston_saver)"
    fi
  else
    fail "on weston /s makes a fullscreen toplevel, draws into it and keeps running" \
      "status $(bg_rc weston_saver)" "$(bg_output weston_saver | grep -v '^\[' | tail -n 5)" \
      "$(bg_output weston_saver | grep -c -- '->') requests sent," \
      "$(bg_output weston_saver | grep -c -- '-> wl_surface@[0-9]*\.attach(wl_buffer@') buffers attached (want 10)"
  fi
  bg_kill weston_saver
else
  fail "weston starts (headless, pixman)" "$(bg_output weston | tail -n 5)"
fi
bg_kill weston

# --- the compositor dies under the saver ----------------------------------------------
# Last, since it takes the session with it.
wl_saver_start orphan /s
if wl_saver_up orphan; then
  killed_under_saver "the compositor killed under the saver: status 1 within a second" orphan "$SWAY_PID"
else
  fail "the compositor killed under the saver: status 1 within a second" "$(wl_describe orphan)"
fi
bg_kill orphan
no_sanitizer_report

report_summary
