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
passed=0; failed=0; skipped=0
skips=()
count() {  # count LOG JUNIT: adds a ctest run's figures; a skip is neither passed nor failed
  local figures p f s
  mapfile -t figures < <(python3 "$root/scripts/ctest-summary.py" "$1" "$2")
  read -r p f s <<<"${figures[0]:-0 1 0}"
  passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + s))
  skips+=("${figures[@]:1}")
}

echo "== native tests"
# The tests that run Windows programs through Wine wait for the Wine session
# below, unless a filter chose the tests.
native_first=("${filter[@]}")
[ -z "${TESTS:-}" ] && native_first=(-E 'ThroughWine')
ctest --test-dir build/native --output-on-failure -j 2 "${native_first[@]}" \
  --output-junit "$root/build/native-ctest.xml" 2>&1 | tee build/native-ctest.log
count build/native-ctest.log build/native-ctest.xml

echo "== Windows-side and GUI tests under Wine"
# shellcheck source=wine-session.sh
source "$root/scripts/wine-session.sh"
wine_session_start "$root/build/windows"
trap wine_session_stop EXIT
ctest --test-dir build/windows --output-on-failure -j 1 "${filter[@]}" \
  --output-junit "$root/build/windows-ctest.xml" 2>&1 | tee build/windows-ctest.log
count build/windows-ctest.log build/windows-ctest.xml
# Native tests that run Windows programs through Wine, inside the session,
# where a skip is a failure.
if [ -z "${TESTS:-}" ]; then
  ctest --test-dir build/native --output-on-failure -R 'ThroughWine' \
    --output-junit "$root/build/native-wine-ctest.xml" 2>&1 | tee build/native-wine-ctest.log
  count build/native-wine-ctest.log build/native-wine-ctest.xml
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
if [ ${#skips[@]} -gt 0 ]; then
  echo "skipped:"
  printf '  %s\n' "${skips[@]}"
fi
echo "$passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ] && [ $passed -gt 0 ]
