# A stand-in logind on a private system bus, for the scripts that run the
# saver with password protection. Source it after tests/lib/common.sh.
#
#   logind_begin MODE [ARGS...]  a private system bus (our own dbus-daemon,
#                            tests/lib/logind-bus.conf, its socket open to
#                            every local user) and logind_standin --mode MODE
#                            ARGS on it; exports DBUS_SYSTEM_BUS_ADDRESS and
#                            waits for the stand-in's "ready". 1 (saying why
#                            on stderr) when either does not come up. Ends
#                            any earlier stand-in first.
#   logind_locks             how many Lock calls it has had so far
#   logind_lock_times        their times (realtime seconds), one a line
#   logind_locked_times      the times LockedHint turned true, one a line
#   logind_output            everything it printed
#   logind_end               stops the stand-in and the bus; safe to call
#                            twice. Callers run it at teardown.
#
# MODE: lock-after:MS, never, refuse or no-session (see logind_standin.cpp).

[[ -n ${VANTREL_LIB_LOGIND:-} ]] && return 0
VANTREL_LIB_LOGIND=1

# shellcheck source=tests/lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

LOGIND_STANDIN=${LOGIND_STANDIN:-$VANTREL_ROOT/build/tests/e2e/logind_standin}
LOGIND_CONFIG=$VANTREL_ROOT/tests/lib/logind-bus.conf
LOGIND_DIR=
LOGIND_BUS_PID=
LOGIND_PID=

_logind_fail() {
  log "stand-in logind: $*"
  [[ -n $LOGIND_DIR ]] && cat "$LOGIND_DIR"/*.out 2>/dev/null | sed 's/^/  logind: /' >&2
  logind_end
  return 1
}

_logind_has_address() { grep -q '^unix:' "$LOGIND_DIR/bus.out" 2>/dev/null || ! kill -0 "$LOGIND_BUS_PID" 2>/dev/null; }
_logind_ready() { grep -qx ready "$LOGIND_DIR/standin.out" 2>/dev/null || ! kill -0 "$LOGIND_PID" 2>/dev/null; }

logind_begin() {
  local mode=$1; shift
  logind_end
  [[ -x $LOGIND_STANDIN ]] || { _logind_fail "$LOGIND_STANDIN is not built (it needs libsystemd-dev)"; return 1; }
  command -v dbus-daemon >/dev/null || { _logind_fail "dbus-daemon is not installed (Debian: dbus-daemon)"; return 1; }
  LOGIND_DIR=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-logind.XXXXXX")
  # The saver under a compositor runs as another user: it must reach the socket.
  chmod 755 "$LOGIND_DIR"
  dbus-daemon --config-file="$LOGIND_CONFIG" --nofork --nopidfile --print-address \
    --address="unix:path=$LOGIND_DIR/system_bus_socket" >"$LOGIND_DIR/bus.out" 2>&1 &
  LOGIND_BUS_PID=$!
  wait_until 10 _logind_has_address
  grep -q '^unix:' "$LOGIND_DIR/bus.out" || { _logind_fail "the private system bus did not start"; return 1; }
  chmod 777 "$LOGIND_DIR/system_bus_socket" 2>/dev/null
  DBUS_SYSTEM_BUS_ADDRESS=$(grep -m1 '^unix:' "$LOGIND_DIR/bus.out")
  export DBUS_SYSTEM_BUS_ADDRESS
  "$LOGIND_STANDIN" --mode "$mode" "$@" >"$LOGIND_DIR/standin.out" 2>&1 &
  LOGIND_PID=$!
  wait_until 10 _logind_ready
  grep -qx ready "$LOGIND_DIR/standin.out" || { _logind_fail "the stand-in did not come up"; return 1; }
}

logind_output() { cat "$LOGIND_DIR/standin.out" 2>/dev/null; }
logind_locks() { grep -c '^lock-requested ' "$LOGIND_DIR/standin.out" 2>/dev/null || true; }
logind_lock_times() { sed -n 's/^lock-requested //p' "$LOGIND_DIR/standin.out" 2>/dev/null; }
logind_locked_times() { sed -n 's/^locked //p' "$LOGIND_DIR/standin.out" 2>/dev/null; }

_logind_stop() {
  local pid=$1
  [[ -n $pid ]] || return 0
  kill "$pid" 2>/dev/null || return 0
  wait_until 10 eval "! kill -0 $pid 2>/dev/null" || kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

logind_end() {
  _logind_stop "$LOGIND_PID"
  _logind_stop "$LOGIND_BUS_PID"
  LOGIND_PID= LOGIND_BUS_PID=
  [[ -n $LOGIND_DIR ]] && rm -rf "$LOGIND_DIR"
  LOGIND_DIR=
  unset DBUS_SYSTEM_BUS_ADDRESS
  return 0
}
