#!/usr/bin/env bash
# The saver's answer to command lines that start no window: switches it does
# not know and previews without a usable window end at once with -1 (255 as a
# process status); the password change ends with 0 even where the system
# offers no password dialog.
set -uo pipefail
# shellcheck source=tests/lib/e2e.sh
source "$(dirname "$0")/../lib/e2e.sh"
e2e_begin

expect_exit() {
  local want=$1; shift
  local got
  got=$(saver_exit_code "$@")
  if [[ $got == "$want" ]]; then
    pass "'$*' exits with $want"
  else
    fail "'$*' exits with $want" "got: $got" "windows: $(probe find)"
  fi
}

# Unknown switches, a digit where the letter belongs among them.
expect_exit 255 /x
expect_exit 255 '/?'
expect_exit 255 /1

# Previews that name no window: zero, nothing, a window that does not exist,
# and numbers that only read as zero (hex, a colon, a sign).
expect_exit 255 /p 0
expect_exit 255 /p
expect_exit 255 /p 123456
expect_exit 255 /p 0x4D2
expect_exit 255 /p:1234
expect_exit 255 /p -1234

# Wine has no screen-saver password dialog worth the name; whatever it does,
# the run must end (saver_exit_code kills it and reports "timeout" otherwise).
expect_exit 0 /a
expect_exit 0 /a 123456

# None of these may leave a window behind.
if no_saver_window; then
  pass "no saver window is left behind"
else
  fail "no saver window is left behind" "$(probe find)"
fi

report_summary
