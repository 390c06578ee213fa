#!/usr/bin/env bash
# What a running full-screen saver costs in CPU time: the native program
# (build/vantrel-saver) and the Windows build under Wine
# (build-win/VantrelSaver.scr), one after the other on the same private Xvfb
# screen, each measured over the same span once its bombs are on the screen.
#
#   bench/cpu_usage.sh [-s SECONDS] [-g WIDTHxHEIGHT] [native] [wine]
#
# Prints, per build, the CPU time of the saver's process, of the X server and
# (under Wine) of wineserver, as a share of one core. Default: 20 s at
# 1920x1080, both builds. Settings are the defaults, from a registry of the
# script's own.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source tests/lib/common.sh
source tests/lib/xsession.sh

SPAN=20
GEOMETRY=1920x1080
while getopts "s:g:" opt; do
  case $opt in
    s) SPAN=$OPTARG ;;
    g) GEOMETRY=$OPTARG ;;
    *) echo "usage: $0 [-s SECONDS] [-g WIDTHxHEIGHT] [native] [wine]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
builds=("$@")
((${#builds[@]})) || builds=(native wine)

SAVER=build/vantrel-saver
SCR=build-win/VantrelSaver.scr
PROBE=build/tests/e2e/x11_probe
for b in "${builds[@]}"; do
  case $b in
    native) [[ -x $SAVER && -x $PROBE ]] || die "build the native tree first (./setup.sh native)" ;;
    wine) [[ -f $SCR && -x $PROBE ]] || die "build both trees first (./setup.sh native windows)" ;;
    *) die "unknown build '$b' (native or wine)" ;;
  esac
done

TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-cpu.XXXXXX")
SAVER_PID=
finish() {
  [[ -n $SAVER_PID ]] && kill "$SAVER_PID" 2>/dev/null
  xsession_cleanup
  rm -rf "$TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

TICKS=$(getconf CLK_TCK)
# CPU ticks (user + system) a process has used so far.
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
percent() { awk -v t="$1" -v hz="$TICKS" -v s="$2" 'BEGIN { printf "%.1f", 100 * t / hz / s }'; }

xsession_start_display "${GEOMETRY}x24" || die "no Xvfb"
root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
root=$((root))

# The bombs are up when the screen holds the bomb's green.
bombs_on_screen() {
  "$PROBE" shot "$root" "$TMP/shot.ppm" 2>/dev/null &&
    convert "$TMP/shot.ppm" -unique-colors -depth 8 txt:- 2>/dev/null | grep -q '#00C35F'
}

# measure LABEL PID [EXTRA-PID-LABEL EXTRA-PID]...: CPU shares over SPAN.
measure() {
  local label=$1 pid=$2; shift 2
  local pids=("$pid" "$XSESSION_XVFB_PID") names=("saver" "X server")
  while (($#)); do names+=("$1"); pids+=("$2"); shift 2; done
  local before=() i
  for i in "${!pids[@]}"; do before[i]=$(cpu_ticks "${pids[i]}"); done
  local started=$SECONDS
  sleep "$SPAN"
  local took=$((SECONDS - started))
  local line="$label ($GEOMETRY, ${took} s):"
  for i in "${!pids[@]}"; do
    line+=" ${names[i]} $(percent $(($(cpu_ticks "${pids[i]}") - before[i])) "$took")%"
  done
  echo "$line of one core"
}

for b in "${builds[@]}"; do
  if [[ $b == native ]]; then
    VANTREL_REGISTRY=$TMP/registry.reg VANTREL_BACKEND=x11 "$SAVER" /s >"$TMP/native.log" 2>&1 &
    SAVER_PID=$!
    wait_until 60 bombs_on_screen || die "the native saver showed no bombs: $(cat "$TMP/native.log")"
    measure native "$SAVER_PID"
    kill "$SAVER_PID"
    wait "$SAVER_PID" 2>/dev/null
    SAVER_PID=
  else
    xsession_start_wine || die "no Wine prefix"
    wine "$SCR" /s >"$TMP/wine.log" 2>&1 &
    launcher=$!
    wait_until 120 bombs_on_screen || die "the saver under Wine showed no bombs"
    # wine becomes the program itself, keeping its pid. Our wineserver is
    # the one working in the directory named after our prefix (other Wine
    # sessions may be running beside this one).
    SAVER_PID=$launcher
    suffix=$(printf 'server-%s-%x' $(stat -c '%D %i' "$WINEPREFIX"))
    server=
    for pid in $(pgrep wineserver); do
      [[ $(readlink "/proc/$pid/cwd") == */"$suffix" ]] && server=$pid
    done
    if [[ -n $server ]]; then
      measure wine "$SAVER_PID" wineserver "$server"
    else
      measure wine "$SAVER_PID"
    fi
    kill "$SAVER_PID" 2>/dev/null
    wait "$launcher" 2>/dev/null
    SAVER_PID=
  fi
done
