#!/usr/bin/env bash
# A slow decoder shows the progress window with the spinner turning every
# 800 ms; the frame counter starts at 1 with the program and is not reset, so
# a second run continues the cycle where the first stopped.
source "$(dirname "$0")/common.sh"
start_lirrow
Wq=$(q "$W")

base="Converting rcd/rec/ovk file to WAV ..."
P="--owner \"$Wq\" --exe lirrow.exe --class \"#32770\""
# 2.9 s: ticks at 0.8, 1.6 and 2.4 s turn the spinner, the tick at 3.2 s closes.
echo "sleep 2.9" >"$bin/Vrn_dec.ctl"
first=$(gui_winpath "$(recording first.rec '\005' 1)")
gui_script first <<GD
type --window "$Wq" --exe lirrow.exe --id 1539 "$(q "$first")"
click --window "$Wq" --exe lirrow.exe --id 1540
check $P --id 1009 --text-is "$base"
check --window "$Wq" --exe lirrow.exe --enabled 0 --now
check $P --id 1009 --text-is "$base /"
screenshot "$SCREENSHOT_DIR/$GUI_TEST_NAME-progress.png"
key $P esc
check $P --id 1009 --text-is "$base---"
check $P --id 1009 --text-is "$base \\\\"
wait-gone $P
wait --window "$(q "${first%.rec}.wav")" --exe lirrow.exe
GD
second=$(gui_winpath "$(recording second.rec '\005' 1)")
caption=${first%.rec}.wav
P="--owner \"$(q "$caption")\" --exe lirrow.exe --class \"#32770\""
gui_script second <<GD
type --window "$(q "$caption")" --exe lirrow.exe --id 1539 "$(q "$second")"
click --window "$(q "$caption")" --exe lirrow.exe --id 1540
check $P --id 1009 --text-is "$base |"
check $P --id 1009 --text-is "$base /"
check $P --id 1009 --text-is "$base---"
wait-gone $P
wait --window "$(q "${second%.rec}.wav")" --exe lirrow.exe
GD
[ -f "$voice/first.wav" ] && [ -f "$voice/second.wav" ] || gui_fail "outputs missing"
exit_lirrow "${second%.rec}.wav"
echo "spinner frames / --- \\ then | / --- across two runs; Esc did not close the window"
