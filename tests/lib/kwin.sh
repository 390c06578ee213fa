# A headless KWin (Plasma's compositor, its virtual backend) with a session
# bus of its own, and the means to drive it from outside: keys and a pointer
# through its fake input, outputs changed through its output management,
# screenshots through its screenshot service. Source it after
# tests/lib/common.sh.
#
#   kwin_start COUNT WxH    KWin with COUNT outputs of WxH device pixels
#                           (its virtual backend makes them all one size;
#                           kwin_outputs changes their scale, place and
#                           whether they are there). Exports WAYLAND_DISPLAY
#                           (an absolute socket path), KWIN_USER,
#                           KWIN_RUNTIME_DIR; KWIN_OUTPUTS holds the output
#                           names in order. Returns 1 with a log on failure,
#                           KWIN_FAILURE saying why and KWIN_ENVIRONMENT=1
#                           when it is a limit of the machine that no set-up
#                           can mend; a missing package or a KWin that dies is
#                           a failure.
#   kwin_require COUNT WxH  kwin_start, or, for a limit of the machine's, the
#                           one line "skipped: <reason>" and an empty summary,
#                           and the script ends with 0; any other cause fails
#                           a case naming it and ends the script with 1.
#   kwin_as_user CMD...     CMD as the session's user, in its environment
#   kwin_outputs ARGS...    tests/e2e/kwin_outputs (list; set NAME ...)
#   kwin_output_list        one line per enabled output: NAME WxH+X+Y*SCALE
#   kwin_shot OUTPUT FILE   one output's pixels at its device size, as PPM
#   kwin_input CMD...       one command to the session's fake input device
#                           (key CODE..., move DX DY, moveto X Y, button B);
#                           returns once KWin has handled it. The device is
#                           made by kwin_start and lasts the whole session,
#                           so the seat has a pointer and a keyboard for every
#                           client that comes later.
#   kwin_cleanup            ends everything started, removes the user, its home
#                           and runtime dir; safe to call again. Callers trap it
#                           on EXIT.
#
# KWin refuses to run as root, so as root the session belongs to a user made
# for this run alone (and removed again); otherwise it is the caller's. Root
# programs reach its Wayland socket directly; the helpers that KWin lets near
# its restricted interfaces run as the session's user, since KWin knows a
# client by the program file behind its process, which it cannot read for a
# process of root's. Which programs may use those interfaces KWin learns from
# desktop entries: one under applications/ of a folder in XDG_DATA_DIRS, of
# Type=Application and not Hidden, whose Exec names the program's file (its
# first word, links resolved), with X-KDE-Wayland-Interfaces (Wayland) or
# X-KDE-DBUS-Restricted-Interfaces (the session bus) naming the interface.
# The helpers are copied into the session's own folder and its entries name
# those copies, so nothing outside the session is granted anything.

[[ -n ${VANTREL_LIB_KWIN:-} ]] && return 0
VANTREL_LIB_KWIN=1

KWIN_TIMEOUT=${KWIN_TIMEOUT:-30}
KWIN_BINARY=${KWIN_BINARY:-/usr/bin/kwin_wayland}
KWIN_HELPERS=${KWIN_HELPERS:-$VANTREL_ROOT/build/tests/e2e}

KWIN_USER=
KWIN_RUNTIME_DIR=
KWIN_OUTPUTS=()
KWIN_FAILURE=
KWIN_ENVIRONMENT=0
KWIN_TMP=
KWIN_HOME=
KWIN_PID=
KWIN_BUS_PID=
KWIN_INPUT_PID=
KWIN_INPUT_FD=
KWIN_INPUT_ASKED=0
KWIN_MADE_USER=0
KWIN_WL=
KWIN_SAVED_ENV=()

_kwin_fail() {
  KWIN_FAILURE=$1
  KWIN_ENVIRONMENT=${2:-0}
  log "kwin: $KWIN_FAILURE"
  if [[ -n $KWIN_TMP && -s $KWIN_TMP/kwin.log ]]; then
    tail -n 30 "$KWIN_TMP/kwin.log" | sed 's/^/  kwin: /' >&2
  fi
  return 1
}

_kwin_alive() { [[ -n $KWIN_PID ]] && kill -0 "$KWIN_PID" 2>/dev/null; }

# The environment of the session's own programs.
_kwin_env() {
  printf '%s\n' HOME="$KWIN_HOME" PATH=/usr/local/bin:/usr/bin:/bin USER="$KWIN_USER" LOGNAME="$KWIN_USER" \
    XDG_RUNTIME_DIR="$KWIN_RUNTIME_DIR" LANG=C.UTF-8 \
    XDG_DATA_DIRS="$KWIN_TMP/share:/usr/local/share:/usr/share" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$KWIN_RUNTIME_DIR/bus"
  [[ -n $KWIN_WL ]] && printf 'WAYLAND_DISPLAY=%s\n' "${KWIN_WL##*/}"
  return 0
}

# _kwin_user_command CMD...: CMD as the session's user in KWIN_COMMAND.
# setpriv execs without forking, so the pid of a command started this way is
# the program's own.
_kwin_user_command() {
  local vars=()
  mapfile -t vars < <(_kwin_env)
  KWIN_COMMAND=(env -i "${vars[@]}" "$@")
  if ((KWIN_MADE_USER)); then
    KWIN_COMMAND=(setpriv --reuid="$KWIN_USER" --regid="$(id -g "$KWIN_USER")" --clear-groups "${KWIN_COMMAND[@]}")
  fi
}
kwin_as_user() {
  local KWIN_COMMAND
  _kwin_user_command "$@"
  (cd "$KWIN_HOME" && exec "${KWIN_COMMAND[@]}")
}

kwin_outputs() { kwin_as_user timeout -k 2 20 "$KWIN_TMP/bin/kwin_outputs" "$@"; }
kwin_output_list() { kwin_outputs list | awk '$2 == "enabled" { print $1, $3 }'; }

# kwin_shot OUTPUT FILE: written by the session's user into its own folder,
# then moved to FILE.
kwin_shot() {
  local output=$1 file=$2 made
  made=$KWIN_TMP/shots/shot.$$.$RANDOM.ppm
  kwin_as_user timeout -k 2 30 "$KWIN_TMP/bin/kwin_shot" "$output" "$made" || { rm -f "$made"; return 1; }
  mv -f "$made" "$file"
}

# kwin_input CMD...: sends one command and waits for its answer; 0 when the
# answer is "ok".
kwin_input() {
  [[ -n $KWIN_INPUT_FD ]] || return 1
  printf '%s\n' "$*" >&"$KWIN_INPUT_FD" || return 1
  KWIN_INPUT_ASKED=$((KWIN_INPUT_ASKED + 1))
  _kwin_answered() {
    (($(grep -cE '^(ok|error:)' "$KWIN_TMP/input.out") >= KWIN_INPUT_ASKED)) || ! kill -0 "$KWIN_INPUT_PID" 2>/dev/null
  }
  wait_until 20 _kwin_answered
  [[ $(grep -E '^(ok|error:)' "$KWIN_TMP/input.out" | sed -n "${KWIN_INPUT_ASKED}p") == "ok $*" ]]
}

# Every output wanted is there and enabled.
_kwin_outputs_up() {
  local have
  have=$(kwin_output_list 2>/dev/null) || return 1
  (($(grep -c . <<<"$have") == $1))
}

# The name org.kde.KWin is on the session bus (its screenshot service).
_kwin_on_bus() {
  kwin_as_user timeout 10 dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.kde.KWin 2>/dev/null | grep -q 'boolean true'
}

_kwin_desktop_entry() {
  local name=$1 program=$2 key=$3 interface=$4
  cat >"$KWIN_TMP/share/applications/vantrel-$name.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Vantrel end-to-end $name
Exec=$KWIN_TMP/bin/$program
NoDisplay=true
$key=$interface
EOF
}

kwin_start() {
  KWIN_FAILURE='' KWIN_ENVIRONMENT=0
  [[ -z $KWIN_TMP ]] || { _kwin_fail "a session is already running"; return 1; }
  local count=$1 size=$2
  [[ $count =~ ^[1-9]$ && $size =~ ^[0-9]+x[0-9]+$ ]] || { _kwin_fail "bad outputs '$count' '$size' (COUNT WxH)"; return 1; }
  [[ -f $KWIN_BINARY ]] || { _kwin_fail "$KWIN_BINARY is not installed (Debian: kwin-wayland)"; return 1; }
  local tool
  for tool in dbus-daemon dbus-send setpriv; do
    command -v "$tool" >/dev/null || { _kwin_fail "$tool is not installed"; return 1; }
  done
  local helper
  for helper in kwin_input kwin_outputs kwin_shot; do
    [[ -x $KWIN_HELPERS/$helper ]] ||
      { _kwin_fail "$KWIN_HELPERS/$helper is not built (it needs plasma-wayland-protocols and libsystemd-dev)"; return 1; }
  done

  KWIN_SAVED_ENV=("WAYLAND_DISPLAY=${WAYLAND_DISPLAY-}")
  KWIN_TMP=$(mktemp -d /tmp/vantrel-kwin.XXXXXX) || { _kwin_fail "no temporary directory" 1; return 1; }
  chmod 755 "$KWIN_TMP"
  KWIN_HOME=$KWIN_TMP/home
  KWIN_RUNTIME_DIR=$KWIN_TMP/run
  if ! mkdir -p "$KWIN_HOME" "$KWIN_TMP/bin" "$KWIN_TMP/share/applications" "$KWIN_TMP/shots" ||
    ! mkdir -m 700 "$KWIN_RUNTIME_DIR"; then
    _kwin_fail "cannot make the session's folders" 1
    return 1
  fi
  # The package's kwin_wayland carries a file capability, which a machine
  # may refuse to exec; a copy has none. It keeps its name: KWin's Qt
  # platform plugin loads only into a program called kwin_wayland.
  cp "$KWIN_BINARY" "$KWIN_TMP/bin/kwin_wayland" || { _kwin_fail "cannot copy $KWIN_BINARY" 1; return 1; }
  for helper in kwin_input kwin_outputs kwin_shot; do cp "$KWIN_HELPERS/$helper" "$KWIN_TMP/bin/"; done
  chmod -R a+rX "$KWIN_TMP/bin" "$KWIN_TMP/share"
  if ! XDG_RUNTIME_DIR=$KWIN_RUNTIME_DIR "$KWIN_TMP/bin/kwin_wayland" --version >/dev/null 2>"$KWIN_TMP/exec.log"; then
    if grep -qiE 'permission denied|not permitted' "$KWIN_TMP/exec.log"; then
      _kwin_fail "programs in $KWIN_TMP cannot be run: $(head -n1 "$KWIN_TMP/exec.log")" 1
    else
      _kwin_fail "kwin_wayland --version failed: $(head -n1 "$KWIN_TMP/exec.log")"
    fi
    return 1
  fi
  _kwin_desktop_entry input kwin_input X-KDE-Wayland-Interfaces org_kde_kwin_fake_input
  _kwin_desktop_entry screenshots kwin_shot X-KDE-DBUS-Restricted-Interfaces org.kde.KWin.ScreenShot2

  if ((EUID == 0)); then
    KWIN_USER=vantrel-kwin-$$-$RANDOM
    if ! useradd --system --no-create-home --home-dir "$KWIN_HOME" --shell /usr/sbin/nologin "$KWIN_USER" \
      >"$KWIN_TMP/useradd.log" 2>&1; then
      KWIN_USER=
      _kwin_fail "cannot make a user for KWin: $(head -n1 "$KWIN_TMP/useradd.log")" 1
      return 1
    fi
    KWIN_MADE_USER=1
    chown -R "$KWIN_USER:$(id -g "$KWIN_USER")" "$KWIN_HOME" "$KWIN_RUNTIME_DIR" "$KWIN_TMP/shots"
  else
    KWIN_USER=$(id -un)
  fi

  # The session's own bus: KWin's services, and no one else's, are on it.
  # (The session's programs are disowned: a KWin killed on purpose is no
  # news for the shell to print.)
  local KWIN_COMMAND
  _kwin_user_command dbus-daemon --session --nofork --nopidfile --address="unix:path=$KWIN_RUNTIME_DIR/bus"
  (cd "$KWIN_HOME" && exec "${KWIN_COMMAND[@]}") </dev/null >"$KWIN_TMP/bus.log" 2>&1 &
  KWIN_BUS_PID=$!
  disown "$KWIN_BUS_PID"
  wait_until "$KWIN_TIMEOUT" test -S "$KWIN_RUNTIME_DIR/bus" ||
    { _kwin_fail "the session bus did not start: $(head -n3 "$KWIN_TMP/bus.log")"; return 1; }

  log "kwin: starting as $KWIN_USER ($count outputs of $size)"
  _kwin_user_command "$KWIN_TMP/bin/kwin_wayland" --virtual --width "${size%x*}" --height "${size#*x}" \
    --output-count "$count" --socket vantrel-kwin --no-lockscreen --no-global-shortcuts --no-kactivities
  (cd "$KWIN_HOME" && exec "${KWIN_COMMAND[@]}") </dev/null >"$KWIN_TMP/kwin.log" 2>&1 &
  KWIN_PID=$!
  disown "$KWIN_PID"
  _kwin_socket() { ! _kwin_alive || test -S "$KWIN_RUNTIME_DIR/vantrel-kwin"; }
  wait_until "$KWIN_TIMEOUT" _kwin_socket
  _kwin_alive || { _kwin_fail "KWin ended at its start"; return 1; }
  [[ -S $KWIN_RUNTIME_DIR/vantrel-kwin ]] || { _kwin_fail "no Wayland socket after $KWIN_TIMEOUT s"; return 1; }
  KWIN_WL=$KWIN_RUNTIME_DIR/vantrel-kwin
  export WAYLAND_DISPLAY=$KWIN_WL KWIN_USER KWIN_RUNTIME_DIR

  wait_until "$KWIN_TIMEOUT" _kwin_outputs_up "$count" ||
    { _kwin_fail "KWin does not show $count outputs: $(kwin_outputs list 2>&1 | tr '\n' ' ')"; return 1; }
  mapfile -t KWIN_OUTPUTS < <(kwin_output_list | awk '{ print $1 }')
  wait_until "$KWIN_TIMEOUT" _kwin_on_bus || { _kwin_fail "KWin is not on its session bus"; return 1; }

  # The fake input device, held for the whole session.
  mkfifo "$KWIN_TMP/input.fifo" && chmod 666 "$KWIN_TMP/input.fifo"
  : >"$KWIN_TMP/input.out"
  _kwin_user_command "$KWIN_TMP/bin/kwin_input"
  (cd "$KWIN_HOME" && exec "${KWIN_COMMAND[@]}") <"$KWIN_TMP/input.fifo" >"$KWIN_TMP/input.out" 2>&1 &
  KWIN_INPUT_PID=$!
  disown "$KWIN_INPUT_PID"
  exec {KWIN_INPUT_FD}>"$KWIN_TMP/input.fifo"
  KWIN_INPUT_ASKED=0
  _kwin_input_ready() { grep -q '^ready' "$KWIN_TMP/input.out" || ! kill -0 "$KWIN_INPUT_PID" 2>/dev/null; }
  wait_until "$KWIN_TIMEOUT" _kwin_input_ready
  grep -q '^ready' "$KWIN_TMP/input.out" ||
    { _kwin_fail "KWin's fake input is not granted: $(tr '\n' ' ' <"$KWIN_TMP/input.out")"; return 1; }

  log "kwin: running (pid $KWIN_PID), WAYLAND_DISPLAY=$WAYLAND_DISPLAY"
  kwin_outputs list | sed 's/^/  kwin: output /' >&2
}

kwin_require() {
  kwin_start "$@" && return 0
  if ((KWIN_ENVIRONMENT)); then
    kwin_cleanup
    printf 'skipped: KWin cannot run here: %s\n' "$KWIN_FAILURE"
    report_summary
    exit 0
  fi
  fail "setup: a KWin session with $1 outputs of $2" "$KWIN_FAILURE"
  report_summary
  exit 1
}

# _kwin_end PID: TERM, then KILL when it outstays its time.
_kwin_end() {
  local pid=$1
  [[ -n $pid ]] || return 0
  kill "$pid" 2>/dev/null
  wait_until 10 eval "! kill -0 $pid 2>/dev/null" || kill -9 "$pid" 2>/dev/null
  wait_until 5 eval "! kill -0 $pid 2>/dev/null"
}

kwin_cleanup() {
  [[ -n $KWIN_TMP ]] || return 0
  if [[ -n $KWIN_INPUT_FD ]]; then exec {KWIN_INPUT_FD}>&-; fi
  _kwin_end "$KWIN_INPUT_PID"
  _kwin_end "$KWIN_PID"
  _kwin_end "$KWIN_BUS_PID"
  local pid
  if ((KWIN_MADE_USER)); then
    # What ran as the user (services the bus started, what a script ran as
    # the user) goes before the user does; nothing else runs as this user.
    for pid in $(pgrep -u "$KWIN_USER"); do kill "$pid" 2>/dev/null; done
    wait_until 10 eval '! pgrep -u "$KWIN_USER" >/dev/null'
    for pid in $(pgrep -u "$KWIN_USER"); do kill -9 "$pid" 2>/dev/null; done
    wait_until 5 eval '! pgrep -u "$KWIN_USER" >/dev/null'
    userdel "$KWIN_USER" 2>/dev/null || log "kwin: could not remove user $KWIN_USER"
  fi
  rm -rf "$KWIN_TMP"
  local saved
  for saved in "${KWIN_SAVED_ENV[@]}"; do
    if [[ -n ${saved#*=} ]]; then export "${saved?}"; else unset "${saved%%=*}"; fi
  done
  KWIN_TMP='' KWIN_HOME='' KWIN_PID='' KWIN_BUS_PID='' KWIN_INPUT_PID='' KWIN_INPUT_FD='' KWIN_WL=''
  KWIN_USER='' KWIN_RUNTIME_DIR='' KWIN_MADE_USER=0 KWIN_INPUT_ASKED=0
  KWIN_OUTPUTS=() KWIN_SAVED_ENV=()
  return 0
}
