# A headless sway compositor with outputs of our choosing, and its XWayland:
# a Wayland desktop and an X server with several monitors, for the scripts
# that need either. Source it after tests/lib/common.sh.
#
#   sway_start OUTPUT...    OUTPUT is WxH+X+Y with an optional *SCALE, e.g.
#                           1600x1200+0+0 1920x1080+1600+0*2. Exports
#                           WAYLAND_DISPLAY (an absolute socket path), SWAYSOCK,
#                           DISPLAY (its XWayland), SWAY_USER, SWAY_RUNTIME_DIR;
#                           SWAY_OUTPUTS holds the output names in OUTPUT order.
#                           Returns 1 with a log on failure, SWAY_FAILURE saying
#                           why and SWAY_ENVIRONMENT=1 when it is a limit of the
#                           machine that no set-up can mend (no user may be
#                           made, say); a missing package, a sway that dies or
#                           an XWayland that will not come are failures.
#   sway_require OUTPUT...  sway_start, or, for a limit of the machine's, the
#                           one line "skipped: <reason>" and an empty summary,
#                           and the script ends with 0; any other cause fails
#                           a case naming it and ends the script with 1.
#   sway_as_user CMD...     CMD as the session's user, in the session's
#                           environment (for programs that refuse root)
#   sway_shot OUTPUT FILE   one output's pixels (grim -o); PNG, or PPM when
#                           FILE ends in .ppm
#   sway_shot_all FILE [SCALE]  the whole layout, SCALE pixels per layout unit
#                           (1 unless given)
#   sway_outputs            one line per active output: NAME WxH+X+Y*SCALE
#                           (the mode in device pixels, the layout position)
#   sway_cleanup            ends everything started, removes the user, its home
#                           and runtime dir; safe to call again. Callers trap it
#                           on EXIT.
#
# SWAY_CONFIG_EXTRA, when set before sway_start, is added to sway's config
# (lines of sway commands: window rules, seat settings).
#
# sway refuses to run as root, so as root the session belongs to a user made
# for this run alone (and removed again); otherwise it is the caller's. Root
# programs reach it directly: the Wayland socket is a file root may open, and
# the X server is told to accept root (XWayland admits its own user only).

[[ -n ${VANTREL_LIB_SWAY:-} ]] && return 0
VANTREL_LIB_SWAY=1

SWAY_TIMEOUT=${SWAY_TIMEOUT:-30}

SWAY_USER=
SWAY_RUNTIME_DIR=
SWAY_OUTPUTS=()
SWAY_WANTED=()
SWAY_FAILURE=
SWAY_ENVIRONMENT=0
SWAY_TMP=
SWAY_HOME=
SWAY_PID=
SWAY_MADE_USER=0
SWAY_X_DISPLAY=
SWAY_IPC=
SWAY_WL=
SWAY_SAVED_ENV=()

_sway_fail() {
  SWAY_FAILURE=$1
  SWAY_ENVIRONMENT=${2:-0}
  log "sway: $SWAY_FAILURE"
  if [[ -n $SWAY_TMP && -s $SWAY_TMP/sway.log ]]; then
    tail -n 30 "$SWAY_TMP/sway.log" | sed 's/^/  sway: /' >&2
  fi
  return 1
}

_sway_alive() { [[ -n $SWAY_PID ]] && kill -0 "$SWAY_PID" 2>/dev/null; }

# The environment the session's own programs see.
_sway_env() {
  printf '%s\n' HOME="$SWAY_HOME" PATH=/usr/local/bin:/usr/bin:/bin USER="$SWAY_USER" LOGNAME="$SWAY_USER" \
    XDG_RUNTIME_DIR="$SWAY_RUNTIME_DIR" LANG=C.UTF-8
  [[ -n $SWAY_WL ]] && printf 'WAYLAND_DISPLAY=%s\n' "${SWAY_WL##*/}"
  [[ -n $SWAY_IPC ]] && printf 'SWAYSOCK=%s\n' "$SWAY_IPC"
  [[ -n $SWAY_X_DISPLAY ]] && printf 'DISPLAY=%s\n' "$SWAY_X_DISPLAY"
  return 0
}

# sway_exec_as_user CMD...: becomes CMD, run as the compositor's user in its
# session's environment. In the background its pid is then the program's
# own, so signals reach the program itself.
sway_exec_as_user() {
  local SWAY_COMMAND
  _sway_user_command "$@"
  exec "${SWAY_COMMAND[@]}"
}

# _sway_user_command CMD...: CMD as the session's user in SWAY_COMMAND.
# setpriv execs without forking, so the pid of a command started this way is
# the program's own.
_sway_user_command() {
  local vars=()
  mapfile -t vars < <(_sway_env)
  SWAY_COMMAND=(env -i "${vars[@]}" "$@")
  if ((SWAY_MADE_USER)); then
    SWAY_COMMAND=(setpriv --reuid="$SWAY_USER" --regid="$(id -g "$SWAY_USER")" --clear-groups "${SWAY_COMMAND[@]}")
  fi
}
sway_as_user() {
  local SWAY_COMMAND
  _sway_user_command "$@"
  "${SWAY_COMMAND[@]}"
}

_swaymsg() { timeout -k 2 10 swaymsg -s "$SWAY_IPC" "$@"; }

# Geometry of one output as sway sees it, in sway_start's notation.
_sway_output_lines() {
  _swaymsg -r -t get_outputs 2>/dev/null | jq -r '.[] | select(.active) |
    "\(.name) \(.current_mode.width)x\(.current_mode.height)+\(.rect.x)+\(.rect.y)*\(.scale)"'
}
sway_outputs() { _sway_output_lines | sed -E 's/\*([0-9]+)(\.0+)?$/*\1/'; }

# An output geometry with its scale written out as a plain number (2.0 and 2 are one).
_sway_norm() {
  local scale=1
  [[ $1 == *\** ]] && scale=${1#*\*}
  printf '%s*%s\n' "${1%\**}" "$(awk -v s="$scale" 'BEGIN { printf "%g", s }')"
}

# Every wanted output is there with its mode, position and scale, and no
# other.
_sway_outputs_match() {
  local have i got
  have=$(sway_outputs) || return 1
  (($(wc -l <<<"$have") == ${#SWAY_OUTPUTS[@]})) || return 1
  for i in "${!SWAY_OUTPUTS[@]}"; do
    got=$(awk -v n="${SWAY_OUTPUTS[i]}" '$1 == n { print $2 }' <<<"$have")
    [[ -n $got && $(_sway_norm "$got") == "$(_sway_norm "${SWAY_WANTED[i]}")" ]] || return 1
  done
}

# XWayland shows one RandR monitor per output, at the output's place in the
# layout and its size in layout units (to a few pixels for a fractional
# scale, which XWayland rounds its own way).
_sway_x_monitors_match() {
  local want have
  want=$(_swaymsg -r -t get_outputs 2>/dev/null |
    jq -r '.[] | select(.active) | "\(.rect.x) \(.rect.y) \(.rect.width) \(.rect.height) \(.scale)"' | sort)
  have=$(DISPLAY=$SWAY_X_DISPLAY timeout 10 xrandr --listmonitors 2>/dev/null |
    sed -nE 's|^ *[0-9]+: [+*]*[^ ]+ ([0-9]+)/[0-9]+x([0-9]+)/[0-9]+\+([0-9]+)\+([0-9]+).*|\3 \4 \1 \2|p' | sort)
  [[ -n $want ]] && (($(wc -l <<<"$want") == $(wc -l <<<"$have"))) || return 1
  paste -d' ' <(printf '%s\n' "$want") <(printf '%s\n' "$have") | awk '
    { slack = ($5 == int($5)) ? 0 : 8
      d1 = $3 - $8; d2 = $4 - $9
      if ($1 != $6 || $2 != $7 || d1 > slack || -d1 > slack || d2 > slack || -d2 > slack) bad = 1 }
    END { exit bad }'
}

# The X sockets' folder must be the shared one, root's, sticky and open to
# all: left to XWayland it would be made private to the session's user, and
# XWayland refuses to start on one of another mode. Another program may have
# left it wrong; as root that is mended here.
_sway_x11_unix() {
  local dir=/tmp/.X11-unix mode
  if ((EUID == 0)); then
    if [[ -L $dir || ( -e $dir && ! -d $dir ) ]]; then rm -f "$dir"; fi
    install -d -o root -g root -m 1777 "$dir" 2>"$SWAY_TMP/x11-unix.log" && chmod 1777 "$dir" ||
      { _sway_fail "cannot make $dir sticky and open to all: $(head -n1 "$SWAY_TMP/x11-unix.log")"; return 1; }
    return 0
  fi
  mode=$(stat -c '%a %u' "$dir" 2>/dev/null) || return 0  # XWayland makes it
  [[ $mode == "1777 0" ]] ||
    _sway_fail "$dir has mode and owner '$mode' where XWayland needs 1777 and root, and only root can mend that" 1
}

sway_start() {
  SWAY_FAILURE='' SWAY_ENVIRONMENT=0
  [[ -z $SWAY_TMP ]] || { _sway_fail "a session is already running"; return 1; }
  (($#)) || { _sway_fail "sway_start needs at least one output"; return 1; }
  SWAY_WANTED=()
  local geometry
  for geometry in "$@"; do
    [[ $geometry =~ ^[0-9]+x[0-9]+\+[0-9]+\+[0-9]+(\*[0-9]+(\.[0-9]+)?)?$ ]] ||
      { _sway_fail "bad output '$geometry' (WxH+X+Y or WxH+X+Y*SCALE)"; return 1; }
    SWAY_WANTED+=("$geometry")
  done
  local tool
  for tool in sway swaymsg Xwayland xrandr xhost grim jq setpriv; do
    command -v "$tool" >/dev/null || { _sway_fail "$tool is not installed (./setup.sh tests installs it)"; return 1; }
  done

  SWAY_SAVED_ENV=("DISPLAY=${DISPLAY-}" "WAYLAND_DISPLAY=${WAYLAND_DISPLAY-}" "SWAYSOCK=${SWAYSOCK-}")
  SWAY_TMP=$(mktemp -d /tmp/vantrel-sway.XXXXXX) || { _sway_fail "no temporary directory" 1; return 1; }
  chmod 755 "$SWAY_TMP"
  SWAY_HOME=$SWAY_TMP/home
  SWAY_RUNTIME_DIR=$SWAY_TMP/run
  mkdir -p "$SWAY_HOME" && mkdir -m 700 "$SWAY_RUNTIME_DIR"
  if ((EUID == 0)); then
    SWAY_USER=vantrel-sway-$$-$RANDOM
    if ! useradd --system --no-create-home --home-dir "$SWAY_HOME" --shell /usr/sbin/nologin "$SWAY_USER" \
      >"$SWAY_TMP/useradd.log" 2>&1; then
      SWAY_USER=
      _sway_fail "cannot make a user for sway: $(head -n1 "$SWAY_TMP/useradd.log")" 1
      return 1
    fi
    SWAY_MADE_USER=1
    chown -R "$SWAY_USER:$(id -g "$SWAY_USER")" "$SWAY_HOME" "$SWAY_RUNTIME_DIR"
  else
    SWAY_USER=$(id -un)
  fi
  _sway_x11_unix || return 1

  # Eager XWayland where this sway can (the "force" mode), so the X server
  # is there before any client; older ones start it for the first client.
  local version xwayland=enable
  version=$(sway --version 2>/dev/null | sed -nE 's/.*version ([0-9]+)\.([0-9]+).*/\1 \2/p')
  if [[ -n $version ]] && read -r major minor <<<"$version" && ((major > 1 || minor >= 5)); then
    xwayland=force
  fi
  cat >"$SWAY_TMP/config" <<EOF
xwayland $xwayland
default_border none
focus_follows_mouse no
${SWAY_CONFIG_EXTRA:-}
EOF
  chmod 644 "$SWAY_TMP/config"

  log "sway: starting as $SWAY_USER (${SWAY_WANTED[*]})"
  local SWAY_COMMAND
  _sway_user_command WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_HEADLESS_OUTPUTS=1 sway -c "$SWAY_TMP/config"
  (cd "$SWAY_HOME" && exec "${SWAY_COMMAND[@]}") </dev/null >"$SWAY_TMP/sway.log" 2>&1 &
  SWAY_PID=$!

  _sway_sockets() {
    _sway_alive || return 0
    SWAY_IPC=$(compgen -G "$SWAY_RUNTIME_DIR/sway-ipc.*.sock" | head -n1)
    SWAY_WL=$(compgen -G "$SWAY_RUNTIME_DIR/wayland-[0-9]*" | grep -v '\.lock$' | head -n1)
    [[ -S $SWAY_IPC && -S $SWAY_WL ]] || return 1
    _swaymsg -t get_version >/dev/null 2>&1
  }
  wait_until "$SWAY_TIMEOUT" _sway_sockets
  _sway_alive || { _sway_fail "sway ended at its start"; return 1; }
  [[ -S $SWAY_IPC && -S $SWAY_WL ]] ||
    { _sway_fail "no Wayland and IPC sockets after $SWAY_TIMEOUT s"; return 1; }
  export SWAYSOCK=$SWAY_IPC WAYLAND_DISPLAY=$SWAY_WL SWAY_USER SWAY_RUNTIME_DIR

  # The headless backend starts with one output; it becomes the first one
  # wanted (this sway cannot remove an output, and XWayland numbers its
  # monitors in the order the outputs came), the others are made for us.
  local before after i name
  SWAY_OUTPUTS=()
  wait_until "$SWAY_TIMEOUT" eval '[[ -n $(_swaymsg -r -t get_outputs | jq -r ".[].name") ]]' ||
    { _sway_fail "sway shows no output"; return 1; }
  SWAY_OUTPUTS+=("$(_swaymsg -r -t get_outputs | jq -r '.[0].name')")
  for ((i = 1; i < ${#SWAY_WANTED[@]}; i++)); do
    before=$(_swaymsg -r -t get_outputs | jq -r '.[].name' | sort)
    _swaymsg create_output >/dev/null || { _sway_fail "swaymsg create_output failed"; return 1; }
    _sway_new_output() {
      after=$(_swaymsg -r -t get_outputs | jq -r '.[].name' | sort)
      name=$(comm -13 <(printf '%s\n' "$before") <(printf '%s\n' "$after") | head -n1)
      [[ -n $name ]]
    }
    wait_until "$SWAY_TIMEOUT" _sway_new_output || { _sway_fail "the output made by create_output did not appear"; return 1; }
    SWAY_OUTPUTS+=("$name")
  done
  local w h x y scale
  for i in "${!SWAY_WANTED[@]}"; do
    geometry=${SWAY_WANTED[i]}
    scale=1
    [[ $geometry == *\** ]] && scale=${geometry#*\*}
    IFS='x+' read -r w h x y <<<"${geometry%\**}"
    _swaymsg output "${SWAY_OUTPUTS[i]}" mode "${w}x$h" position "$x" "$y" scale "$scale" >"$SWAY_TMP/output.log" 2>&1 ||
      { _sway_fail "sway refused output ${SWAY_OUTPUTS[i]} $geometry: $(tr '\n' ' ' <"$SWAY_TMP/output.log")"; return 1; }
  done
  if ! wait_until "$SWAY_TIMEOUT" _sway_outputs_match; then
    _sway_fail "the outputs did not take their geometry: wanted ${SWAY_WANTED[*]}, have $(sway_outputs | tr '\n' ' ')"
    return 1
  fi

  # XWayland's display: sway puts it in the environment of what it runs.
  _sway_x_display() {
    _sway_alive || return 0
    _swaymsg exec "printf %s \"\$DISPLAY\" >'$SWAY_RUNTIME_DIR/display.tmp' && mv '$SWAY_RUNTIME_DIR/display.tmp' '$SWAY_RUNTIME_DIR/display'" >/dev/null 2>&1
    wait_until 2 test -s "$SWAY_RUNTIME_DIR/display" || return 1
    SWAY_X_DISPLAY=$(cat "$SWAY_RUNTIME_DIR/display")
    [[ $SWAY_X_DISPLAY == :* ]]
  }
  wait_until "$SWAY_TIMEOUT" _sway_x_display && [[ $SWAY_X_DISPLAY == :* ]] ||
    { _sway_fail "sway has no XWayland display"; return 1; }
  # A lazy XWayland starts for its first client; then root is let in.
  _sway_x_up() { sway_as_user timeout 10 xhost "+si:localuser:$(id -un)" >/dev/null 2>&1; }
  wait_until "$SWAY_TIMEOUT" _sway_x_up || { _sway_fail "XWayland on $SWAY_X_DISPLAY does not answer"; return 1; }
  if ! wait_until "$SWAY_TIMEOUT" _sway_x_monitors_match; then
    _sway_fail "XWayland on $SWAY_X_DISPLAY does not show the outputs as monitors: $(DISPLAY=$SWAY_X_DISPLAY xrandr --listmonitors 2>&1 | tr '\n' ' ')"
    return 1
  fi
  DISPLAY=$SWAY_X_DISPLAY
  export DISPLAY
  log "sway: running (pid $SWAY_PID), WAYLAND_DISPLAY=$WAYLAND_DISPLAY DISPLAY=$DISPLAY"
  sway_outputs | sed 's/^/  sway: output /' >&2
}

sway_require() {
  sway_start "$@" && return 0
  if ((SWAY_ENVIRONMENT)); then
    sway_cleanup
    printf 'skipped: sway cannot run here: %s\n' "$SWAY_FAILURE"
    report_summary
    exit 0
  fi
  fail "setup: a sway session with ${*}" "$SWAY_FAILURE"
  report_summary
  exit 1
}

sway_shot() {
  local output=$1 file=$2 type=png
  [[ $file == *.ppm ]] && type=ppm
  timeout -k 2 30 grim -t "$type" -o "$output" "$file"
}

sway_shot_all() {
  local file=$1 scale=${2:-1} type=png
  [[ $file == *.ppm ]] && type=ppm
  timeout -k 2 30 grim -t "$type" -s "$scale" "$file"
}

sway_cleanup() {
  [[ -n $SWAY_TMP ]] || return 0
  if _sway_alive; then
    [[ -n $SWAY_IPC ]] && _swaymsg exit >/dev/null 2>&1
    wait_until 10 eval '! _sway_alive' || kill "$SWAY_PID" 2>/dev/null
    wait_until 5 eval '! _sway_alive' || kill -9 "$SWAY_PID" 2>/dev/null
  fi
  wait "$SWAY_PID" 2>/dev/null
  local pid
  if ((SWAY_MADE_USER)); then
    # What sway started (XWayland, what was run as the user) goes before
    # the user does; nothing else runs as this user.
    for pid in $(pgrep -u "$SWAY_USER"); do kill "$pid" 2>/dev/null; done
    wait_until 10 eval '! pgrep -u "$SWAY_USER" >/dev/null'
    for pid in $(pgrep -u "$SWAY_USER"); do kill -9 "$pid" 2>/dev/null; done
    wait_until 5 eval '! pgrep -u "$SWAY_USER" >/dev/null'
    # An XWayland that was killed leaves its lock and socket behind.
    local n=${SWAY_X_DISPLAY#:} uid
    uid=$(id -u "$SWAY_USER" 2>/dev/null)
    if [[ $n =~ ^[0-9]+$ && -n $uid ]]; then
      [[ $(stat -c %u "/tmp/.X$n-lock" 2>/dev/null) == "$uid" ]] && rm -f "/tmp/.X$n-lock"
      [[ $(stat -c %u "/tmp/.X11-unix/X$n" 2>/dev/null) == "$uid" ]] && rm -f "/tmp/.X11-unix/X$n"
    fi
    userdel "$SWAY_USER" 2>/dev/null || log "sway: could not remove user $SWAY_USER"
  fi
  rm -rf "$SWAY_TMP"
  local saved
  for saved in "${SWAY_SAVED_ENV[@]}"; do
    if [[ -n ${saved#*=} ]]; then export "${saved?}"; else unset "${saved%%=*}"; fi
  done
  SWAY_TMP='' SWAY_HOME='' SWAY_PID='' SWAY_IPC='' SWAY_WL='' SWAY_USER='' SWAY_RUNTIME_DIR='' SWAY_X_DISPLAY=''
  SWAY_MADE_USER=0
  SWAY_OUTPUTS=() SWAY_WANTED=() SWAY_SAVED_ENV=()
  return 0
}
