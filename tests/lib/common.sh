# Shared shell helpers for the test scripts: polling, result counting, logging.
# Source it from bash; it sets no shell options of its own.

[[ -n ${VANTREL_LIB_COMMON:-} ]] && return 0
VANTREL_LIB_COMMON=1

# Repository root, whichever script sourced us.
VANTREL_ROOT=${VANTREL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

log() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
die() { log "error: $*"; exit 1; }

# wait_until SECONDS COMMAND...: run COMMAND every 0.2 s until it succeeds.
# Returns 0 as soon as it does, 1 when SECONDS have passed without success.
# Everything that waits for another process goes through here, so a slow
# machine only ever costs time, never a wrong verdict.
wait_until() {
  local limit=$1; shift
  local deadline=$((SECONDS + limit))
  while true; do
    if "$@"; then return 0; fi
    if ((SECONDS >= deadline)); then return 1; fi
    sleep 0.2
  done
}

# stays_true SECONDS COMMAND...: the opposite watch: COMMAND must keep
# succeeding for the whole time. Used to show that something does NOT happen
# (a window that must stay open); there is no event to wait for in that case.
stays_true() {
  local span=$1; shift
  local deadline=$((SECONDS + span))
  while ((SECONDS < deadline)); do
    "$@" || return 1
    sleep 0.2
  done
  "$@"
}

# Programs in the background, each known by a short id of the caller's choice.
# Their pid, output and, once ended, exit status are files under $BG_DIR
# (which the caller makes), so their end can be polled without racing the
# shell's own reaping of children.
BG_DIR=
BG_STARTED=()

# bg_start ID COMMAND...
bg_start() {
  local id=$1; shift
  local base=${BG_DIR:?}/$id
  rm -f "$base.pid" "$base.rc" "$base.out"
  (
    "$@" >"$base.out" 2>&1 &
    echo $! >"$base.pid"
    wait $!
    echo $? >"$base.rc.tmp"
    mv "$base.rc.tmp" "$base.rc"
  ) &
  BG_STARTED+=("$id")
  wait_until 10 test -s "$base.pid"
}

bg_done() { [[ -f $BG_DIR/$1.rc ]]; }
bg_running() { ! bg_done "$1"; }
bg_rc() { cat "$BG_DIR/$1.rc" 2>/dev/null || echo none; }
bg_output() { tr -d '\r' <"$BG_DIR/$1.out" 2>/dev/null; }

# bg_wait ID [SECONDS]: 0 when ID has ended within the time.
bg_wait() { wait_until "${2:-30}" bg_done "$1"; }

bg_kill() {
  local id=$1 pid
  bg_done "$id" && return 0
  pid=$(cat "$BG_DIR/$id.pid" 2>/dev/null) || return 0
  kill "$pid" 2>/dev/null || true
  if ! wait_until 10 bg_done "$id"; then kill -9 "$pid" 2>/dev/null || true; fi
}

bg_kill_all() {
  local id
  for id in "${BG_STARTED[@]}"; do bg_kill "$id"; done
}

# --- what a picture shows ------------------------------------------------------

# The colour of the bomb sprite; the bomb phase shows it over greys.
BOMB_GREEN='#00C35F'

# image_shows FILE: what a screenshot shows: "black", "bombs" (only greys,
# black and the bomb's green, with some green), "picture" (many colours that
# are not grey), or "other".
image_shows() {
  convert "$1" -unique-colors -depth 8 txt:- 2>/dev/null | awk -v green="$BOMB_GREEN" '
    /^[0-9]+,[0-9]+:/ {
      hex = $3
      if (hex == green) { bomb = 1; next }
      if (hex == "#000000") { black = 1; next }
      r = substr(hex, 2, 2); g = substr(hex, 4, 2); b = substr(hex, 6, 2)
      if (r == g && g == b) grey++; else colour++
    }
    END {
      if (colour == 0 && bomb) print "bombs"
      else if (colour == 0 && grey == 0 && black) print "black"
      else if (colour > 64) print "picture"
      else print "other"
    }'
}

# Result counting. Every script that reports cases ends with report_summary,
# whose last line "N passed, N failed" is what test.sh adds up.
REPORT_PASSED=0
REPORT_FAILED=0
REPORT_FAILURES=()

pass() {
  REPORT_PASSED=$((REPORT_PASSED + 1))
  printf 'PASS  %s\n' "$1"
}

# fail NAME [DETAIL...]
fail() {
  local name=$1; shift
  REPORT_FAILED=$((REPORT_FAILED + 1))
  REPORT_FAILURES+=("$name")
  printf 'FAIL  %s\n' "$name"
  local detail line
  for detail in "$@"; do
    while IFS= read -r line; do printf '      %s\n' "$line"; done <<<"$detail"
  done
}

# check NAME COMMAND...: pass when COMMAND succeeds.
check() {
  local name=$1; shift
  if "$@"; then pass "$name"; else fail "$name" "command failed: $*"; fi
}

# Prints the summary line and returns nonzero when anything failed.
report_summary() {
  local f
  for f in "${REPORT_FAILURES[@]}"; do printf 'failed: %s\n' "$f"; done
  printf '%d passed, %d failed\n' "$REPORT_PASSED" "$REPORT_FAILED"
  ((REPORT_FAILED == 0))
}

# require_built PROGRAM...: a program of ours that is not built ends the tier
# as a failure.
require_built() {
  local binary
  for binary in "$@"; do
    [[ -x $binary ]] || { fail "setup: $binary exists" "build it: ./setup.sh native"; report_summary; exit 1; }
  done
}

# require_tools TOOL...: the set-up installs these, so one missing is a fault
# of the machine's set-up, which must show as a failure, never pass as a skip.
require_tools() {
  local tool missing=0
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      fail "setup: $tool is installed" "install its Debian package (./setup.sh installs it)"
      missing=1
    fi
  done
  ((missing)) && { report_summary; exit 1; }
  return 0
}

# key_ends_run KEY ID WANT NAME TIMEOUT: presses KEY (xdotool, to the focused
# window) and expects the run ID to end with status WANT within TIMEOUT
# seconds; a run still going is killed, and 1 returned (its status after the
# kill says nothing of the key). Needs the caller's `describe`.
key_ends_run() {
  local key=$1 id=$2 want=$3 name=$4 timeout=$5
  xdotool key "$key"
  if bg_wait "$id" "$timeout" && [[ $(bg_rc "$id") == "$want" ]]; then
    pass "$name"
  else
    fail "$name" "$(describe "$id")"
    bg_kill "$id"
    return 1
  fi
}
