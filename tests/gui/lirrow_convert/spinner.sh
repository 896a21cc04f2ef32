#!/usr/bin/env bash
# A slow decoder shows the progress window with the spinner turning every
# 800 ms; the frame counter starts at 1 with the program and is not reset, so
# a second run continues the cycle where the first stopped. Esc does not
# close the window. The decoder runs until the test closes its "hold" window,
# right after the frame it waits for, so the frame count does not depend on
# how fast the machine is.
source "$(dirname "$0")/common.sh"
start_lirrow
Wq=$(q "$W")

base="Converting rcd/rec/ovk file to WAV ..."
T='--window "Vrn_dec.exe stand-in" --no-controls'
# progress_window CAPTION: driver options choosing the progress window over
# the main window captioned CAPTION.
progress_window() { printf -- '--owner "%s" --exe lirrow.exe --class "#32770"' "$(q "$1")"; }

echo "hold" >"$bin/Vrn_dec.ctl"
first=$(gui_winpath "$(recording first.rec '\005' 1)")
P=$(progress_window "$W")
gui_script first <<GD
type --window "$Wq" --exe lirrow.exe --id 1539 "$(q "$first")"
click --window "$Wq" --exe lirrow.exe --id 1540
check $P --id 1009 --text-is "$base"
check --window "$Wq" --exe lirrow.exe --enabled 0 --now
check $P --id 1009 --text-is "$base /"
screenshot "$SCREENSHOT_DIR/$GUI_TEST_NAME-progress.png"
key $P esc
key $P enter
check $P --id 1009 --text-is "$base---"
check $P --id 1009 --text-is "$base \\\\"
post $T --msg 0x10
wait-gone $P
wait --window "$(q "${first%.rec}.wav")" --exe lirrow.exe
GD

second=$(gui_winpath "$(recording second.rec '\005' 1)")
caption=${first%.rec}.wav
P=$(progress_window "$caption")
gui_script second <<GD
type --window "$(q "$caption")" --exe lirrow.exe --id 1539 "$(q "$second")"
click --window "$(q "$caption")" --exe lirrow.exe --id 1540
check $P --id 1009 --text-is "$base |"
check $P --id 1009 --text-is "$base /"
check $P --id 1009 --text-is "$base---"
post $T --msg 0x10
wait-gone $P
wait --window "$(q "${second%.rec}.wav")" --exe lirrow.exe
GD
[ -f "$voice/first.wav" ] && [ -f "$voice/second.wav" ] || gui_fail "outputs missing"
exit_lirrow "${second%.rec}.wav"
echo "spinner frames / --- \\ then | / --- across two runs; Esc and Enter did not close the window"
