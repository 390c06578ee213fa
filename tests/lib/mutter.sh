# A headless mutter (GNOME's compositor) with virtual monitors of our
# choosing, on a session bus of its own: a GNOME Wayland desktop for the
# scripts that need one. Source it after tests/lib/common.sh.
#
#   mutter_start SIZE...    SIZE is WxH, one virtual monitor each, laid out
#                           left to right by mutter. Exports WAYLAND_DISPLAY
#                           (an absolute socket path), MUTTER_USER,
#                           MUTTER_RUNTIME_DIR, MUTTER_BUS (the session bus's
#                           address); MUTTER_OUTPUTS holds the monitors' names
#                           in SIZE order, MUTTER_PID mutter's pid. Returns 1
#                           with a log on failure, MUTTER_FAILURE saying why
#                           and MUTTER_ENVIRONMENT=1 when it is a limit of the
#                           machine that no set-up can mend (no user may be
#                           made); a missing package or a mutter that dies
#                           are failures.
#   mutter_require SIZE...  mutter_start, or, for a limit of the machine's, the
#                           one line "skipped: <reason>" and an empty summary,
#                           and the script ends with 0; any other cause fails
#                           a case naming it and ends the script with 1.
#   mutter_as_user CMD...   CMD as the session's user, in the session's
#                           environment (the bus and the compositor)
#   mutter_user_command CMD...  that command line, left in MUTTER_COMMAND
#                           (for a caller that execs it: its pid is then CMD's)
#   mutter_outputs          one line per active monitor: NAME WxH+X+Y*SCALE
#   mutter_set_outputs NAME...  exactly the named monitors on, left to right
#                           in that order at their preferred modes, the first
#                           primary; waits until mutter shows it
#   mutter_cleanup          ends everything started, removes the user, its home
#                           and runtime dir; safe to call again. Callers trap it
#                           on EXIT.
#
# mutter refuses to run as root, so as root the session belongs to a user made
# for this run alone (and removed again); otherwise it is the caller's. Root
# programs reach the compositor directly (its socket is a file root may
# open); the session bus admits its own user only, so everything that talks
# to mutter over D-Bus runs as that user.

[[ -n ${VANTREL_LIB_MUTTER:-} ]] && return 0
VANTREL_LIB_MUTTER=1

MUTTER_TIMEOUT=${MUTTER_TIMEOUT:-30}

MUTTER_USER=
MUTTER_RUNTIME_DIR=
MUTTER_BUS=
MUTTER_OUTPUTS=()
MUTTER_WANTED=()
MUTTER_FAILURE=
MUTTER_ENVIRONMENT=0
MUTTER_TMP=
MUTTER_HOME=
MUTTER_PID=
MUTTER_BUS_PID=
MUTTER_MADE_USER=0
MUTTER_WL=
MUTTER_SAVED_ENV=()

_mutter_fail() {
  MUTTER_FAILURE=$1
  MUTTER_ENVIRONMENT=${2:-0}
  log "mutter: $MUTTER_FAILURE"
  local file
  for file in bus mutter; do
    if [[ -n $MUTTER_TMP && -s $MUTTER_TMP/$file.log ]]; then
      tail -n 20 "$MUTTER_TMP/$file.log" | sed "s/^/  $file: /" >&2
    fi
  done
  return 1
}

_mutter_alive() { [[ -n $MUTTER_PID ]] && kill -0 "$MUTTER_PID" 2>/dev/null; }
_mutter_bus_alive() { [[ -n $MUTTER_BUS_PID ]] && kill -0 "$MUTTER_BUS_PID" 2>/dev/null; }

# The environment the session's own programs see. Settings stay in memory:
# nothing of the user's (or of this throw-away one's) dconf is read or made.
_mutter_env() {
  printf '%s\n' HOME="$MUTTER_HOME" PATH=/usr/local/bin:/usr/bin:/bin USER="$MUTTER_USER" LOGNAME="$MUTTER_USER" \
    XDG_RUNTIME_DIR="$MUTTER_RUNTIME_DIR" XDG_CONFIG_HOME="$MUTTER_HOME/.config" LANG=C.UTF-8 \
    GSETTINGS_BACKEND=memory
  [[ -n $MUTTER_BUS ]] && printf 'DBUS_SESSION_BUS_ADDRESS=%s\n' "$MUTTER_BUS"
  [[ -n $MUTTER_WL ]] && printf 'WAYLAND_DISPLAY=%s\n' "${MUTTER_WL##*/}"
  return 0
}

# setpriv execs without forking, so the pid of a command started this way is
# the program's own.
mutter_user_command() {
  local vars=()
  mapfile -t vars < <(_mutter_env)
  MUTTER_COMMAND=(env -i "${vars[@]}" "$@")
  if ((MUTTER_MADE_USER)); then
    MUTTER_COMMAND=(setpriv --reuid="$MUTTER_USER" --regid="$(id -g "$MUTTER_USER")" --clear-groups "${MUTTER_COMMAND[@]}")
  fi
}
mutter_as_user() {
  local MUTTER_COMMAND
  mutter_user_command "$@"
  "${MUTTER_COMMAND[@]}"
}

_MUTTER_DC=(org.gnome.Mutter.DisplayConfig /org/gnome/Mutter/DisplayConfig org.gnome.Mutter.DisplayConfig)
_mutter_state() { mutter_as_user timeout -k 2 10 busctl --user -j call "${_MUTTER_DC[@]}" GetCurrentState 2>/dev/null; }

# NAME WxH+X+Y*SCALE per logical monitor, from mutter's own display
# configuration (the current mode of the monitor in it).
mutter_outputs() {
  _mutter_state | jq -r '
    .data as $d
    | ($d[1] | map({key: .[0][0], value: (.[1][] | select(.[6]["is-current"].data) | "\(.[1])x\(.[2])")}) | from_entries) as $modes
    | $d[2][] | . as $l | .[5][] | "\(.[0]) \($modes[.[0]])+\($l[0])+\($l[1])*\($l[2])"' |
    sed -E 's/\*([0-9]+)(\.0+)?$/*\1/'
}

mutter_set_outputs() {
  local state serial args=() x=0 name mode width primary=true
  state=$(_mutter_state) || { log "mutter: no display configuration"; return 1; }
  serial=$(jq -r '.data[0]' <<<"$state")
  for name in "$@"; do
    # The preferred mode, and its width for the next monitor's place.
    read -r mode width < <(jq -r --arg n "$name" '.data[1][] | select(.[0][0] == $n) | .[1][]
      | select(.[6]["is-preferred"].data) | "\(.[0]) \(.[1])"' <<<"$state" | head -n1)
    [[ -n $mode ]] || { log "mutter: no monitor $name"; return 1; }
    args+=("$x" 0 1 0 "$primary" 1 "$name" "$mode" 0)
    x=$((x + width)) primary=false
  done
  # Method 1: a temporary configuration, applied at once and kept nowhere.
  mutter_as_user timeout -k 2 10 busctl --user call "${_MUTTER_DC[@]}" ApplyMonitorsConfig \
    'uua(iiduba(ssa{sv}))a{sv}' "$serial" 1 "$#" "${args[@]}" 0 >"$MUTTER_TMP/apply.log" 2>&1 ||
    { log "mutter: ApplyMonitorsConfig: $(cat "$MUTTER_TMP/apply.log")"; return 1; }
  _mutter_names_are() { [[ $(mutter_outputs | awk '{ print $1 }' | sort) == $(printf '%s\n' "$@" | sort) ]]; }
  wait_until "$MUTTER_TIMEOUT" _mutter_names_are "$@"
}

mutter_start() {
  MUTTER_FAILURE='' MUTTER_ENVIRONMENT=0
  [[ -z $MUTTER_TMP ]] || { _mutter_fail "a session is already running"; return 1; }
  (($#)) || { _mutter_fail "mutter_start needs at least one monitor"; return 1; }
  MUTTER_WANTED=()
  local size
  for size in "$@"; do
    [[ $size =~ ^[0-9]+x[0-9]+$ ]] || { _mutter_fail "bad monitor '$size' (WxH)"; return 1; }
    MUTTER_WANTED+=("$size")
  done
  local tool
  for tool in mutter dbus-daemon busctl jq setpriv; do
    command -v "$tool" >/dev/null ||
      { _mutter_fail "$tool is not installed (Debian: mutter, dbus-daemon, systemd, jq, util-linux)"; return 1; }
  done

  MUTTER_SAVED_ENV=("WAYLAND_DISPLAY=${WAYLAND_DISPLAY-}")
  MUTTER_TMP=$(mktemp -d /tmp/vantrel-mutter.XXXXXX) || { _mutter_fail "no temporary directory" 1; return 1; }
  chmod 755 "$MUTTER_TMP"
  MUTTER_HOME=$MUTTER_TMP/home
  MUTTER_RUNTIME_DIR=$MUTTER_TMP/run
  mkdir -p "$MUTTER_HOME" && mkdir -m 700 "$MUTTER_RUNTIME_DIR"
  if ((EUID == 0)); then
    MUTTER_USER=vantrel-mutter-$$-$RANDOM
    if ! useradd --system --no-create-home --home-dir "$MUTTER_HOME" --shell /usr/sbin/nologin "$MUTTER_USER" \
      >"$MUTTER_TMP/useradd.log" 2>&1; then
      MUTTER_USER=
      _mutter_fail "cannot make a user for mutter: $(head -n1 "$MUTTER_TMP/useradd.log")" 1
      return 1
    fi
    MUTTER_MADE_USER=1
    chown -R "$MUTTER_USER:$(id -g "$MUTTER_USER")" "$MUTTER_HOME" "$MUTTER_RUNTIME_DIR"
  else
    MUTTER_USER=$(id -un)
  fi

  # A bus of the session's own, at an address we choose: mutter serves its
  # D-Bus APIs there, and its remote-desktop sessions live on it.
  local MUTTER_COMMAND address=unix:path=$MUTTER_RUNTIME_DIR/bus
  mutter_user_command dbus-daemon --session --nofork --nopidfile --address="$address"
  (cd "$MUTTER_HOME" && exec "${MUTTER_COMMAND[@]}") </dev/null >"$MUTTER_TMP/bus.log" 2>&1 &
  MUTTER_BUS_PID=$!
  _mutter_bus_up() { _mutter_bus_alive || return 0; [[ -S $MUTTER_RUNTIME_DIR/bus ]]; }
  wait_until "$MUTTER_TIMEOUT" _mutter_bus_up
  [[ -S $MUTTER_RUNTIME_DIR/bus ]] || { _mutter_fail "the session bus did not start"; return 1; }
  MUTTER_BUS=$address

  local socket=vantrel-mutter-$$ monitors=()
  for size in "${MUTTER_WANTED[@]}"; do monitors+=(--virtual-monitor "$size"); done
  log "mutter: starting as $MUTTER_USER (${MUTTER_WANTED[*]})"
  mutter_user_command mutter --headless --wayland --no-x11 --wayland-display "$socket" "${monitors[@]}"
  (cd "$MUTTER_HOME" && exec "${MUTTER_COMMAND[@]}") </dev/null >"$MUTTER_TMP/mutter.log" 2>&1 &
  MUTTER_PID=$!

  # Up once the socket is there and the display configuration answers on
  # the bus with every monitor laid out.
  _mutter_up() {
    _mutter_alive || return 0
    [[ -S $MUTTER_RUNTIME_DIR/$socket ]] || return 1
    (($(mutter_outputs | wc -l) == ${#MUTTER_WANTED[@]}))
  }
  wait_until "$MUTTER_TIMEOUT" _mutter_up
  _mutter_alive || { _mutter_fail "mutter ended at its start"; return 1; }
  [[ -S $MUTTER_RUNTIME_DIR/$socket ]] || { _mutter_fail "no Wayland socket after $MUTTER_TIMEOUT s"; return 1; }
  MUTTER_WL=$MUTTER_RUNTIME_DIR/$socket

  # mutter lists its monitors in the order they were asked for; each must
  # have come with its size.
  local have i name
  have=$(mutter_outputs)
  mapfile -t MUTTER_OUTPUTS < <(_mutter_state | jq -r '.data[1][] | .[0][0]')
  for i in "${!MUTTER_WANTED[@]}"; do
    name=${MUTTER_OUTPUTS[i]:-}
    [[ -n $name && $(awk -v n="$name" '$1 == n { sub(/\+.*/, "", $2); print $2 }' <<<"$have") == "${MUTTER_WANTED[i]}" ]] ||
      { _mutter_fail "the monitors are not those asked for: wanted ${MUTTER_WANTED[*]}, have $(tr '\n' ' ' <<<"$have")"; return 1; }
  done
  export WAYLAND_DISPLAY=$MUTTER_WL MUTTER_USER MUTTER_RUNTIME_DIR MUTTER_BUS
  log "mutter: running (pid $MUTTER_PID), WAYLAND_DISPLAY=$WAYLAND_DISPLAY"
  mutter_outputs | sed 's/^/  mutter: monitor /' >&2
}

mutter_require() {
  mutter_start "$@" && return 0
  if ((MUTTER_ENVIRONMENT)); then
    mutter_cleanup
    printf 'skipped: mutter cannot run here: %s\n' "$MUTTER_FAILURE"
    report_summary
    exit 0
  fi
  fail "setup: a headless mutter with monitors ${*}" "$MUTTER_FAILURE"
  report_summary
  exit 1
}

mutter_cleanup() {
  [[ -n $MUTTER_TMP ]] || return 0
  local pid
  for pid in "$MUTTER_PID" "$MUTTER_BUS_PID"; do
    [[ -n $pid ]] || continue
    kill "$pid" 2>/dev/null
    wait_until 10 eval "! kill -0 $pid 2>/dev/null" || kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  if ((MUTTER_MADE_USER)); then
    # What ran as the user (what the bus started, the scripts' clients)
    # goes before the user does; nothing else runs as this user.
    for pid in $(pgrep -u "$MUTTER_USER"); do kill "$pid" 2>/dev/null; done
    wait_until 10 eval '! pgrep -u "$MUTTER_USER" >/dev/null'
    for pid in $(pgrep -u "$MUTTER_USER"); do kill -9 "$pid" 2>/dev/null; done
    wait_until 5 eval '! pgrep -u "$MUTTER_USER" >/dev/null'
    userdel "$MUTTER_USER" 2>/dev/null || log "mutter: could not remove user $MUTTER_USER"
  fi
  rm -rf "$MUTTER_TMP"
  local saved
  for saved in "${MUTTER_SAVED_ENV[@]}"; do
    if [[ -n ${saved#*=} ]]; then export "${saved?}"; else unset "${saved%%=*}"; fi
  done
  MUTTER_TMP='' MUTTER_HOME='' MUTTER_PID='' MUTTER_BUS_PID='' MUTTER_BUS='' MUTTER_WL='' MUTTER_USER=''
  MUTTER_RUNTIME_DIR='' MUTTER_MADE_USER=0
  MUTTER_OUTPUTS=() MUTTER_WANTED=() MUTTER_SAVED_ENV=()
  return 0
}
