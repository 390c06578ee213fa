# A private X display (Xvfb) and a throw-away Wine prefix, for any script that
# drives real windows. Source tests/lib/common.sh first.
#
#   xsession_start_display [WxHxDEPTH]   exports DISPLAY; sets XSESSION_XVFB_PID
#   xsession_start_wine [win32|win64]    exports WINEPREFIX and friends, boots it
#   xsession_cleanup                     stops Wine and Xvfb, removes the prefix
#
# The start functions log what went wrong and return 1; callers decide whether
# that ends them. Callers also install the clean-up themselves (trap ... EXIT),
# because only they know what else must be undone on the way out.

# Sourcing twice must not reset the state of running sessions.
[[ -n ${VANTREL_LIB_XSESSION:-} ]] && return 0
VANTREL_LIB_XSESSION=1

XSESSION_XVFB_PID=
XSESSION_TMP=
XSESSION_PREFIX=
XSESSION_PATH_BEFORE=
XSESSION_SCREEN=${XSESSION_SCREEN:-1024x768x24}

# Xvfb picks a free display itself (-displayfd) so parallel runs and a user's
# own X server never collide; it writes the number once it accepts clients.
xsession_start_display() {
  local screen=${1:-$XSESSION_SCREEN}
  command -v Xvfb >/dev/null || { log "Xvfb is not installed (run ./setup.sh)"; return 1; }
  XSESSION_TMP=${XSESSION_TMP:-$(mktemp -d "${TMPDIR:-/tmp}/vantrel-x.XXXXXX")}
  local numfile=$XSESSION_TMP/display
  : >"$numfile"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset \
    3>"$numfile" >"$XSESSION_TMP/xvfb.log" 2>&1 &
  XSESSION_XVFB_PID=$!
  _xsession_display_ready() {
    grep -q '^[0-9][0-9]*$' "$numfile" || ! kill -0 "$XSESSION_XVFB_PID" 2>/dev/null
  }
  if ! wait_until 30 _xsession_display_ready || ! grep -q '^[0-9][0-9]*$' "$numfile"; then
    sed 's/^/  xvfb: /' "$XSESSION_TMP/xvfb.log" >&2
    log "Xvfb did not start"
    return 1
  fi
  DISPLAY=":$(head -n1 "$numfile")"
  export DISPLAY
  log "Xvfb running on $DISPLAY ($screen, pid $XSESSION_XVFB_PID)"
}

# Screen size of $DISPLAY as "W H".
xsession_screen_size() {
  xdpyinfo 2>/dev/null | sed -n 's/^ *dimensions: *\([0-9]*\)x\([0-9]*\) pixels.*/\1 \2/p' | head -n1
}

# A fresh prefix, quiet and without prompts: the Mono and Gecko installers
# would otherwise open dialogs that nobody answers, and a crashing program
# would wait on the crash dialog instead of ending. A 32-bit prefix (the
# default) runs the 32-bit build; a 64-bit one runs the 64-bit build, through
# the 64-bit loader even where the 32-bit one is installed too: `wine`,
# wineboot and regedit then all reach it through a folder put first on PATH.
xsession_start_wine() {
  local arch=${1:-win32}
  command -v wine >/dev/null || { log "wine is not installed (run ./setup.sh)"; return 1; }
  [[ -n ${DISPLAY:-} ]] || { log "xsession_start_wine needs a display"; return 1; }
  XSESSION_PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wine.XXXXXX")
  export WINEPREFIX=$XSESSION_PREFIX
  export WINEARCH=$arch
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [[ $arch == win64 ]]; then
    local bin=$XSESSION_PREFIX.bin loader=${MACHINE_WINE64:-/usr/lib/wine/wine64} name
    mkdir -p "$bin"
    for name in wine wine-stable wine64; do
      printf '#!/bin/sh\nexec %s "$@"\n' "$loader" >"$bin/$name"
      chmod +x "$bin/$name"
    done
    export WINELOADER=$loader
    XSESSION_PATH_BEFORE=$PATH
    export PATH=$bin:$PATH
  fi
  log "booting Wine prefix $WINEPREFIX"
  local started=$SECONDS
  # The first boot of a prefix is slow (minutes on a small machine); wineboot
  # returns when the prefix is built and wineserver -w when its helpers ended.
  if ! timeout -k 10 300 wineboot -i >"$XSESSION_PREFIX.boot.log" 2>&1; then
    sed 's/^/  wineboot: /' "$XSESSION_PREFIX.boot.log" >&2
    log "wineboot failed"
    return 1
  fi
  timeout -k 10 120 wineserver -w || log "warning: wineserver still busy after boot"
  # Keep one server for the whole session: every later wine start is then
  # quick, and nothing waits for the server's idle time-out.
  wineserver -p
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || { log "cannot write to the Wine registry"; return 1; }
  rm -f "$XSESSION_PREFIX.boot.log"
  log "Wine ready in $((SECONDS - started)) s"
}

xsession_cleanup() {
  if [[ -n $XSESSION_PREFIX ]]; then
    WINEPREFIX=$XSESSION_PREFIX wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$XSESSION_PREFIX timeout 30 wineserver -w >/dev/null 2>&1 || true
    rm -rf "$XSESSION_PREFIX" "$XSESSION_PREFIX.boot.log" "$XSESSION_PREFIX.bin"
    XSESSION_PREFIX=
    if [[ -n $XSESSION_PATH_BEFORE ]]; then
      export PATH=$XSESSION_PATH_BEFORE
      XSESSION_PATH_BEFORE=
      unset WINELOADER
    fi
  fi
  if [[ -n $XSESSION_XVFB_PID ]]; then
    kill "$XSESSION_XVFB_PID" 2>/dev/null || true
    wait "$XSESSION_XVFB_PID" 2>/dev/null || true
    XSESSION_XVFB_PID=
  fi
  if [[ -n $XSESSION_TMP ]]; then
    rm -rf "$XSESSION_TMP"
    XSESSION_TMP=
  fi
}
