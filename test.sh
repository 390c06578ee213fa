#!/usr/bin/env bash
# Builds everything and runs every test tier; exits nonzero if anything
# failed. The last line is the total: "N passed, N failed", with ", N
# skipped" after it when this machine could not run some tiers.
#
#   native      unit and conformance tests on the headless backend (CTest)
#   native e2e  the real vantrel-saver on an X server (its own Xvfb), driven from outside
#   sanitizer   the same under ASan, UBSan and LSan, the e2e scripts against that
#               program, then a short run of every fuzz target
#   windows     the conformance tests built for Windows, under Wine
#   e2e         the real VantrelSaver.scr under Wine, driven from outside
#   package     the Debian package and the Windows zips, made and looked into;
#               the set-up against a package index that cannot be fetched
#
# The two Windows tiers run once for each Windows build this machine can run:
# the 32-bit one in a 32-bit prefix, the 64-bit one in a 64-bit prefix. Each
# build's tiers share one private X display and one throw-away Wine prefix,
# both removed on the way out whatever happens. A build that cannot run here
# (no 32-bit support in the kernel, no Wine for it) is reported as skipped,
# with the reason, and never counted as passed.
set -uo pipefail
cd "$(dirname "$0")" || exit 1
# Nothing here reads input; a closed or terminal stdin must not reach Wine.
exec </dev/null

source tests/lib/common.sh
source tests/lib/xsession.sh
source tests/lib/machine.sh

TOTAL_PASSED=0
TOTAL_FAILED=0
TOTAL_SKIPPED=0
TIER_LINES=()
LOG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-test.XXXXXX")

TIER_PID=
# Seconds the whole run may take; each tier gets at most what is left of it.
TEST_BUDGET=${TEST_BUDGET:-2400}

finish() {
  xsession_cleanup
  rm -rf "$LOG_DIR"
}
# A signal stops the running tier first (its own traps then remove whatever
# it started), then the session goes.
interrupted() {
  echo "test.sh: interrupted" >&2
  [[ -n $TIER_PID ]] && kill -TERM "$TIER_PID" 2>/dev/null && wait "$TIER_PID" 2>/dev/null
  exit 130
}
trap finish EXIT
trap interrupted INT TERM

# record NAME STATUS PASSED FAILED SECONDS [SKIPPED [NOTE]]: adds a tier's
# counts to the total. A tier that failed without saying how many of its
# cases failed (it crashed, timed out or printed no summary) counts as one
# failure, and so does one that ended well but counted nothing: a tier that
# reports no case tested nothing, and must not pass for one that did.
record() {
  local name=$1 status=$2 passed=$3 failed=$4 seconds=$5 skipped=${6:-0} note=${7:-}
  if ((status != 0 && failed == 0)); then failed=1; fi
  if ((status == 0 && passed == 0 && failed == 0 && skipped == 0)); then
    failed=1
    note=${note:-no count: the tier reported no case}
  fi
  TOTAL_PASSED=$((TOTAL_PASSED + passed))
  TOTAL_FAILED=$((TOTAL_FAILED + failed))
  TOTAL_SKIPPED=$((TOTAL_SKIPPED + skipped))
  local line
  line=$(printf '%-42s %4d passed, %3d failed' "$name" "$passed" "$failed")
  ((skipped)) && line+=$(printf ', %d skipped' "$skipped")
  line+=$(printf '  %4ds' "$seconds")
  [[ -n $note ]] && line+="  ($note)"
  TIER_LINES+=("$line")
}

# record_not_run REASON NAME...: tiers that could not run for a fault of the
# run (a build that failed, a session that would not start): one failure each.
record_not_run() {
  local reason=$1 name
  shift
  for name in "$@"; do record "$name" 1 0 1 0 0 "not run: $reason"; done
}

# record_skip NAME COUNT REASON: COUNT tiers that this machine cannot run.
# They count as neither passed nor failed.
record_skip() {
  local name=$1 count=$2 reason=$3
  TOTAL_SKIPPED=$((TOTAL_SKIPPED + count))
  TIER_LINES+=("$(printf '%-42s skipped: %s' "$name" "$reason")")
}

# run_logged LIMIT COMMAND...: runs COMMAND for at most LIMIT seconds, its
# output kept in $LOG_DIR/tier.log and shown as it comes; sets TIER_STATUS.
# The command runs in the background so that a signal to this script is acted
# on at once rather than when the command ends (the trap passes it on).
# timeout gives the command a process group of its own and, when time is up
# or a signal comes, ends the whole group: ctest's test processes and a
# script's Wine programs too, not just the command itself.
run_logged() {
  local limit=$1; shift
  local log=$LOG_DIR/tier.log
  : >"$log"
  # Hung tiers must not add up past the time CI allows for the whole run.
  local left=$((TEST_BUDGET - SECONDS))
  if ((left < limit)); then limit=$left; fi
  if ((limit <= 0)); then
    echo "(not run: the time budget of $TEST_BUDGET s is used up)"
    TIER_STATUS=124
    return 0
  fi
  timeout -k 15 "$limit" "$@" >"$log" 2>&1 &
  TIER_PID=$!
  tail -n +1 -s 0.2 -f --pid="$TIER_PID" "$log" &
  local shower=$!
  wait "$TIER_PID"
  TIER_STATUS=$?
  TIER_PID=
  wait "$shower"
  ((TIER_STATUS == 124)) && echo "(timed out after $limit s)"
  return 0
}

# run_tier NAME TIMEOUT COMMAND...: runs COMMAND and counts the cases from its
# last "N passed, N failed" line (", N skipped" may follow).
run_tier() {
  local name=$1 limit=$2; shift 2
  local started=$SECONDS
  printf '\n===== %s =====\n' "$name"
  run_logged "$limit" "$@"
  local counts passed=0 failed=0 skipped=0
  counts=$(tr -d '\r' <"$LOG_DIR/tier.log" | grep -E '^[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$' | tail -n1)
  if [[ -n $counts ]]; then
    read -r passed _ failed _ skipped _ <<<"${counts//,/}"
    skipped=${skipped:-0}
  fi
  # A script whose environment cannot host it (a true limit of the machine,
  # never something the set-up could mend) ran nothing: it says why in a
  # "skipped: ..." line.
  local why
  why=$(tr -d '\r' <"$LOG_DIR/tier.log" | sed -n 's/^skipped: //p' | tail -n1)
  if ((TIER_STATUS == 0 && passed == 0 && failed == 0 && skipped == 0)) && [[ -n $why ]]; then
    record_skip "$name" 1 "$why"
    return
  fi
  record "$name" "$TIER_STATUS" "$passed" "$failed" $((SECONDS - started)) "$skipped"
}

# CTest has its own summary: "95% tests passed, 1 tests failed out of 20",
# in which a skipped test counts among the passed; the skipped ones are
# listed under "The following tests did not run:" and are taken out.
# A unit or conformance test takes milliseconds; one that needs a minute hangs.
run_ctest() {
  local name=$1 tree=${2:-build} started=$SECONDS
  printf '\n===== %s =====\n' "$name"
  run_logged 600 ctest --test-dir "$tree" --output-on-failure --no-tests=error \
    --parallel "$(nproc)" --timeout 60
  local line passed=0 failed=0 total skipped
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$LOG_DIR/tier.log" | tail -n1)
  skipped=$(sed -n '/^The following tests did not run:/,/^$/p' "$LOG_DIR/tier.log" | grep -cE '\((Skipped|Disabled)\)$')
  if [[ -n $line ]]; then
    failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((total - failed - skipped))
  else
    skipped=0
  fi
  record "$name" "$TIER_STATUS" "$passed" "$failed" $((SECONDS - started)) "$skipped"
}

summary() {
  printf '\n===== summary =====\n'
  printf '%s\n' "${TIER_LINES[@]}"
  if ((TOTAL_SKIPPED)); then
    printf '%d passed, %d failed, %d skipped\n' "$TOTAL_PASSED" "$TOTAL_FAILED" "$TOTAL_SKIPPED"
  else
    printf '%d passed, %d failed\n' "$TOTAL_PASSED" "$TOTAL_FAILED"
  fi
  ((TOTAL_FAILED == 0))
}

started_all=$SECONDS
printf '===== setup =====\n'
if ! ./setup.sh --packages-only native windows sanitize tests; then
  record "setup: packages" 1 0 1 $((SECONDS - started_all))
  summary
  exit 1
fi

# Each build is its own step: a broken native build must not hide what the
# Windows tiers have to say, and a tier never runs on binaries left over from
# an earlier, successful build. A build that fails fails every tier it
# carries, each on a line of its own, so that the count says how much went
# untested.
build_ok() {
  local name=$1 step=$2 started=$SECONDS
  printf '\n===== build: %s =====\n' "$name"
  if ./setup.sh --build-only "$step"; then return 0; fi
  record "build: $name" 1 0 1 $((SECONDS - started))
  return 1
}

# The tiers, by the names they are reported under.
NATIVE_SCRIPTS=(tests/e2e/native_*.sh)
WINDOWS_SCRIPTS=()
for script in tests/e2e/*.sh; do
  [[ $(basename "$script") == native_* ]] || WINDOWS_SCRIPTS+=("$script")  # not the native tier's
done
# native_e2e_tiers LABEL: the native end-to-end tiers under LABEL; the
# XScreenSaver script installs a program of its own and runs only with the
# ordinary build.
native_e2e_tiers() {
  local label=$1 script
  for script in "${NATIVE_SCRIPTS[@]}"; do
    [[ $label != "native e2e" && $(basename "$script") == native_xscreensaver.sh ]] && continue
    printf '%s\n' "$label: $(basename "$script" .sh)"
  done
}
# windows_tiers LABEL: the tiers of one Windows build.
windows_tiers() {
  local label=$1 script
  printf '%s\n' "windows $label: conformance under Wine"
  for script in "${WINDOWS_SCRIPTS[@]}"; do printf '%s\n' "e2e $label: $(basename "$script" .sh)"; done
}
SANITIZER_FUZZ_TIER="fuzz: every target, 30 s each"
PACKAGE_TIER="package: .deb and both .zip"
SETUP_APT_TIER="package: set-up with a bad index"

# --- native tiers -------------------------------------------------------------
# The end-to-end scripts of the X11 program get a display of their own, which
# goes again before the next tier; no Wine is involved.
# run_native_e2e LABEL: with a label other than "native e2e", against
# $VANTREL_SAVER as the caller exported it (the sanitizer build's).
run_native_e2e() {
  local label=$1 name script
  export VANTREL_NATIVE_SESSION=1
  while IFS= read -r name; do
    script=tests/e2e/${name#"$label: "}.sh
    run_tier "$name" 300 "$script"
  done < <(native_e2e_tiers "$label")
  unset VANTREL_NATIVE_SESSION
}

# run_in_x_session LABEL: the native end-to-end tiers under LABEL with a
# private Xvfb of their own.
run_in_x_session() {
  local label=$1
  printf '\n===== %s: X session =====\n' "$label"
  if xsession_start_display; then
    run_native_e2e "$label"
  else
    mapfile -t names < <(native_e2e_tiers "$label")
    record_not_run "no X server (Xvfb did not start)" "${names[@]}"
  fi
  xsession_cleanup
  unset DISPLAY
}

native_built=0
if build_ok native native; then
  native_built=1
  run_ctest "native: unit + conformance"
  run_in_x_session "native e2e"
else
  mapfile -t names < <(native_e2e_tiers "native e2e")
  record_not_run "the native build failed" "native: unit + conformance" "${names[@]}" "$SETUP_APT_TIER"
fi

# --- sanitizer and fuzz tiers -------------------------------------------------
# The same native tests built with AddressSanitizer, UndefinedBehaviorSanitizer
# and LeakSanitizer (clang, build-asan/): any report fails its test. Then a
# short libFuzzer run of every parser target; findings fail the tier.
mapfile -t sanitizer_e2e < <(native_e2e_tiers "sanitizer e2e")
if build_ok sanitizer sanitize; then
  run_ctest "sanitizer: unit + conformance" build-asan
  # The end-to-end scripts once more, the sanitized program under them: a
  # report ends it with a status they do not expect. Their helpers come
  # from the ordinary build.
  if ((native_built)); then
    export VANTREL_SAVER=$VANTREL_ROOT/build-asan/vantrel-saver
    run_in_x_session "sanitizer e2e"
    unset VANTREL_SAVER
  else
    record_not_run "the native build failed" "${sanitizer_e2e[@]}"
  fi
  run_tier "$SANITIZER_FUZZ_TIER" 900 tests/fuzz/campaign.sh -t "${FUZZ_SECONDS:-30}" all
else
  record_not_run "the sanitizer build failed" "sanitizer: unit + conformance" "${sanitizer_e2e[@]}" \
    "$SANITIZER_FUZZ_TIER"
fi

# --- Windows tiers: per build, one private display and Wine prefix ------------
# run_windows_tiers ARCH TREE LABEL: the conformance tests and every e2e
# script against TREE's programs, in the running session.
run_windows_tiers() {
  local arch=$1 tree=$2 label=$3
  export VANTREL_SESSION=1 VANTREL_WIN_ARCH=$arch
  export VANTREL_SCR=$VANTREL_ROOT/$tree/VantrelSaver.scr
  export VANTREL_PROBE=$VANTREL_ROOT/$tree/tests/e2e/e2e_probe.exe

  local conformance_exe=$tree/tests/conformance/conformance.exe
  if [[ -f $conformance_exe ]]; then
    # The monitor cases check that Wine sees the X server's one screen.
    local w h
    read -r w h < <(xsession_screen_size)
    VANTREL_EXPECT_MONITORS=${w}x$h+0+0 run_tier "windows $label: conformance under Wine" 300 wine "$conformance_exe"
  else
    echo "missing: $conformance_exe"
    record "windows $label: conformance under Wine" 1 0 1 0
  fi

  local script
  for script in "${WINDOWS_SCRIPTS[@]}"; do
    run_tier "e2e $label: $(basename "$script" .sh)" 300 "$script"
  done
  unset VANTREL_SESSION VANTREL_WIN_ARCH VANTREL_SCR VANTREL_PROBE
}

windows_built=0
if build_ok Windows windows; then
  windows_built=1
  for arch in win32 win64; do
    if [[ $arch == win32 ]]; then tree=build-win label=32-bit; else tree=build-win64 label=64-bit; fi
    mapfile -t names < <(windows_tiers "$label")
    if ! machine_wine_runs "$arch"; then
      record_skip "windows $label ($tree/): every tier" "${#names[@]}" "$MACHINE_WHY"
      continue
    fi
    if ((SECONDS >= TEST_BUDGET)); then
      record_not_run "out of time" "${names[@]}"
      continue
    fi
    printf '\n===== Wine session, %s =====\n' "$label"
    if xsession_start_display && xsession_start_wine "$arch"; then
      run_windows_tiers "$arch" "$tree" "$label"
    else
      record_not_run "the Wine session did not start" "${names[@]}"
    fi
    xsession_cleanup
    unset DISPLAY
  done
else
  for label in 32-bit 64-bit; do
    mapfile -t names < <(windows_tiers "$label")
    record_not_run "the Windows build failed" "${names[@]}"
  done
fi

# --- packages: both trees' package targets ----------------------------------------
if ((native_built && windows_built)); then
  run_tier "$PACKAGE_TIER" 300 tests/package/packages.sh
else
  record_not_run "a build it packages failed" "$PACKAGE_TIER"
fi
if ((native_built)); then
  run_tier "$SETUP_APT_TIER" 600 tests/package/setup_apt.sh
fi

printf '\nall tiers took %d s\n' $((SECONDS - started_all))
summary
