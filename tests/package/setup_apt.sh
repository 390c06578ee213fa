#!/usr/bin/env bash
# The set-up against a package index that cannot be fetched and a package
# that does not exist: the first is a warning and the install goes on, the
# second fails the set-up with one line naming the package. Uses a
# throw-away sources entry and Debian's small `hello` package, and puts the
# machine back as it was whatever happens. Needs root (it changes apt's
# sources) and the native tree (the set-up brings it up to date).
set -uo pipefail
# shellcheck source=tests/lib/common.sh
source "$(dirname "$0")/../lib/common.sh"

if ((EUID != 0)); then
  echo "skipped: changing apt's sources needs root"
  echo "0 passed, 0 failed"
  exit 0
fi

TMP=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-apt.XXXXXX")
SOURCES=/etc/apt/sources.list.d/vantrel-test-$$.list
MISSING_REPO=$TMP/no-such-repository
EXTRA=hello
had_extra=0
[[ $(dpkg-query -W -f='${Status}' "$EXTRA" 2>/dev/null) == "install ok installed" ]] && had_extra=1

restore() {
  rm -f "$SOURCES"
  if ((!had_extra)); then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y --purge "$EXTRA" >/dev/null 2>&1
  fi
  # The lists apt keeps for the entry went with it; a fresh update leaves
  # nothing of the test behind.
  apt-get update >/dev/null 2>&1
  rm -rf "$TMP"
}
trap restore EXIT
trap 'exit 130' INT TERM

echo "deb [trusted=yes] file:$MISSING_REPO ./" >"$SOURCES"
if apt-get update >/dev/null 2>&1; then
  fail "setup: apt-get update fails with a missing file: repository"
fi
# The case at hand needs a package to install.
if ((had_extra)); then
  DEBIAN_FRONTEND=noninteractive apt-get remove -y "$EXTRA" >/dev/null 2>&1
fi

VANTREL_SETUP_EXTRA_PACKAGES=$EXTRA "$VANTREL_ROOT/setup.sh" native >"$TMP/out" 2>"$TMP/err"
rc=$?
if ((rc == 0)) && grep -q "warning: apt-get update failed.*$MISSING_REPO" "$TMP/err" &&
  [[ $(dpkg-query -W -f='${Status}' "$EXTRA" 2>/dev/null) == "install ok installed" ]] &&
  grep -q '^==> native build' "$TMP/out"; then
  pass "a failing index is a warning naming it; the set-up still installs and builds"
else
  fail "a failing index is a warning naming it; the set-up still installs and builds" \
    "status $rc" "stderr: $(cat "$TMP/err")" "stdout: $(tail -n 5 "$TMP/out")"
fi

bogus=vantrel-no-such-package-$$
VANTREL_SETUP_EXTRA_PACKAGES=$bogus "$VANTREL_ROOT/setup.sh" --packages-only native >"$TMP/out" 2>"$TMP/err"
rc=$?
errors=$(grep -v 'warning: apt-get update failed' "$TMP/err")
if ((rc != 0)) && [[ $(wc -l <<<"$errors") == 1 ]] &&
  grep -q "^setup.sh: could not install $bogus: .*$bogus" <<<"$errors"; then
  pass "a package that does not exist fails the set-up, one line naming it with apt's reason"
else
  fail "a package that does not exist fails the set-up, one line naming it with apt's reason" \
    "status $rc" "stderr: $(cat "$TMP/err")"
fi

report_summary
