#!/usr/bin/env bash
# scripts/ctest-summary.py against real ctest runs of a made-up project: a
# pass, a failure, a GoogleTest-style skip and a skip by exit code. A skip
# must count neither as passed nor as failed, and be named with its reason.
# Usage: ctest_summary_test.sh SOURCE_DIR
set -uo pipefail
summary=$1/scripts/ctest-summary.py
source "$(dirname "$0")/../support/script_test.sh"

mkdir "$work/src"
cat >"$work/src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(summary NONE)
enable_testing()
add_test(NAME passes COMMAND sh -c "echo fine")
add_test(NAME fails COMMAND sh -c "echo broken; exit 1")
add_test(NAME Suite.SkipsLikeGoogleTest COMMAND sh -c
  "printf 'x.cpp:12: Skipped\\nroot writes read-only files\\n\\n[  SKIPPED ] Suite.SkipsLikeGoogleTest (0 ms)\\n'")
set_tests_properties(Suite.SkipsLikeGoogleTest PROPERTIES SKIP_REGULAR_EXPRESSION "[[]  SKIPPED []]")
add_test(NAME skips_by_code COMMAND sh -c "echo no /dev/fuse here; exit 77")
set_tests_properties(skips_by_code PROPERTIES SKIP_RETURN_CODE 77)
CMAKE
cmake -S "$work/src" -B "$work/b" >/dev/null 2>&1 || { echo "FAIL: cmake"; exit 1; }
ctest --test-dir "$work/b" --output-junit "$work/j.xml" >"$work/log" 2>&1
mapfile -t out < <(python3 "$summary" "$work/log" "$work/j.xml")
[ "${out[0]:-}" = "1 1 2" ] || fail "figures for a pass, a failure and two skips: '${out[0]:-}' (log: $(cat "$work/log"))"
printf '%s\n' "${out[@]:1}" | grep -qx 'Suite.SkipsLikeGoogleTest: root writes read-only files' ||
  fail "the GoogleTest skip is not named with its message: ${out[*]}"
printf '%s\n' "${out[@]:1}" | grep -qx 'skips_by_code: no /dev/fuse here' ||
  fail "the skip by exit code is not named with what it printed: ${out[*]}"
[ ${#out[@]} -eq 3 ] || fail "lines other than the figures and the two skips: ${out[*]}"

# Without the junit file the skips are still counted, by the log alone.
mapfile -t out < <(python3 "$summary" "$work/log" "$work/missing.xml")
[ "${out[0]:-}" = "1 1 2" ] || fail "figures without the junit file: '${out[0]:-}'"

# A ctest that broke before its summary is one failure; one that found no
# test is nothing.
echo "Segmentation fault" >"$work/broken"
[ "$(python3 "$summary" "$work/broken" "$work/none.xml")" = "0 1 0" ] || fail "a broken run is not a failure"
echo "No tests were found!!!" >"$work/empty"
[ "$(python3 "$summary" "$work/empty" "$work/none.xml")" = "0 0 0" ] || fail "a run without tests counts"

finish "ctest-summary" "passes, failures and skips counted apart, each skip named with its reason"
