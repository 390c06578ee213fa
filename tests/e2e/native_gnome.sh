#!/usr/bin/env bash
# The native saver on GNOME's compositor: a headless mutter with two virtual
# monitors of different sizes, input from mutter's own remote-desktop D-Bus
# API (tests/e2e/mutter_input), monitors switched on and off through its
# display configuration. mutter offers no layer shell, so every monitor gets
# a fullscreen xdg_toplevel, each in a process of its own; it offers no
# screenshots either, so what is shown is read from each process's Wayland
# protocol trace: the toplevel, the size mutter configured it at, the
# buffers committed to it. A key, a button or a pointer that travels more
# than 4 pixels ends the run with 0; SIGTERM with 0; a mutter killed under
# it with 1 within a second. /c is driven by keys. A monitor that goes takes
# its own saver away and leaves the others; one that comes gets a saver.
#
# Everything runs as mutter's own user (tests/lib/mutter.sh makes one). When
# mutter cannot run here for a limit of the machine, the script says why and
# counts nothing.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
# shellcheck source=tests/lib/mutter.sh
source "$(dirname "$0")/../lib/mutter.sh"
# shellcheck source=tests/lib/xdg_toplevels.sh
source "$(dirname "$0")/../lib/xdg_toplevels.sh"

MUTTER_INPUT=${MUTTER_INPUT:-$VANTREL_ROOT/build/tests/e2e/mutter_input}
STDERR_APART=${STDERR_APART:-$VANTREL_ROOT/build/tests/e2e/stderr_per_process.so}

BIG_SIZE=1600x1200
SMALL_SIZE=1280x720

GN_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-gnome.XXXXXX")
BG_DIR=$GN_TMP
finish() {
  { printf 'quit\n' >&9; } 2>/dev/null
  bg_kill_all
  mutter_cleanup
  rm -rf "$GN_TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

for binary in "$VANTREL_SAVER" "$MUTTER_INPUT" "$STDERR_APART"; do
  [[ -e $binary ]] || {
    fail "setup: $binary exists" "build it: ./setup.sh native (mutter_input needs libsystemd-dev)"
    report_summary
    exit 1
  }
done

# Only Wayland may serve the savers below (they run without DISPLAY), and
# they choose it themselves.
unset VANTREL_BACKEND XSCREENSAVER_WINDOW
mutter_require "$BIG_SIZE" "$SMALL_SIZE"
BIG=${MUTTER_OUTPUTS[0]} SMALL=${MUTTER_OUTPUTS[1]}
chown "$MUTTER_USER" "$GN_TMP"
export VANTREL_REGISTRY=$GN_TMP/registry.reg

# _exec_as_user COMMAND...: becomes COMMAND, run as mutter's user in its
# session's environment; in the background its pid is the program's own.
# The input client's pipe (fd 9) stays the script's.
_exec_as_user() {
  exec 9>&-
  local MUTTER_COMMAND
  mutter_user_command "$@"
  exec "${MUTTER_COMMAND[@]}"
}

# --- the input client ------------------------------------------------------------
# Started before any saver, so that its keyboard and pointer are on the seat
# when a saver comes; one command a line on its pipe, one answer a line.
INPUT_PIPE=$GN_TMP/input.pipe
mkfifo -m 600 "$INPUT_PIPE" && chown "$MUTTER_USER" "$INPUT_PIPE"
exec 9<>"$INPUT_PIPE"
_input_client() {
  exec <"$INPUT_PIPE"
  _exec_as_user "$MUTTER_INPUT"
}
bg_start input _input_client
_input_ready() { grep -q '^ready$' "$BG_DIR/input.out" 2>/dev/null || bg_done input; }
if ! wait_until 30 _input_ready || bg_done input; then
  fail "setup: a keyboard and a pointer from mutter's remote-desktop API" "$(bg_output input)"
  report_summary
  exit 1
fi
_answers() { grep -cE '^(ok|error)' "$BG_DIR/input.out" 2>/dev/null; }
# input COMMAND...: one command to the client; 0 once it answered ok.
input() {
  local before
  before=$(_answers)
  printf '%s\n' "$*" >&9
  _answered() { (($(_answers) > before)) || bg_done input; }
  wait_until 10 _answered && [[ $(grep -E '^(ok|error)' "$BG_DIR/input.out" | tail -n1) == ok ]] ||
    { log "input '$*': $(tail -n1 "$BG_DIR/input.out")"; return 1; }
}
keys() {
  local key
  for key in "$@"; do input key "$key" || return 1; done
}
alt() { input keydown Alt_L && input key "$1" && input keyup Alt_L; }

# --- savers and their traces ------------------------------------------------------
# gn_saver_start ID [VAR=VALUE...] ARGS...: the saver in the background, with
# no DISPLAY, its protocol traced, each of its processes writing its trace to
# a file of its own under $GN_TMP/ID.err (tests/e2e/stderr_per_process.cpp).
gn_saver_start() {
  local id=$1; shift
  local vars=() name
  while [[ ${1:-} == *=* ]]; do vars+=("$1"); shift; done
  for name in VANTREL_REGISTRY ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [[ -n ${!name:-} ]] && vars=("$name=${!name}" "${vars[@]}")
  done
  rm -rf "$GN_TMP/$id.err"
  mkdir "$GN_TMP/$id.err" && chown "$MUTTER_USER" "$GN_TMP/$id.err"
  bg_start "$id" _exec_as_user env -u DISPLAY WAYLAND_DEBUG=1 LD_PRELOAD="$STDERR_APART" \
    VANTREL_STDERR_DIR="$GN_TMP/$id.err" "${vars[@]}" "$VANTREL_SAVER" "$@"
}

# processes ID [MONITOR]: the trace files of a run's processes (of the one
# started for MONITOR; "-" for the run's first process), oldest first: by the
# start each file's first line gives, since pids wrap, even within a run.
processes() {
  local file header
  for file in "$GN_TMP/$1.err"/*; do
    [[ -f $file ]] || continue
    header=$(head -n1 "$file")
    [[ -z ${2:-} ]] || [[ $header == *" monitor $2" ]] || continue
    printf '%s %s\n' "$(sed -n 's/^process [0-9]* started \([0-9.]*\) .*/\1/p' <<<"$header")" "$file"
  done | LC_ALL=C sort -k1,1n | cut -d' ' -f2-
}
process_of() { processes "$1" "$2" | tail -n1; }
pid_of_trace() { basename "$1"; }
alive() { kill -0 "$(pid_of_trace "$1")" 2>/dev/null; }

# covered ID OUTPUT SIZE: the run ID covers OUTPUT: the process started for
# it, or, in a run of one process, that one.
covered() {
  local file
  file=$(process_of "$1" "$2")
  [[ -n $file ]] || file=$(process_of "$1" -)
  [[ -n $file ]] && alive "$file" && covers "$file" "$2" "$3"
}

# How long a window may take to show, and a run to end. Generous, for a
# loaded machine; once something has not come at all, later waits are
# shorter, so that a saver broken on this compositor costs seconds per case
# rather than the tier's whole time.
GN_APPEAR_TIMEOUT=$NATIVE_APPEAR_TIMEOUT
GN_EXIT_TIMEOUT=$NATIVE_EXIT_TIMEOUT
impatient() {
  GN_APPEAR_TIMEOUT=$((NATIVE_APPEAR_TIMEOUT < 10 ? NATIVE_APPEAR_TIMEOUT : 10))
  GN_EXIT_TIMEOUT=$((NATIVE_EXIT_TIMEOUT < 10 ? NATIVE_EXIT_TIMEOUT : 10))
}
appeared() { "$@" || { impatient; return 1; }; }

# saver_up ID [OUTPUT SIZE]...: waits until the run ID covers each OUTPUT
# (both monitors unless given); fails early when it ended.
saver_up() {
  local id=$1; shift
  (($#)) || set -- "$BIG" "$BIG_SIZE" "$SMALL" "$SMALL_SIZE"
  _all_covered() {
    bg_done "$id" && return 0
    local -a pairs=("$@")
    local i
    for ((i = 0; i < ${#pairs[@]}; i += 2)); do covered "$id" "${pairs[i]}" "${pairs[i + 1]}" || return 1; done
  }
  appeared wait_until "$GN_APPEAR_TIMEOUT" _all_covered "$@" && bg_running "$id"
}

gn_describe() {
  local id=$1 file
  printf 'exit status: %s\n' "$(bg_rc "$id")"
  for file in $(processes "$id"); do
    printf '%s (%s)\n' "$(head -n1 "$file")" "$(alive "$file" && echo running || echo ended)"
    toplevels "$file" | sed 's/^/  /'
    grep -v '^\[' "$file" | tail -n +2 | tail -n 3 | sed 's/^/  said: /'
  done
  local out; out=$(bg_output "$id")
  [[ -n $out ]] && printf 'output: %s\n' "$out"
  return 0
}

expect_end() {
  local id=$1 want=$2 name=$3
  appeared bg_wait "$id" "$GN_EXIT_TIMEOUT"
  if bg_done "$id" && [[ $(bg_rc "$id") == "$want" ]]; then
    pass "$name"
  else
    fail "$name" "$(gn_describe "$id")"
  fi
  bg_kill "$id"
}

# --- every output covered -------------------------------------------------------------
gn_saver_start cover /s
saver_up cover
for output in "$BIG:$BIG_SIZE" "$SMALL:$SMALL_SIZE"; do
  name="${output%%:*} is covered: a toplevel fullscreen on it, configured at ${output#*:}, a ${output#*:} buffer committed"
  if covered cover "${output%%:*}" "${output#*:}"; then pass "$name"; else fail "$name" "$(gn_describe cover)"; fi
done
# The run's first process only watches the monitors; each output's own
# process makes one toplevel; nobody asks for a layer surface, which mutter
# does not offer.
big=$(process_of cover "$BIG") small=$(process_of cover "$SMALL") first=$(process_of cover -)
made=$(for file in "$first" "$big" "$small"; do printf '%s ' "$([[ -n $file ]] && toplevels "$file" | wc -l)"; done)
if [[ $(processes cover | wc -l) == 3 && $made == "0 1 1 " ]] &&
  ! grep -q 'zwlr_layer_shell_v1' "$first" "$big" "$small"; then
  pass "/s on mutter: a process per output, each with one xdg_toplevel of its own"
else
  fail "/s on mutter: a process per output, each with one xdg_toplevel of its own" \
    "toplevels per process (first, $BIG, $SMALL): $made" "$(gn_describe cover)"
fi
if bg_running cover; then
  kill -TERM "$(saver_pid cover)"
  _all_ended() { bg_done cover && ! alive "$big" && ! alive "$small"; }
  if appeared wait_until "$GN_EXIT_TIMEOUT" _all_ended && [[ $(bg_rc cover) == 0 ]]; then
    pass "SIGTERM ends the run with 0, every output's process with it"
  else
    fail "SIGTERM ends the run with 0, every output's process with it" "$(gn_describe cover)"
  fi
else
  fail "SIGTERM ends the run with 0, every output's process with it" "the run had ended before" "$(gn_describe cover)"
fi
bg_kill cover

# --- input ends it --------------------------------------------------------------------
# The pointer to one place on the big output, whatever came before: away
# from its middle, where a window that grows from there (as mutter shows a
# new one) comes under the pointer at once, at half its size.
PARK_X=1000 PARK_Y=800
park_pointer() { input move -10000 -10000 && input move "$PARK_X" "$PARK_Y"; }
pointer_trace() {
  local file
  for file in $(processes "$1"); do grep -q '\] wl_pointer@[0-9]*\.enter(' "$file" && { echo "$file"; return 0; }; done
  return 1
}
# motions FILE: the pointer motions a process received.
MOTION='\] wl_pointer@[0-9]+\.motion\('
motions() { grep -cE "$MOTION" "$1"; }
# shown_for FILE MS: the compositor has shown the process's surfaces for MS
# milliseconds by its own clock (the times its frame callbacks carry).
shown_for() {
  awk -v want="$2" '
    /-> wl_surface@[0-9]+\.frame\(new id wl_callback@/ { frame[substr($0, index($0, "wl_callback@") + 12) + 0] = 1; next }
    /\] wl_callback@[0-9]+\.done\(/ {
      id = substr($0, index($0, "wl_callback@") + 12) + 0
      if (!(id in frame)) next
      delete frame[id]
      t = substr($0, index($0, ".done(") + 6) + 0
      if (!first) first = t
      if (t - first >= want) { found = 1; exit }
    }
    END { exit !found }' "$1"
}
# frames_after FILE LINE: the buffers a process attached after line LINE of
# its trace, each a frame it drew.
frames_after() { tail -n +"$(($2 + 1))" "$1" | grep -c -- '-> wl_surface@[0-9]*\.attach(wl_buffer@'; }
# draws_on ID FILE LINE: the run ID goes on drawing: FILE's process attaches
# three buffers after LINE. At most two of them can have been drawn before
# it read what came at LINE (one on its way to the compositor, one waiting
# for the next frame callback); the third came after, and the saver handles
# all it has read before it draws again. Fails as soon as the run ends.
draws_on() {
  local id=$1 file=$2 line=$3
  _three_frames_or_end() { bg_done "$id" || (($(frames_after "$file" "$line") >= 3)); }
  appeared wait_until "$GN_APPEAR_TIMEOUT" _three_frames_or_end && bg_running "$id" && alive "$file"
}
# line_of FILE PATTERN: the number of the first line of FILE matching PATTERN (ERE).
line_of() { grep -nE -- "$2" "$1" | head -n1 | cut -d: -f1; }

# pointed_saver ID NAME: a saver up, which the compositor told where the
# pointer is (it does as a surface comes under the pointer, or at a movement
# of nothing); fails NAME otherwise.
POINTER_TRACE=
pointed_saver() {
  local id=$1 name=$2
  park_pointer || { fail "$name" "the pointer does not move"; return 1; }
  gn_saver_start "$id" /s
  if ! saver_up "$id"; then
    fail "$name" "$(gn_describe "$id")"
    bg_kill "$id"
    return 1
  fi
  _pointer_known() { POINTER_TRACE=$(pointer_trace "$id") || { input move 0 0; return 1; }; }
  if ! wait_until 10 _pointer_known; then
    fail "$name" "no wl_pointer.enter reached the saver" "$(gn_describe "$id")"
    bg_kill "$id"
    return 1
  fi
}

gn_saver_start key /s
if saver_up key; then
  input key a
  expect_end key 0 "a key (keysym a through NotifyKeyboardKeysym) ends the run with 0"
  mapfile -t traces < <(processes key)
  if grep -qE '\] wl_keyboard@[0-9]+\.key\([0-9]+, [0-9]+, 30, 1\)' "${traces[@]}"; then
    pass "the key reached the saver as a wl_keyboard.key press of its own"
  else
    fail "the key reached the saver as a wl_keyboard.key press of its own" \
      "$(grep -hE '\] wl_keyboard@' "${traces[@]}" | tail -n 5)"
  fi
else
  fail "a key (keysym a through NotifyKeyboardKeysym) ends the run with 0" "$(gn_describe key)"
fi
bg_kill key

if pointed_saver button "the left button ends the run with 0"; then
  input button left
  expect_end button 0 "the left button ends the run with 0"
fi

if pointed_saver moved "a 5-pixel movement ends the run with 0"; then
  input move 0 5
  expect_end moved 0 "a 5-pixel movement ends the run with 0"
fi

# mutter shows a new window growing from its middle (for a quarter of a
# second): a saver told of the pointer then is told of a place on a surface
# not yet in place (for the parked pointer, 200 pixels off), and hears of
# the true one only at the next event. So the movement comes once the
# surface is well in place (a second on), and must be seen handled: the
# saver under the pointer receives it and draws on after it. Bombs only, so
# that the drawing never stops.
set_settings BombsOnly=1
chown "$MUTTER_USER" "$VANTREL_REGISTRY"
if pointed_saver drift "a 2-pixel movement leaves the saver running"; then
  _settled() { shown_for "$POINTER_TRACE" 1000 || bg_done drift; }
  wait_until 10 _settled
  seen=$(motions "$POINTER_TRACE")
  input move 2 0
  _received_or_end() { (($(motions "$POINTER_TRACE") > seen)) || bg_done drift; }
  if wait_until "$GN_EXIT_TIMEOUT" _received_or_end && bg_running drift &&
    draws_on drift "$POINTER_TRACE" "$(grep -nE "$MOTION" "$POINTER_TRACE" | sed -n "$((seen + 1))s/:.*//p")"; then
    pass "a 2-pixel movement reaches the saver and it draws on"
    # More than 4 from wherever the saver may count: from the start or
    # from the 2-pixel step.
    input move 5 0
    expect_end drift 0 "5 pixels more then end the run with 0"
  else
    fail "a 2-pixel movement leaves the saver running" "pointer motions received: $(motions "$POINTER_TRACE") (before: $seen)" \
      "$(grep -hE '\] wl_pointer@[0-9]+\.(enter|motion)\(' "$POINTER_TRACE" | tail -n 4)" "$(gn_describe drift)"
  fi
  bg_kill drift
fi
rm -f "$VANTREL_REGISTRY"

# --- monitors that go and come ------------------------------------------------------------
gn_saver_start plug /s
if saver_up plug; then
  big=$(process_of plug "$BIG") small=$(process_of plug "$SMALL")
  if mutter_set_outputs "$BIG"; then
    _small_gone() { ! alive "$small" || bg_done plug; }
    if appeared wait_until "$GN_EXIT_TIMEOUT" _small_gone && bg_running plug &&
      draws_on plug "$big" "$(wc -l <"$big")" && covers "$big" "$BIG" "$BIG_SIZE"; then
      pass "$SMALL switched off: its saver goes, the run and $BIG's saver stay"
    else
      fail "$SMALL switched off: its saver goes, the run and $BIG's saver stay" "$(gn_describe plug)"
    fi
  else
    fail "$SMALL switched off: its saver goes, the run and $BIG's saver stay" "mutter did not switch it off"
  fi
  if bg_running plug && mutter_set_outputs "$BIG" "$SMALL"; then
    _small_again() { [[ $(process_of plug "$SMALL") != "$small" ]] && covered plug "$SMALL" "$SMALL_SIZE" || bg_done plug; }
    if appeared wait_until "$GN_APPEAR_TIMEOUT" _small_again && bg_running plug && alive "$big"; then
      pass "$SMALL switched on again mid-run: a new saver process covers it ($SMALL_SIZE committed)"
    else
      fail "$SMALL switched on again mid-run: a new saver process covers it" "$(gn_describe plug)"
    fi
    input key a
    expect_end plug 0 "and a key still ends the whole run with 0"
  else
    fail "$SMALL switched on again mid-run: a new saver process covers it" "the run had ended" "$(gn_describe plug)"
  fi
else
  fail "$SMALL switched off: its saver goes, the run and $BIG's saver stay" "$(gn_describe plug)"
fi
bg_kill plug
mutter_set_outputs "$BIG" "$SMALL" || fail "setup: both monitors on again" "$(mutter_outputs)"

# A run that starts on one output is one process; an output that comes is
# covered by it.
if mutter_set_outputs "$BIG"; then
  gn_saver_start single /s
  if saver_up single "$BIG" "$BIG_SIZE"; then
    _single_covers() { covers "$(process_of single -)" "$SMALL" "$SMALL_SIZE" || bg_done single; }
    if mutter_set_outputs "$BIG" "$SMALL" && appeared wait_until "$GN_APPEAR_TIMEOUT" _single_covers && bg_running single; then
      pass "an output switched on under a run begun on one output is covered ($SMALL_SIZE committed)"
    else
      fail "an output switched on under a run begun on one output is covered" "monitors: $(mutter_outputs | tr '\n' ' ')" \
        "$(gn_describe single)"
    fi
  else
    fail "an output switched on under a run begun on one output is covered" "$(gn_describe single)"
  fi
  bg_kill single
else
  fail "an output switched on under a run begun on one output is covered" "mutter did not switch $SMALL off"
fi
mutter_set_outputs "$BIG" "$SMALL" || fail "setup: both monitors on again" "$(mutter_outputs)"

# --- the configuration dialog -----------------------------------------------------------
stored() {
  local line
  line=$(grep -s "^\"$1\"=" "$VANTREL_REGISTRY")
  echo "${line:-absent}"
}
# dialog_line ID TITLE: the toplevels line of the run's window titled TITLE.
dialog_line() { toplevels "$(process_of "$1" -)" | grep -F " title=$2" | tail -n1; }
# dialog_shown ID TITLE: that window is there, drawn, and has the keyboard.
dialog_shown() {
  local line
  line=$(dialog_line "$1" "$2")
  [[ $line == *" focus=1 gone=0 "* && $line != *" committed=- "* ]]
}
# open_dialog ID: /c as ID, waiting for its toplevel to show with the keyboard.
open_dialog() {
  local id=$1
  gn_saver_start "$id" /c
  _dialog_or_end() { dialog_shown "$id" Dialog || bg_done "$id"; }
  appeared wait_until "$GN_APPEAR_TIMEOUT" _dialog_or_end && bg_running "$id"
}
# redrawn_since_key FILE: after the first key pressed, the process drew
# something new (damage, then a commit).
redrawn_since_key() {
  awk '/\] wl_keyboard@[0-9]+\.key\([0-9]+, [0-9]+, [0-9]+, 1\)/ { key = 1 }
    key && /-> wl_surface@[0-9]+\.damage_buffer\(/ { damaged = 1 }
    damaged && /-> wl_surface@[0-9]+\.commit\(/ { found = 1; exit }
    END { exit !found }' "$1"
}

set_settings BombsOnly=0 BombCount=7
chown "$MUTTER_USER" "$VANTREL_REGISTRY"
if open_dialog typed; then
  pass "/c opens the dialog as a toplevel of its own, drawn, with the keyboard"
  # Five Tabs from OK reach the Bomb Speed box, where digits replace what
  # it shows; then Alt+B ticks "Bombs Only".
  keys Tab Tab Tab Tab Tab End BackSpace BackSpace BackSpace 2 5 && alt b && input key Return
  expect_end typed 1 "Enter ends the dialog with 1"
  if [[ $(stored BombsOnly) == '"BombsOnly"=dword:00000001' && $(stored BombSpeed) == '"BombSpeed"=dword:00000019' ]]; then
    pass "what was typed is stored: Bombs Only ticked by Alt+B, 25 in the speed box"
  else
    fail "what was typed is stored: Bombs Only ticked by Alt+B, 25 in the speed box" "$(cat "$VANTREL_REGISTRY")" \
      "keys the dialog got: $(grep -cE '\] wl_keyboard@[0-9]+\.key\(' "$(process_of typed -)")"
  fi
else
  fail "/c opens the dialog as a toplevel of its own, drawn, with the keyboard" "$(gn_describe typed)"
fi
bg_kill typed

set_settings BombCount=7 BombSpeed=9
chown "$MUTTER_USER" "$VANTREL_REGISTRY"
cp "$VANTREL_REGISTRY" "$GN_TMP/before.reg"
if open_dialog escape; then
  alt b && keys Tab Right Right
  _edit_shown() { redrawn_since_key "$(process_of escape -)" || bg_done escape; }
  if wait_until 10 _edit_shown && bg_running escape; then
    pass "an edit before Escape reaches the dialog: it draws anew after the first key"
    input key Escape
    expect_end escape 0 "Escape ends the dialog with 0"
    if [[ $(bg_rc escape) != 0 ]]; then
      fail "Escape leaves the registry file as it was" "Escape did not end the dialog"
    elif cmp -s "$GN_TMP/before.reg" "$VANTREL_REGISTRY"; then
      pass "Escape leaves the registry file as it was, byte for byte"
    else
      fail "Escape leaves the registry file as it was" "$(diff "$GN_TMP/before.reg" "$VANTREL_REGISTRY")"
    fi
  else
    fail "an edit before Escape reaches the dialog: it draws anew after the first key" "$(gn_describe escape)"
  fi
else
  fail "/c shows the dialog before Escape" "$(gn_describe escape)"
fi
bg_kill escape

rm -f "$VANTREL_REGISTRY"
if open_dialog about; then
  dialog_line=$(dialog_line about Dialog)
  dialog=${dialog_line#toplevel=} dialog=${dialog%% *}
  dialog_surface=$(sed -n 's/.* surface=\([0-9]*\) .*/\1/p' <<<"$dialog_line")
  alt a
  _about_shown() { dialog_shown about 'About Vantrel Screen Saver' || bg_done about; }
  if appeared wait_until "$GN_APPEAR_TIMEOUT" _about_shown && bg_running about; then
    pass "Alt+A opens the About box, drawn, with the keyboard"
    about_box=$(dialog_line about 'About Vantrel Screen Saver')
    about_box=${about_box#toplevel=} about_box=${about_box%% *}
    if [[ $(dialog_line about 'About Vantrel Screen Saver') == *" parent=$dialog "* ]]; then
      pass "the About box is made a child of the dialog's toplevel"
    else
      fail "the About box is made a child of the dialog's toplevel" "$(toplevels "$(process_of about -)")"
    fi
    input key Return
    # The dialog stays: once the About box is gone, the keyboard comes back
    # to it.
    _dialog_back() {
      bg_done about && return 0
      local trace gone
      trace=$(process_of about -)
      gone=$(line_of "$trace" "-> xdg_toplevel@${about_box}\.destroy\(") || return 1
      [[ -n $gone ]] && tail -n +"$gone" "$trace" | grep -qE "\] wl_keyboard@[0-9]+\.enter\([0-9]+, wl_surface@${dialog_surface},"
    }
    if appeared wait_until "$GN_EXIT_TIMEOUT" _dialog_back && bg_running about &&
      [[ $(dialog_line about Dialog) == *" gone=0 "* ]]; then
      pass "Enter closes the About box and the dialog, still there, gets the keyboard back"
    else
      fail "Enter closes the About box and the dialog, still there, gets the keyboard back" "$(gn_describe about)"
    fi
    input key Escape
    expect_end about 0 "Escape then ends the dialog with 0"
    if [[ $(bg_rc about) != 0 ]]; then
      fail "the About box and Escape store nothing" "Escape did not end the dialog"
    elif [[ -e $VANTREL_REGISTRY ]]; then
      fail "the About box and Escape store nothing" "$(cat "$VANTREL_REGISTRY")"
    else
      pass "the About box and Escape store nothing"
    fi
  else
    fail "Alt+A opens the About box, drawn, with the keyboard" "$(gn_describe about)"
  fi
else
  fail "/c shows the dialog before Alt+A" "$(gn_describe about)"
fi
bg_kill about

# --- the compositor dies under the saver ----------------------------------------------
# Last, since it takes the session with it.
gn_saver_start orphan /s
if saver_up orphan; then
  killed_under_saver "mutter killed under the saver: status 1 within a second" orphan "$MUTTER_PID" "$GN_EXIT_TIMEOUT"
else
  fail "mutter killed under the saver: status 1 within a second" "$(gn_describe orphan)"
fi
bg_kill orphan
# (Each process of a run wrote its error stream to a file of its own.)
no_sanitizer_report "$GN_TMP"/*.err/*

report_summary
