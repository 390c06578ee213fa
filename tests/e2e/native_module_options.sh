#!/usr/bin/env bash
# The settings as module options, as xscreensaver-settings passes them: the
# description (dist/vantrel-saver.xml) is written in the vocabulary of the
# ones Debian's xscreensaver installs, with our ranges, and every option it
# can produce is one the program takes. Bad options end a run with 255,
# --help with 0; and without a display every mode ends at once with 1.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

XML=$VANTREL_ROOT/dist/vantrel-saver.xml
DEBIAN_CONFIGS=${XSCREENSAVER_CONFIG_DIR:-/usr/share/xscreensaver/config}

x() { xmllint --xpath "$1" "$XML" 2>/dev/null; }

# --- the description --------------------------------------------------------

if xmllint --noout "$XML" 2>"$NATIVE_TMP/xmllint.err"; then
  pass "the description is well-formed XML"
else
  fail "the description is well-formed XML" "$(cat "$NATIVE_TMP/xmllint.err")"
fi

# Every element and attribute we use is one that Debian's descriptions use:
# that is all xscreensaver-settings knows how to turn into controls.
if compgen -G "$DEBIAN_CONFIGS/*.xml" >/dev/null; then
  unknown=()
  for word in $(grep -o '<[A-Za-z_-]*' "$XML" | sort -u) $(grep -o '[A-Za-z_-]*="' "$XML" | sort -u); do
    grep -qF -- "$word" "$DEBIAN_CONFIGS"/*.xml || unknown+=("$word")
  done
  if ((${#unknown[@]} == 0)); then
    pass "the description uses only what Debian's xscreensaver descriptions use"
  else
    fail "the description uses only what Debian's xscreensaver descriptions use" "unknown: ${unknown[*]}"
  fi
else
  fail "the description uses only what Debian's xscreensaver descriptions use" \
    "no descriptions in $DEBIAN_CONFIGS: ./setup.sh packages installs xscreensaver"
fi

# control ARG-PREFIX: "label low high default" of the number whose arg starts so.
number_control() {
  local n="//number[starts-with(@arg,'$1 ')]"
  echo "$(x "string($n/@_label)")|$(x "string($n/@low)") $(x "string($n/@high)") $(x "string($n/@default)")"
}
want_numbers=("--bomb-count|Max bomb count|1 200 50" "--bomb-speed|Bomb speed|1 100 50"
  "--screen-delay|Screen delay|1 100 25")
bad=()
for want in "${want_numbers[@]}"; do
  arg=${want%%|*}
  [[ $(number_control "$arg") == "${want#*|}" ]] || bad+=("$arg: $(number_control "$arg"), want ${want#*|}")
done
[[ $(x "string(//boolean[@arg-set='--bombs-only']/@_label)") == "Bombs only" ]] || bad+=("no Bombs only box")
# On by default: the box adds its option when it is cleared.
[[ $(x "string(//boolean[@arg-unset='--no-backdrop']/@_label)") == "Bomb backdrop" ]] || bad+=("no Bomb backdrop box")
[[ $(x "string(//boolean[@arg-set='--fps']/@_label)") == "Show frame rate" ]] || bad+=("no Show frame rate box")
[[ $(x "string(//command/@arg)") == --root ]] || bad+=("the command is not --root")
if ((${#bad[@]} == 0)); then
  pass "the description offers the five settings with their ranges and defaults, and the frame rate"
else
  fail "the description offers the five settings with their ranges and defaults, and the frame rate" "${bad[@]}"
fi

# --- every option it offers, through the program ----------------------------------

# Each number at its ends and its default, each check box's option.
offered=()
count=$(x 'count(//number)')
for ((i = 1; i <= ${count:-0}; ++i)); do
  arg=$(x "string(//number[$i]/@arg)")
  for attribute in low high default; do
    offered+=("${arg//%/$(x "string(//number[$i]/@$attribute)")}")
  done
done
# shellcheck disable=SC2207 # one word each
offered+=($(x '//boolean/@arg-set | //boolean/@arg-unset' | grep -o '"[^"]*"' | tr -d '"'))

if ! panel_start panel 320x240+40+40; then
  fail "the probe makes a stand-in settings window" "$(bg_output panel)"
  report_summary
  exit 1
fi
refused=()
run=0
for option in "${offered[@]}"; do
  id=opt$((run += 1))
  # shellcheck disable=SC2086 # a number's option and its value are two words
  bg_start "$id" "$VANTREL_SAVER" --window-id "$PANEL" $option
  drawn() { [[ -n $(first_child "$PANEL") ]] || bg_done "$id"; }
  if wait_until "$NATIVE_APPEAR_TIMEOUT" drawn && bg_running "$id"; then
    kill -TERM "$(saver_pid "$id")"
    bg_wait "$id" "$NATIVE_EXIT_TIMEOUT" || bg_kill "$id"
  fi
  [[ $(bg_rc "$id") == 0 && -z $(bg_output "$id") ]] || refused+=("$option: status $(bg_rc "$id") $(bg_output "$id")")
  wait_until "$NATIVE_EXIT_TIMEOUT" test -z "$(first_child "$PANEL")"
done
if ((${#offered[@]} >= 12 && ${#refused[@]} == 0)); then
  pass "every option the description offers draws a preview and ends with 0 (${#offered[@]} runs)"
else
  fail "every option the description offers draws a preview and ends with 0" "offered: ${offered[*]}" \
    "${refused[@]}"
fi

# --- what the program does not take ----------------------------------------------

# refused_with ARGS...: a run that must end at once with 255 and one line
# naming the argument, drawing nothing.
refused_with() {
  local named=$1; shift
  local out rc
  out=$(timeout 10 "$VANTREL_SAVER" "$@" 2>&1 >/dev/null)
  rc=$?
  if [[ $rc == 255 && $(wc -l <<<"$out") == 1 && $out == *"$named"* ]] && [[ -z $(first_child "$PANEL") ]] &&
    no_saver_window; then
    pass "$* is refused with 255 and a line naming $named"
  else
    fail "$* is refused with 255 and a line naming $named" "status $rc" "stderr: $out"
  fi
}
refused_with '"lots"' --window-id "$PANEL" --bomb-count lots
refused_with '--frobnicate' /s --frobnicate
refused_with '-bomb-speed' --root -bomb-speed=

help=$(timeout 10 "$VANTREL_SAVER" --help)
rc=$?
missing=()
for option in "${offered[@]}"; do
  grep -qF -- "${option%% *}" <<<"$help" || missing+=("${option%% *}")
done
if [[ $rc == 0 ]] && ((${#missing[@]} == 0)) && no_saver_window; then
  pass "--help lists every option and ends with 0"
else
  fail "--help lists every option and ends with 0" "status $rc, missing: ${missing[*]}"
fi

# --- no display ----------------------------------------------------------------------

# A display number no server has.
free=99
while [[ -e /tmp/.X11-unix/X$free || -e /tmp/.X$free-lock ]]; do free=$((free + 1)); done
for display in unset ":$free"; do
  for mode in /c /s; do
    if [[ $display == unset ]]; then
      environment=(env -u DISPLAY -u VANTREL_BACKEND)
      want='cannot open display ""'
    else
      environment=(env -u VANTREL_BACKEND DISPLAY="$display")
      want="cannot open display \"$display\""
    fi
    started=$(date +%s%N)
    out=$(timeout 10 "${environment[@]}" "$VANTREL_SAVER" "$mode" 2>&1)
    rc=$?
    ms=$((($(date +%s%N) - started) / 1000000))
    name="$mode with DISPLAY $display ends with 1 within a second, saying so"
    if [[ $rc == 1 && $out == *"$want"* ]] && ((ms < 1000)); then
      pass "$name"
    else
      fail "$name" "status $rc after $ms ms" "output: $out"
    fi
  done
done

xprobe destroy "$PANEL" >/dev/null
report_summary
