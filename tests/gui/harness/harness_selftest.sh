#!/usr/bin/env bash
# The harness itself: paths, per-test files, and that a test script which fails
# or simply ends leaves none of its programs running and says why it failed.
source "${GUI_HARNESS:?run this test through ctest}"
app=$GUI_PROGRAM_guidriver_testapp

# Windows paths: the same file seen through Wine.
f=$(gui_file "sub dir/probe.txt" "probe")
[ "$(cat "$f")" = probe ] || gui_fail "gui_file did not write its content"
wp=$(gui_winpath "$f")
case "$wp" in *'\sub dir\probe.txt') ;; *) gui_fail "gui_winpath gave $wp" ;; esac
back=$(wine winepath -u "$wp" 2>/dev/null </dev/null)
[ "$(realpath -m "$back")" = "$(realpath "$f")" ] || gui_fail "$wp maps back to $back, not $f"
printf 'contents\r\n' | gui_file stdin.txt >/dev/null
[ "$(od -An -c "$GUI_WORK/stdin.txt" | tr -d ' \n')" = 'contents\r\n' ] || gui_fail "gui_file changed stdin's bytes"
cp_exe=$(gui_copy_program "$app")
[ "$cp_exe" = "$GUI_WORK/bin/$(basename "$app")" ] && cmp -s "$cp_exe" "$app" || gui_fail "gui_copy_program gave $cp_exe"

# A nested test that fails while its program runs: clear message, status 1,
# a screenshot, and the program is ended by the harness, not left behind.
inner=$(gui_file inner_fail.sh <<'EOF'
source "$GUI_HARNESS"
gui_start app "$1"
gui_do wait --window "Driver Test App" >/dev/null
echo "pid=$GUI_PID_app"
gui_script <<'EOD'
check --window "Driver Test App" --id 1010 --text-is "not the status" --timeout 0.5
EOD
echo "not reached"
EOF
)
out=$(GUI_TEST_NAME=inner_fail bash "$inner" "$app" 2>&1); rc=$?
[ $rc -eq 1 ] || gui_fail "a failing inner test returned $rc:
$out"
gui_expect_grep 'FAIL \[inner_fail\]: driver script .* \(status 1; reason above' "$out"
gui_expect_grep 'text-is: wanted "not the status", found "ready"' "$out"
grep -q 'not reached' <<<"$out" && gui_fail "the inner test went on after the failure"
pid=$(sed -nE 's/^pid=([0-9]+)$/\1/p' <<<"$out")
[ -n "$pid" ] || gui_fail "the inner test printed no pid:
$out"
kill -0 "$pid" 2>/dev/null && gui_fail "the failed inner test left its program $pid running"
ls "$SCREENSHOT_DIR"/inner_fail-fail-*.png >/dev/null 2>&1 || gui_fail "the failed inner test left no screenshot"
rm -f "$SCREENSHOT_DIR"/inner_fail-*.png

# gui_fail from the script itself, and gui_wait_exit on a program that keeps running.
inner=$(gui_file inner_hang.sh <<'EOF'
source "$GUI_HARNESS"
gui_start app "$1"
gui_do wait --window "Driver Test App" >/dev/null
echo "pid=$GUI_PID_app"
gui_wait_exit app 1
EOF
)
out=$(GUI_TEST_NAME=inner_hang bash "$inner" "$app" 2>&1); rc=$?
[ $rc -eq 1 ] || gui_fail "gui_wait_exit on a running program returned $rc"
gui_expect_grep 'FAIL \[inner_hang\]: app \(pid [0-9]+\) is still running after 1 s' "$out"
pid=$(sed -nE 's/^pid=([0-9]+)$/\1/p' <<<"$out")
kill -0 "$pid" 2>/dev/null && gui_fail "the inner test left its program $pid running"
rm -f "$SCREENSHOT_DIR"/inner_hang-*.png

# After the inner tests' clean-up (wineserver -k and restart) Wine works at once
# and a captured driver run is not held open by Wine's services.
start=$(date +%s%N)
out=$(gui_driver echo alive)
ms=$((($(date +%s%N) - start) / 1000000))
[ "$out" = alive ] || gui_fail "the driver does not run after a clean-up: $out"
[ $ms -lt 10000 ] || gui_fail "a captured driver run took $ms ms after a clean-up"
echo "harness self-test passed"
