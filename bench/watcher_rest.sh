#!/usr/bin/env bash
# What the watcher (vantrel-saver --watch) costs while nothing happens: on a
# private Xvfb, with a private session bus and a timeout far away, it should
# sleep in poll() the whole time, waking for nothing.
#
#   bench/watcher_rest.sh [-s SECONDS] [BINARY]
#
# Prints the watcher's CPU time over SECONDS (60 unless given) as a share of
# one core, from /proc/PID/stat, and then, over another SECONDS, the system
# calls it made (strace -c -f): at rest, none at all.
# BINARY defaults to build/vantrel-saver.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source tests/lib/common.sh
source tests/lib/xsession.sh
source tests/lib/watch.sh

SPAN=60
while getopts "s:" opt; do
  case $opt in
    s) SPAN=$OPTARG ;;
    *) echo "usage: $0 [-s SECONDS] [BINARY]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
VANTREL_SAVER=$(realpath "${1:-build/vantrel-saver}")
[[ -x $VANTREL_SAVER ]] || die "build the native tree first (./setup.sh native)"
command -v strace >/dev/null || die "strace is not installed (run ./setup.sh)"

TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-rest.XXXXXX")
BG_DIR=$TMP
BUS_PID=
finish() {
  watch_end
  [[ -n $BUS_PID ]] && kill "$BUS_PID" 2>/dev/null
  xsession_cleanup
  rm -rf "$TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

xsession_start_display 1024x768x24 || die "Xvfb did not start"
export XDG_RUNTIME_DIR=$TMP/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$TMP/no-system-bus
bus_info=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_info")
BUS_PID=$(sed -n 2p <<<"$bus_info")

watch_begin
watch_settings 1 3600
watch_start rest || die "the watcher did not start"
pid=$(watch_pid rest)
# Its start-up is not rest.
sleep 2

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$SPAN"
after=$(ticks)
awk -v t=$((after - before)) -v hz="$hz" -v s="$SPAN" \
  'BEGIN { printf "watcher at rest: %d ticks of CPU in %d s = %.4f%% of one core\n", t, s, 100 * t / hz / s }'

timeout -s INT "$SPAN" strace -c -f -p "$pid" -o "$TMP/strace.txt" 2>/dev/null
echo "system calls over $SPAN s (strace -c -f):"
if [[ -s $TMP/strace.txt ]]; then cat "$TMP/strace.txt"; else echo "  none"; fi
bg_running rest || die "the watcher ended during the measure: $(watch_log rest)"
