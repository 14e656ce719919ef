#!/usr/bin/env bash
# A test program that skips a test fails under CI unless the skip is allow-listed, and says why;
# outside CI the same skip passes and is reported with its reason.
# Usage: skip_policy_check.sh TEST-PROGRAM
set -uo pipefail
program="$1"
unset SV_SKIP_LOG  # these skips are this check's own, not the run's
failures=0
fail() { failures=$((failures + 1)); echo "FAIL $*"; }

out=$(CI=true SV_FORCE_SKIP_CHECK=1 "$program" 2>&1)
code=$?
[ $code -ne 0 ] || fail "under CI an unexplained skip passed"
grep -q '^\[ REFUSED SKIP \] SkipCheck.Forced: SV_FORCE_SKIP_CHECK asked for a skip' <<<"$out" ||
  fail "under CI the refused skip is not named with its reason"

out=$(env -u CI SV_FORCE_SKIP_CHECK=1 "$program" 2>&1)
code=$?
[ $code -eq 0 ] || fail "outside CI a skip failed the program (exit $code)"
grep -q '^\[ SKIP \] SkipCheck.Forced: SV_FORCE_SKIP_CHECK asked for a skip' <<<"$out" ||
  fail "outside CI the skip is not reported with its reason"

out=$(CI=true "$program" 2>&1)
code=$?
[ $code -eq 0 ] || fail "under CI without a skip the program failed (exit $code)"

[ $failures -eq 0 ] && echo "skip policy: refused under CI, reported outside it"
[ $failures -eq 0 ]
