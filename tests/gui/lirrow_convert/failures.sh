#!/usr/bin/env bash
# What the user sees when a conversion cannot go on: an unsupported first
# byte, a missing decoder, a failing decoder, the abandon code 262 and a
# source deleted after it was typed.
source "$(dirname "$0")/common.sh"
start_lirrow
Wq=$(q "$W")

# Unsupported first byte: "Unsupport Format" with the stop icon, nothing runs.
bad=$(gui_winpath "$(recording bad.rec '\120' 2)")
gui_script unsupported <<GD
type --window "$Wq" --exe lirrow.exe --id 1539 "$(q "$bad")"
click --window "$Wq" --exe lirrow.exe --id 1540
msgbox --caption Lirrow --exe lirrow.exe --expect-text "Unsupport Format" --expect-icon hand --answer OK
check --window "$Wq" --exe lirrow.exe --id 1539 --text-is "$(q "$bad")"
GD
[ ! -e "$bin/standins.log" ] || gui_fail "a tool ran for an unsupported recording"

# A failing decoder: the ConvertErr text with the warning icon.
echo "fail 3 once" >"$bin/Vrn_dec.ctl"
direct=$(gui_winpath "$(recording direct.rec '\005' 2)")
gui_script failing <<GD
type --window "$Wq" --exe lirrow.exe --id 1539 "$(q "$direct")"
click --window "$Wq" --exe lirrow.exe --id 1540
msgbox --caption Lirrow --exe lirrow.exe --expect-text "Failed to convert file!Perhaps have no enough space for write!" --expect-icon exclamation --answer OK
check --window "$Wq" --exe lirrow.exe --enabled 1
GD
[ ! -e "$voice/direct.wav" ] || gui_fail "a failed decoder left an output"

# Exit code 262: the conversion ends silently, its temporary files stay.
echo "exit 262 once" >"$bin/QL4_Dec.ctl"
framed=$(gui_winpath "$(recording framed.rec '\100' 2)")
clear_temp
gui_script abandon <<GD
type --window "$Wq" --exe lirrow.exe --id 1539 "$(q "$framed")"
click --window "$Wq" --exe lirrow.exe --id 1540
wait --owner "$Wq" --exe lirrow.exe --class "#32770"
wait-gone --owner "$Wq" --exe lirrow.exe --class "#32770"
check --window "$Wq" --exe lirrow.exe --enabled 1
sleep 1000
windows
GD
grep -q '^msgbox' "$GUI_WORK/abandon.out" && gui_fail "a message box after exit code 262"
[ ! -e "$voice/framed.wav" ] || gui_fail "262 left an output"
[ -e "$tempdir/temp.sbs" ] && [ -e "$tempdir/temp.wav" ] || gui_fail "262 removed the temporary files"
grep -q '^QL4_Dec.exe|' "$bin/standins.log" || gui_fail "QL4_Dec.exe did not run for the 22-byte layout"
clear_temp

# A source deleted after it was typed: its path is selected, nothing is shown.
gone=$(gui_winpath "$(recording gone.rec '\005' 1)")
rm -f "$voice/gone.rec" "$bin/standins.log"
gui_script deleted <<GD
type --window "$Wq" --exe lirrow.exe --id 1539 "$(q "$gone")"
click --window "$Wq" --exe lirrow.exe --id 1540
sleep 800
windows
send --window "$Wq" --exe lirrow.exe --id 1539 --msg 0xB0
GD
grep -q '^msgbox' "$GUI_WORK/deleted.out" && gui_fail "a message box for a deleted source"
# EM_GETSEL: start 0 in the low word, the end (the text length) in the high word.
gui_expect_grep "result=$(( ${#gone} << 16 ))\$" "$(cat "$GUI_WORK/deleted.out")"
[ ! -e "$bin/standins.log" ] || gui_fail "a tool ran for a deleted source"

# A missing QL4_DEC.exe is named; VRN_DEC.exe, missing too, is not tested.
rm -f "$bin/QL4_Dec.exe" "$bin/Vrn_dec.exe"
winbin=$(gui_winpath "$bin")
gui_script missing <<GD
type --window "$Wq" --exe lirrow.exe --id 1539 "$(q "$direct")"
click --window "$Wq" --exe lirrow.exe --id 1540
msgbox --caption Lirrow --exe lirrow.exe --expect-text "QL4_DEC.exe\\n$(q "Can't find above file,Please copy it to $winbin.")" --expect-icon exclamation --answer OK
GD
exit_lirrow "$W"

# Started from another folder (a shortcut's working folder): the decoders are
# found beside the program, but they are run from the start folder, where
# there are none; the system's own text for the failed start is shown.
elsewhere=$GUI_WORK/elsewhere
mkdir -p "$elsewhere"
gui_copy_program "$GUI_PROGRAM_standin_Vrn_dec" "$bin" >/dev/null
gui_copy_program "$GUI_PROGRAM_standin_QL4_Dec" "$bin" >/dev/null
gui_start lirrow "$exe" --cwd "$elsewhere" --env LANG=en_US.UTF-8 --env LC_ALL=en_US.UTF-8
gui_script unstarted <<GD
type --window "$Wq" --exe lirrow.exe --id 1539 "$(q "$direct")"
click --window "$Wq" --exe lirrow.exe --id 1540
msgbox --caption Lirrow --exe lirrow.exe --expect-text-has "not found" --expect-icon exclamation --answer OK
GD
exit_lirrow "$W"
echo "unsupported, failing, abandoned, deleted and missing-decoder cases behave as the user expects"
