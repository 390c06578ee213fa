#!/usr/bin/env bash
# The saver as a module of Debian's own XScreenSaver daemon: the daemon runs
# the built program from a ~/.xscreensaver of ours, once as the description
# starts it and once with the options the description offers; each run
# shows on the screen what it was given, deactivation ends it, and the
# settings file is left as it was.
#
# The daemon starts no module as root, so as root this runs it as a user
# of its own, made here and removed again at the end.
set -uo pipefail
# shellcheck source=tests/lib/native_e2e.sh
source "$(dirname "$0")/../lib/native_e2e.sh"
native_begin

XML=$VANTREL_ROOT/dist/vantrel-saver.xml
XSS_USER=
XSS_HOME=
XSS_AS=()  # how to run a command as the daemon's user

xss_env() {
  "${XSS_AS[@]}" env -i HOME="$XSS_HOME" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" USER="${XSS_USER:-$(id -un)}" \
    LOGNAME="${XSS_USER:-$(id -un)}" "$@"
}
xss_command() { xss_env timeout -k 5 20 xscreensaver-command "$@" >/dev/null 2>&1; }

# The module's processes: the copy of the program in the daemon's home is
# run by nothing else.
module_pids() { pgrep -f "^$XSS_HOME/bin/vantrel-saver( |$)"; }

xss_end() {
  [[ -n $XSS_HOME ]] || return 0
  xss_command -exit
  bg_kill xss
  local pid
  for pid in $(module_pids); do kill "$pid" 2>/dev/null; done
  if [[ -n $XSS_USER ]]; then
    # Whatever of the user's is still there (the daemon's helpers) goes
    # before the user does.
    wait_until 10 eval '! pgrep -u "$XSS_USER" >/dev/null'
    for pid in $(pgrep -u "$XSS_USER"); do kill -9 "$pid" 2>/dev/null; done
    userdel "$XSS_USER" 2>/dev/null
  fi
  rm -rf "$XSS_HOME"
}
trap 'xss_end; native_end' EXIT

command -v xscreensaver >/dev/null || { fail "setup: xscreensaver is installed" "./setup.sh packages"; exit 1; }

XSS_HOME=$(mktemp -d /tmp/vantrel-xss.XXXXXX)
chmod 755 "$XSS_HOME"
if ((EUID == 0)); then
  XSS_USER=vantrel-xss-$$
  if ! useradd --system --no-create-home --home-dir "$XSS_HOME" --shell /usr/sbin/nologin "$XSS_USER"; then
    fail "setup: an ordinary user for the daemon"
    exit 1
  fi
  XSS_AS=(runuser -u "$XSS_USER" --)
fi

# The program as installed, where the daemon's user can run it.
mkdir -p "$XSS_HOME/bin" "$XSS_HOME/.config/vantrel"
cp "$VANTREL_SAVER" "$XSS_HOME/bin/vantrel-saver"
SAVER=$XSS_HOME/bin/vantrel-saver

# Stored settings the options must stand in for: a few bombs over the
# backdrop, with the slideshow.
REGISTRY=$XSS_HOME/.config/vantrel/registry.reg
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Kestrelix\\VantrelScreenSaver]\n"BombCount"=dword:00000004\n"BombSpeed"=dword:00000032\n"ScreenDelay"=dword:00000019\n"BombsOnly"=dword:00000000\n"BombBackdrop"=dword:00000001\n' \
  >"$REGISTRY"
cp "$REGISTRY" "$NATIVE_TMP/before.reg"

# The command as the description gives it, and with the options its
# controls give at the far ends: the most bombs, bombs only, no backdrop,
# the frame rate shown.
x() { xmllint --xpath "$1" "$XML" 2>/dev/null; }
command=$(x 'string(//command/@arg)')
count_arg=$(x "string(//number[starts-with(@arg,'--bomb-count ')]/@arg)")
options="${count_arg//%/$(x "string(//number[starts-with(@arg,'--bomb-count ')]/@high)")}"
options+=" $(x "string(//boolean[@_label='Bombs only']/@arg-set)")"
options+=" $(x "string(//boolean[@_label='Bomb backdrop']/@arg-unset)")"
options+=" $(x "string(//boolean[@_label='Show frame rate']/@arg-set)")"
log "the options: $options"
cat >"$XSS_HOME/.xscreensaver" <<EOF
timeout:	1:00:00
cycle:		1:00:00
lock:		False
fade:		False
unfade:		False
splash:		False
dpmsEnabled:	False
grabDesktopImages: False
mode:		one
selected:	1
programs:	$SAVER $command	\\n\\
		$SAVER $command $options	\\n
EOF
[[ -n $XSS_USER ]] && chown -R "$XSS_USER" "$XSS_HOME"

bg_start xss xss_env xscreensaver -no-splash -verbose
if ! wait_until 30 xss_command -version; then
  fail "the XScreenSaver daemon starts" "$(bg_output xss | tail -n 20)"
  exit 1
fi

# --- what is on the screen -----------------------------------------------------

ROOT=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
read -r SCREEN_W SCREEN_H < <(xsession_screen_size)

# Prints "green black grey corner-white" pixel counts of the whole screen
# (the corner: the bottom-left 120 x 40, where the frame rate goes).
screen_counts() {
  local shot=$NATIVE_TMP/screen.ppm
  xprobe shot "$((ROOT))" "$shot" 2>/dev/null || { echo "0 0 0 0"; return; }
  local corner; corner=$(convert "$shot" -crop "120x40+0+$((SCREEN_H - 40))" -format %c histogram:info:- |
    awk '/#FFFFFF/ { n += $1 } END { print n + 0 }')
  convert "$shot" -format %c histogram:info:- | awk -v green="$BOMB_GREEN" -v corner="$corner" '
    { n = $1 + 0; hex = $3 }
    hex == green { g += n; next }
    hex == "#000000" { b += n; next }
    { r = substr(hex, 2, 2); gg = substr(hex, 4, 2); bb = substr(hex, 6, 2); if (r == gg && gg == bb) grey += n }
    END { print g + 0, b + 0, grey + 0, corner }'
}

# activation NAME HOW...: activates the daemon (HOW is the xscreensaver-command
# switch), waits for the module to start and leaves its pid in MODULE.
MODULE=
activation() {
  local name=$1; shift
  MODULE=
  xss_command "$@"
  _module_up() { [[ -n $(module_pids) ]]; }
  if wait_until "$NATIVE_APPEAR_TIMEOUT" _module_up; then
    MODULE=$(module_pids | head -n1)
    pass "$name: the daemon starts the module ($(tr '\0' ' ' <"/proc/$MODULE/cmdline" | sed "s|$XSS_HOME/bin/||"))"
  else
    fail "$name: the daemon starts the module" "$(bg_output xss | tail -n 20)"
    return 1
  fi
}

deactivation() {
  local name=$1
  xss_command -deactivate
  _module_gone() { [[ -z $(module_pids) ]] && ! kill -0 "$MODULE" 2>/dev/null; }
  if wait_until "$NATIVE_EXIT_TIMEOUT" _module_gone; then
    pass "$name: deactivation ends the module"
  else
    fail "$name: deactivation ends the module" "still running: $(module_pids | tr '\n' ' ')"
  fi
}

# Runs in which the module was seen drawing what it was given: the settings
# file is judged only after such runs, or "left as it was" would pass for a
# module that never ran.
DRAWN_RUNS=0

# --- as the description starts it: the stored settings ---------------------------

# The stored four bombs over the backdrop; the most green any look sees.
BASE_GREEN=0
_backdrop_and_bombs() {
  read -r green black grey corner < <(screen_counts)
  ((green > BASE_GREEN)) && BASE_GREEN=$green
  ((green > 0 && grey > SCREEN_W * SCREEN_H / 4))
}
if activation "as described" -select 1; then
  if wait_until "$NATIVE_APPEAR_TIMEOUT" _backdrop_and_bombs; then
    # A few more looks, for the most the few stored bombs ever cover.
    for _ in 1 2 3 4 5; do _backdrop_and_bombs; sleep 0.3; done
    DRAWN_RUNS=$((DRAWN_RUNS + 1))
    pass "as described: the stored settings, a few bombs over the backdrop (at most $BASE_GREEN green pixels)"
  else
    fail "as described: the stored settings, a few bombs over the backdrop" "counts: $(screen_counts)"
  fi
  deactivation "as described"
fi

# --- with the options ------------------------------------------------------------------

_many_over_black() {
  read -r green black grey corner < <(screen_counts)
  ((green > 4 * BASE_GREEN && green > SCREEN_W * SCREEN_H / 100 && black > grey))
}
if activation "with the options" -activate; then
  if wait_until "$NATIVE_APPEAR_TIMEOUT" _many_over_black; then
    DRAWN_RUNS=$((DRAWN_RUNS + 1))
    pass "with the options: many more bombs over black ($(screen_counts | cut -d' ' -f1) green pixels)"
  else
    fail "with the options: many more bombs over black" "green black grey corner: $(screen_counts)," \
      "stored settings' most green: $BASE_GREEN"
  fi
  _frame_rate_shown() { (($(screen_counts | cut -d' ' -f4) > 40)); }
  if wait_until "$NATIVE_APPEAR_TIMEOUT" _frame_rate_shown; then
    pass "with the options: the frame rate in the bottom-left corner"
  else
    fail "with the options: the frame rate in the bottom-left corner" "counts: $(screen_counts)"
  fi
  deactivation "with the options"
fi

if ((DRAWN_RUNS < 2)); then
  fail "the settings file is as it was" "nothing to judge: the module was seen drawing in $DRAWN_RUNS of 2 runs"
elif [[ -n $(module_pids) ]]; then
  fail "the settings file is as it was" "the module still runs: $(module_pids | tr '\n' ' ')"
elif cmp -s "$NATIVE_TMP/before.reg" "$REGISTRY"; then
  pass "the settings file is as it was"
else
  fail "the settings file is as it was" "$(diff "$NATIVE_TMP/before.reg" "$REGISTRY")"
fi

report_summary
