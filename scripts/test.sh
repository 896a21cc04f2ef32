#!/usr/bin/env bash
# Runs every test: installs what is missing, checks that every package and
# command the tests use is there, builds the trees, runs the native
# tests, the Windows-side tests under Wine and the GUI tests, prints a summary.
# Usage: scripts/test.sh [--extended]    (--extended adds the fuzz runs)
# TESTS=REGEX limits both ctest runs to matching test names.
# SKIP_INSTALL=1 installs nothing (the check still runs).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
extended=0
[ "${1:-}" = "--extended" ] && extended=1

# Every package and command the suites use must be there before anything is
# built: a test that finds its tool missing must never be what tells.
# SKIP_INSTALL=1 leaves the machine as it is and only checks.
if [ "${SKIP_INSTALL:-0}" != 1 ]; then
  "$root/scripts/install-deps.sh" || { echo "0 passed, 1 failed"; exit 1; }
fi
"$root/scripts/check-deps.sh" || { echo "0 passed, 1 failed"; exit 1; }
if ! "$root/scripts/build.sh" native windows release; then
  echo "build failed"; echo "0 passed, 1 failed"; exit 1
fi

filter=()
[ -n "${TESTS:-}" ] && filter=(-R "$TESTS")
passed=0; failed=0
count() {  # reads a ctest log, adds its figures
  local line total nfail
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$line" ]; then
    if grep -q 'No tests were found' "$1"; then return; fi
    failed=$((failed + 1)); return
  fi
  nfail=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + total - nfail)); failed=$((failed + nfail))
}

echo "== native tests"
ctest --test-dir build/native --output-on-failure -j 2 "${filter[@]}" 2>&1 | tee build/native-ctest.log
count build/native-ctest.log

echo "== Windows-side and GUI tests under Wine"
# shellcheck source=wine-session.sh
source "$root/scripts/wine-session.sh"
wine_session_start "$root/build/windows"
trap wine_session_stop EXIT
ctest --test-dir build/windows --output-on-failure -j 1 "${filter[@]}" 2>&1 | tee build/windows-ctest.log
count build/windows-ctest.log
# Native tests that run Windows programs through Wine skip in the first run
# (no session yet): run them again inside it, where a skip is a failure.
if [ -z "${TESTS:-}" ]; then
  ctest --test-dir build/native --output-on-failure -R 'ThroughWine' 2>&1 | tee build/native-wine-ctest.log
  count build/native-wine-ctest.log
  if grep -qE 'Skipped|Not Run' build/native-wine-ctest.log; then
    echo "a test that needs the Wine session skipped inside it"; failed=$((failed + 1))
  fi
fi
wine_session_stop
trap - EXIT

if [ $extended -eq 1 ]; then
  echo "== fuzzing (60 s per target)"
  if "$root/scripts/build.sh" fuzz && [ -x "$root/scripts/fuzz.sh" ]; then
    if "$root/scripts/fuzz.sh" 60; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  else
    failed=$((failed + 1))
  fi
fi

echo
echo "$passed passed, $failed failed"
[ $failed -eq 0 ] && [ $passed -gt 0 ]
