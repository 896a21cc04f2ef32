#!/usr/bin/env bash
# Drives the driver's own test dialog through every driver command, and checks
# that failures are reported with a non-zero status, a message and a screenshot.
source "${GUI_HARNESS:?run this test through ctest}"
app=$GUI_PROGRAM_guidriver_testapp
W='--window "Driver Test App"'     # in driver scripts
WA=(--window "Driver Test App")   # on shell command lines

gui_start app "$app"

# Listing: one record per control with its state.
out=$(gui_do list --window "Driver Test App")
gui_expect_grep '^window hwnd=0x[0-9A-F]+ class="#32770" text="Driver Test App" visible=1 enabled=1 minimized=0 exe="guidriver_testapp.exe"$' "$out"
gui_expect_grep '^id=1003 class=Edit text="" visible=1 enabled=1 checked=0$' "$out"
gui_expect_grep '^id=1004 class=ComboBox text="none" visible=1 enabled=1 checked=0 sel=0 count=5$' "$out"
gui_expect_grep '^id=1006 class=Button text="Disabled" visible=1 enabled=0 checked=0$' "$out"
gui_expect_grep '^id=1007 class=Static text="Hidden" visible=0 ' "$out"
gui_expect_grep '^id=1 class=Button text="OK" visible=1 enabled=1 checked=0$' "$out"
[ "$(grep -c '^id=' <<<"$out")" -eq 10 ] || gui_fail "expected 10 controls, got:
$out"

# Input: each action must reach the program as the notification a user causes.
gui_script input <<EOF
type $W --id 1003 "hello world"
check $W --id 1010 --text-is "change=1 text=hello world"
type $W --id 1003 --chars "abc"
check $W --id 1010 --text-is "change=5 text=abc"
check $W --id 1003 --text-is abc
select $W --id 1004 --item exclamation
check $W --id 1010 --text-is "sel=3"
check $W --id 1004 --sel 3 --text-is exclamation
select $W --id 1004 --index 1
check $W --id 1010 --text-is "sel=1"
click $W --text "Owned box"
check $W --id 1005 --checked 1
check $W --id 1010 --text-is "check=1"
key $W enter
check $W --id 1010 --text-is "ok"
key $W esc
check $W --id 1010 --text-is "cancel"
syscmd $W 0x10
check $W --id 1010 --text-is "about"
post $W --msg 0x219 --wparam 0x8000
check $W --id 1010 --text-is "devchange=0x8000"
post $W --msg 0x219 --wparam 0x8004 --volume E:
check $W --id 1010 --text-is "devchange=0x8004 volume mask=0x10"
send $W --msg 0x219 --wparam 0x8000 --volume "E:,G:"
check $W --id 1010 --text-is "devchange=0x8000 volume mask=0x50"
type $W --id 1003 "未發現可移動磁碟!"
check $W --id 1010 --text-has "text=未發現可移動磁碟!"
check $W --id 1003 --text-is "未發現可移動磁碟!"
send $W --msg 0x8007 --wparam 40 --lparam 2
syscmd $W minimize
check $W --minimized 1
check $W --id 1010 --text-is "size=minimized"
syscmd $W restore
check $W --minimized 0 --enabled 1
check $W --id 1010 --text-is "size=restored"
EOF
gui_expect_grep '^result=42$' "$(cat "$GUI_WORK/input.out")"
[ "$(gui_do text "${WA[@]}" --id 1003)" = "未發現可移動磁碟!" ] ||
  gui_fail "text did not print the edit's text in UTF-8"

# Message boxes: caption, text, buttons, icon; owned by the dialog, then unowned.
gui_script boxes <<EOF
select $W --id 1004 --item hand
click $W --text "&Show Box"
msgbox --owner "Driver Test App" --expect-text "Proceed with the test?\nSecond line." --expect-icon hand --expect-buttons 6,7,2
EOF
# While an owned box is open its owner is disabled: a user could not click it.
err=$(gui_driver click "${WA[@]}" --id 1002 2>&1 >/dev/null); rc=$?
[ $rc -eq 1 ] || gui_fail "a click into a window disabled by its modal box returned $rc"
gui_expect_grep 'id=1002 .*its window is disabled' "$err"
rm -f "$SCREENSHOT_DIR"/"$GUI_TEST_NAME"-fail-*.png
gui_script boxes2 <<EOF
answer --owner "Driver Test App" "&No"
check $W --id 1010 --text-is "box=7"
click $W --id 1005
check $W --id 1005 --checked 0
select $W --id 1004 --item question
click $W --id 1001
msgbox --exe guidriver_testapp.exe --caption "Driver Box" --expect-icon question --answer 6
check $W --id 1010 --text-is "box=6"
select $W --id 1004 --item asterisk
click $W --id 1001
msgbox --caption "Driver Box" --expect-icon asterisk
key --caption "Driver Box" esc
check $W --id 1010 --text-is "box=2"
select $W --id 1004 --item none
click $W --id 1001
msgbox --caption "Driver Box" --expect-icon none
key --caption "Driver Box" enter
check $W --id 1010 --text-is "box=6"
click $W --id 1002
msgbox --caption "Driver Retry" --expect-text "Test device not found!" --expect-icon exclamation --expect-buttons 4,2 --answer Retry
msgbox --caption "Driver Retry" --expect-icon exclamation --answer 4
answer --caption "Driver Retry" Cancel
check $W --id 1010 --text-is "retries=2"
EOF
boxes=$(cat "$GUI_WORK/boxes.out" "$GUI_WORK/boxes2.out")
gui_expect_grep '^msgbox hwnd=0x[0-9A-F]+ caption="Driver Box" icon=hand$' "$boxes"
gui_expect_grep '^text="Proceed with the test\?\\nSecond line\."$' "$boxes"
gui_expect_grep '^button id=6 text="&Yes" default=1 enabled=1$' "$boxes"
# Each Retry opened a new box: three different windows.
n=$(grep -E '^msgbox .*caption="Driver Retry"' <<<"$boxes" | sed -E 's/.*hwnd=(0x[0-9A-F]+).*/\1/' | sort -u | wc -l)
[ "$n" -eq 2 ] || gui_fail "expected two distinct Retry boxes before the answer by 'answer', got $n"

# Failures: non-zero status, a clear message on stderr and a valid PNG.
shots_before=$(ls "$SCREENSHOT_DIR"/"$GUI_TEST_NAME"-fail-*.png 2>/dev/null | wc -l)
start=$(date +%s%N)
err=$(gui_driver --timeout 1 wait --window "No Such Window" 2>&1 >/dev/null); rc=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
[ $rc -eq 1 ] || gui_fail "a wait for a missing window returned $rc"
gui_expect_grep 'FAILED: no window caption="No Such Window" \(visible, with controls\) within 1000 ms' "$err"
gui_expect_grep 'Driver Test App' "$err"   # the windows that were there are listed
[ $elapsed_ms -lt 8000 ] || gui_fail "a 1 s wait took $elapsed_ms ms"
err=$(gui_driver click "${WA[@]}" --id 1006 2>&1 >/dev/null); rc=$?
[ $rc -eq 1 ] || gui_fail "clicking a disabled button returned $rc"
gui_expect_grep 'id=1006 .*enabled=0.*: the control is disabled' "$err"
err=$(gui_driver check "${WA[@]}" --id 1010 --text-is "never" --timeout 0.5 2>&1 >/dev/null); rc=$?
[ $rc -eq 1 ] || gui_fail "a failed check returned $rc"
gui_expect_grep 'text-is: wanted "never", found "retries=2"' "$err"
err=$(gui_driver click "${WA[@]}" --idd 1001 2>&1 >/dev/null); rc=$?
[ $rc -eq 2 ] || gui_fail "a misspelt option returned $rc"
gui_expect_grep 'unknown option --idd' "$err"
printf 'check %s --id 1010 --text-is "retries=2"\nclick %s --id 4242 --timeout 0.3\n' "$W" "$W" >"$GUI_WORK/bad.gd"
err=$(gui_driver run "$GUI_WORK/bad.gd" 2>&1 >/dev/null); rc=$?
[ $rc -eq 1 ] || gui_fail "a failing script returned $rc"
gui_expect_grep 'bad.gd:2: click .*: no control id=4242' "$err"
gui_driver check "${WA[@]}" --id 1010 --text-is "retries=2" --now || gui_fail "the disabled click was delivered"
shots_after=$(ls "$SCREENSHOT_DIR"/"$GUI_TEST_NAME"-fail-*.png 2>/dev/null | wc -l)
[ $((shots_after - shots_before)) -eq 5 ] || gui_fail "expected 5 failure screenshots, found $((shots_after - shots_before))"
for f in "$SCREENSHOT_DIR"/"$GUI_TEST_NAME"-fail-*.png; do
  [ "$(identify -format '%m %w %h' "$f" 2>/dev/null)" = "PNG 1024 768" ] || gui_fail "$f is not a 1024x768 PNG"
done
rm -f "$SCREENSHOT_DIR"/"$GUI_TEST_NAME"-fail-*.png   # expected failures, not evidence

# A screenshot on request shows the dialog: its status text region is not blank.
gui_do screenshot "$GUI_WORK/shot.png"
[ "$(identify -format '%m %w %h' "$GUI_WORK/shot.png")" = "PNG 1024 768" ] || gui_fail "requested screenshot is not a 1024x768 PNG"
colours=$(convert "$GUI_WORK/shot.png" -crop 300x200+0+0 -format '%k' info:)
[ "$colours" -gt 3 ] || gui_fail "the screenshot shows no dialog ($colours colours)"

# A box on screen before its thread takes any message, after seconds of work
# without messages (as a format run's wait before its report): for that
# moment the thread counts as not responding, and the box must still be read
# and answered, not refused.
gui_script slowbox <<EOF
post $W --msg 0x8009 --wparam 6000 --lparam 2500
msgbox --caption "Driver Slow Box" --expect-text "Shown after a long run." --expect-icon exclamation --answer OK --timeout 20
check $W --id 1010 --text-is "slow box=1"
EOF

# Ending: the Quit button ends the process; a second instance closes by SC_CLOSE.
gui_script quit <<EOF
click $W --text Quit
wait-gone $W
wait-exit --exe guidriver_testapp.exe
EOF
gui_wait_exit app 10
[ "$GUI_EXIT_CODE" -eq 3 ] || gui_fail "the test dialog's Quit status 3 arrived as $GUI_EXIT_CODE"
gui_start app2 "$app"
gui_script close <<EOF
wait $W
syscmd $W close
wait-exit --exe guidriver_testapp.exe
EOF
gui_wait_exit app2 10
[ "$GUI_EXIT_CODE" -eq 0 ] || gui_fail "the test dialog closed by SC_CLOSE exited with $GUI_EXIT_CODE"
echo "guidriver self-test passed"
