#!/usr/bin/env bash
# What a running full-screen saver costs in CPU time: the native program
# (build/vantrel-saver) on X11, the same program on Wayland, and the Windows
# build under Wine (build-win/VantrelSaver.scr where this machine runs 32-bit
# programs, else build-win64/), one after the other: the X11
# ones on the same private Xvfb screen, the Wayland one on a headless sway
# with one output of that size; each measured over the same span once its
# bombs are on the screen.
#
#   bench/cpu_usage.sh [-s SECONDS] [-g WIDTHxHEIGHT] [native] [wayland] [wine]
#
# Prints, per build, the CPU time of the saver's process, of the display
# server (X server or compositor) and (under Wine) of wineserver, as a share
# of one core; with both native and wayland, the Wayland saver's share over
# the X11 one's. Default: 20 s at 1920x1080, all three. Settings are the
# defaults, from a registry of the script's own.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source tests/lib/common.sh
source tests/lib/xsession.sh
source tests/lib/sway.sh
source tests/lib/machine.sh

SPAN=20
GEOMETRY=1920x1080
while getopts "s:g:" opt; do
  case $opt in
    s) SPAN=$OPTARG ;;
    g) GEOMETRY=$OPTARG ;;
    *) echo "usage: $0 [-s SECONDS] [-g WIDTHxHEIGHT] [native] [wayland] [wine]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
builds=("$@")
((${#builds[@]})) || builds=(native wayland wine)

SAVER=build/vantrel-saver
if machine_wine_runs win32; then WINE_ARCH=win32 SCR=build-win/VantrelSaver.scr; else WINE_ARCH=win64 SCR=build-win64/VantrelSaver.scr; fi
PROBE=build/tests/e2e/x11_probe
for b in "${builds[@]}"; do
  case $b in
    native) [[ -x $SAVER && -x $PROBE ]] || die "build the native tree first (./setup.sh native)" ;;
    wayland) [[ -x $SAVER ]] || die "build the native tree first (./setup.sh native)" ;;
    wine) [[ -f $SCR && -x $PROBE ]] || die "build both trees first (./setup.sh native windows)" ;;
    *) die "unknown build '$b' (native, wayland or wine)" ;;
  esac
done

TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-cpu.XXXXXX")
SAVER_PID=
finish() {
  [[ -n $SAVER_PID ]] && kill "$SAVER_PID" 2>/dev/null
  xsession_cleanup
  sway_cleanup
  rm -rf "$TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

TICKS=$(getconf CLK_TCK)
# CPU time a process has used so far, in nanoseconds: the scheduler's own
# count for each of its threads where the kernel keeps one (the 10 ms ticks
# of /proc/PID/stat are coarse beside a saver's fraction of a percent), else
# the ticks.
cpu_ns() {
  local sum=0 ns task found=
  for task in /proc/"$1"/task/*/schedstat; do
    read -r ns _ <"$task" 2>/dev/null && [[ $ns =~ ^[0-9]+$ ]] || continue
    sum=$((sum + ns))
    found=1
  done
  if [[ -n $found ]]; then
    echo "$sum"
  else
    awk -v hz="$TICKS" '{ sub(/^.*\) /, ""); printf "%.0f\n", ($12 + $13) * 1e9 / hz }' "/proc/$1/stat" 2>/dev/null || echo 0
  fi
}
percent() { awk -v ns="$1" -v s="$2" 'BEGIN { printf "%.2f", 100 * ns / 1e9 / s }'; }

xsession_start_display "${GEOMETRY}x24" || die "no Xvfb"
root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
root=$((root))

# The bombs are up when the screen holds the bomb's green.
bombs_on_screen() {
  "$PROBE" shot "$root" "$TMP/shot.ppm" 2>/dev/null &&
    convert "$TMP/shot.ppm" -unique-colors -depth 8 txt:- 2>/dev/null | grep -q '#00C35F'
}

# measure LABEL PID SERVER-LABEL SERVER-PID [EXTRA-LABEL EXTRA-PID]...: CPU
# shares over SPAN; the saver's is also left in SHARE_<LABEL>.
measure() {
  local label=$1 pid=$2; shift 2
  local pids=("$pid") names=("saver")
  while (($#)); do names+=("$1"); pids+=("$2"); shift 2; done
  local before=() i
  for i in "${!pids[@]}"; do before[i]=$(cpu_ns "${pids[i]}"); done
  local started=$EPOCHREALTIME
  sleep "$SPAN"
  local took
  took=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
  local line="$label ($GEOMETRY, ${took} s):" share
  for i in "${!pids[@]}"; do
    share=$(percent $(($(cpu_ns "${pids[i]}") - before[i])) "$took")
    ((i)) || printf -v "SHARE_$label" '%s' "$share"
    line+=" ${names[i]} $share%"
  done
  echo "$line of one core"
}

# The Wayland row: a compositor of its own with one output of GEOMETRY, the
# saver as the compositor's user with no DISPLAY, so Wayland is its only way.
measure_wayland() {
  sway_start "$GEOMETRY+0+0" 2>"$TMP/sway.log" || die "no sway: $SWAY_FAILURE"
  local output=${SWAY_OUTPUTS[0]} SWAY_COMMAND
  chown "$SWAY_USER" "$TMP"
  _sway_user_command env -u DISPLAY VANTREL_REGISTRY="$TMP/registry.reg" "$PWD/$SAVER" /s
  "${SWAY_COMMAND[@]}" >"$TMP/wayland.log" 2>&1 &
  SAVER_PID=$!
  _bombs_on_output() {
    kill -0 "$SAVER_PID" 2>/dev/null || return 0
    sway_shot "$output" "$TMP/output.ppm" 2>/dev/null &&
      convert "$TMP/output.ppm" -unique-colors -depth 8 txt:- 2>/dev/null | grep -q '#00C35F'
  }
  wait_until 60 _bombs_on_output && kill -0 "$SAVER_PID" 2>/dev/null || die "the Wayland saver showed no bombs: $(cat "$TMP/wayland.log")"
  measure wayland "$SAVER_PID" compositor "$SWAY_PID"
  kill "$SAVER_PID"
  wait "$SAVER_PID" 2>/dev/null
  SAVER_PID=
  sway_cleanup
}

for b in "${builds[@]}"; do
  if [[ $b == native ]]; then
    VANTREL_REGISTRY=$TMP/registry.reg VANTREL_BACKEND=x11 "$SAVER" /s >"$TMP/native.log" 2>&1 &
    SAVER_PID=$!
    wait_until 60 bombs_on_screen || die "the native saver showed no bombs: $(cat "$TMP/native.log")"
    measure native "$SAVER_PID" "X server" "$XSESSION_XVFB_PID"
    kill "$SAVER_PID"
    wait "$SAVER_PID" 2>/dev/null
    SAVER_PID=
  elif [[ $b == wayland ]]; then
    measure_wayland
  else
    xsession_start_wine "$WINE_ARCH" || die "no Wine prefix"
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
      measure wine "$SAVER_PID" "X server" "$XSESSION_XVFB_PID" wineserver "$server"
    else
      measure wine "$SAVER_PID" "X server" "$XSESSION_XVFB_PID"
    fi
    kill "$SAVER_PID" 2>/dev/null
    wait "$launcher" 2>/dev/null
    SAVER_PID=
  fi
done

if [[ -n ${SHARE_native:-} && -n ${SHARE_wayland:-} ]]; then
  awk -v w="$SHARE_wayland" -v x="$SHARE_native" \
    'BEGIN { printf "wayland / native (the saver alone): %s\n", (x > 0 ? sprintf("%.2f", w / x) : "n/a") }'
fi
