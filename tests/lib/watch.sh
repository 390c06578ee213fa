# The watcher (vantrel-saver --watch) for the end-to-end scripts of every
# desktop: its settings in a registry file of the test's own, the watcher in
# the background with its log, and the savers it starts. Knows nothing of
# any compositor: a script that must run the watcher as its session's user
# puts the command prefix for that in WATCH_RUN (e.g. WATCH_RUN=(_exec_as_user)
# or (setpriv ... env -i VAR=...)); it must exec, so that the pid bg_start
# records is the watcher's own. Source it after tests/lib/common.sh.
#
#   watch_begin [OWNER]      a folder of its own for the registry file
#                            (WATCH_DIR, handed to OWNER when given: the
#                            watcher watches the folder, the panel writes in
#                            it); exports VANTREL_REGISTRY. BG_DIR must be set.
#   watch_settings ACTIVE TIMEOUT
#                            ScreenSaveActive and ScreenSaveTimeOut as strings,
#                            as Windows stores them; "-" leaves one out. The
#                            file is replaced by rename, as the layer saves.
#   watch_start ID [VAR=VALUE...]
#                            the watcher in the background (bg id ID), with
#                            the variables added to its environment; waits for
#                            its "watching for idle" line. 1 (with its log on
#                            stderr) when it ends or says nothing in time.
#   watch_pid ID             the watcher's pid
#   watch_log ID             what it printed so far
#   watch_savers ID          how many savers it has running now (its own
#                            "vantrel-saver /s" children)
#   watch_saver_pids ID      their pids, one a line
#   watch_wait_savers ID N [SECONDS]
#                            waits until exactly N savers run (default 10 s)
#   watch_no_saver_for ID SECONDS
#                            0 when no saver of ID ran at any time in SECONDS
#   watch_end                ends every watcher started here (SIGTERM, which
#                            also ends their savers), then any saver left;
#                            safe to call twice. Callers run it at teardown.

[[ -n ${VANTREL_LIB_WATCH:-} ]] && return 0
VANTREL_LIB_WATCH=1

# shellcheck source=tests/lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

VANTREL_SAVER=${VANTREL_SAVER:-$VANTREL_ROOT/build/vantrel-saver}
# The watcher has to find its bus, display and settings first: generous.
WATCH_START_TIMEOUT=${WATCH_START_TIMEOUT:-30}
WATCH_RUN=(${WATCH_RUN[@]+"${WATCH_RUN[@]}"})
WATCH_DIR=
WATCH_IDS=()
WATCH_ACTIVE=-
WATCH_TIMEOUT=-

watch_begin() {
  local owner=${1:-}
  WATCH_DIR=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-watch.XXXXXX")
  chmod 755 "$WATCH_DIR"
  [[ -n $owner ]] && chown "$owner" "$WATCH_DIR"
  export VANTREL_REGISTRY=$WATCH_DIR/registry.reg
}

watch_settings() {
  WATCH_ACTIVE=$1
  WATCH_TIMEOUT=$2
  local file=${VANTREL_REGISTRY:?watch_begin first} tmp
  tmp=$(mktemp "$(dirname "$file")/.registry.XXXXXX")
  {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n'
    [[ $WATCH_ACTIVE != - ]] && printf '"ScreenSaveActive"="%s"\n' "$WATCH_ACTIVE"
    [[ $WATCH_TIMEOUT != - ]] && printf '"ScreenSaveTimeOut"="%s"\n' "$WATCH_TIMEOUT"
    printf '\n'
  } >"$tmp"
  chmod 644 "$tmp"
  [[ -n $WATCH_DIR ]] && chown --reference="$WATCH_DIR" "$tmp" 2>/dev/null
  mv -f "$tmp" "$file"
}

watch_pid() { cat "$BG_DIR/$1.pid" 2>/dev/null; }
watch_log() { bg_output "$1"; }

_watch_says_watching() { bg_output "$1" | grep -q 'watching for idle'; }
_watch_started_or_ended() { _watch_says_watching "$1" || bg_done "$1"; }

watch_start() {
  local id=$1; shift
  WATCH_IDS+=("$id")
  bg_start "$id" ${WATCH_RUN[@]+"${WATCH_RUN[@]}"} env VANTREL_REGISTRY="$VANTREL_REGISTRY" "$@" \
    "$VANTREL_SAVER" --watch
  wait_until "$WATCH_START_TIMEOUT" _watch_started_or_ended "$id"
  if _watch_says_watching "$id" && bg_running "$id"; then return 0; fi
  log "watcher $id did not start watching (status $(bg_rc "$id")):"
  bg_output "$id" | sed 's/^/  watcher: /' >&2
  return 1
}

# A saver of the watcher's is a child process whose first argument is /s
# (whatever it then starts for other monitors are its own children).
watch_saver_pids() {
  local parent stat pid rest ppid
  parent=$(watch_pid "$1") || return 0
  [[ -n $parent ]] || return 0
  for stat in /proc/[0-9]*/stat; do
    # The command name in parentheses may hold spaces: take what follows it.
    rest=$(cat "$stat" 2>/dev/null) || continue
    pid=${rest%% *}
    rest=${rest##*) }
    read -r _ ppid _ <<<"$rest"
    [[ $ppid == "$parent" ]] || continue
    if tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | sed -n 2p | grep -qx '/s'; then
      echo "$pid"
    fi
  done
}

watch_savers() { watch_saver_pids "$1" | wc -l; }

_watch_savers_are() { [[ $(watch_savers "$1") == "$2" ]]; }
watch_wait_savers() { wait_until "${3:-10}" _watch_savers_are "$1" "$2"; }
watch_no_saver_for() { stays_true "$2" _watch_savers_are "$1" 0; }

watch_end() {
  local id pid
  for id in ${WATCH_IDS[@]+"${WATCH_IDS[@]}"}; do
    local savers
    savers=$(watch_saver_pids "$id")
    bg_kill "$id"
    for pid in $savers; do kill "$pid" 2>/dev/null || true; done
  done
  WATCH_IDS=()
  [[ -n $WATCH_DIR ]] && rm -rf "$WATCH_DIR"
  WATCH_DIR=
  return 0
}
