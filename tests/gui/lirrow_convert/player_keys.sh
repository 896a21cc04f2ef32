#!/usr/bin/env bash
# The player's buttons from the keyboard after a conversion: Tab reaches
# Play, Enter plays (and does not press the dialog's default button, Start,
# which would convert again), Space on the focused Pause pauses, and Enter
# on Play, which the focus moves back to, plays again.
source "$(dirname "$0")/common.sh"
start_lirrow

# 20 blocks of a direct recording: the stand-in writes about 10.7 s of WAV.
src=$(recording keys.rec '\005' 20)
winsrc=$(gui_winpath "$src")
out=${winsrc%.rec}.wav
Oq=$(q "$out")
gui_script convert <<GD
type --window "$(q "$W")" --exe lirrow.exe --id 1539 "$(q "$winsrc")"
click --window "$(q "$W")" --exe lirrow.exe --id 1540
wait --window "$Oq" --exe lirrow.exe
check --window "$Oq" --exe lirrow.exe --id 10 --enabled 1
GD
grep -q '^Vrn_dec.exe|' "$bin/standins.log" || gui_fail "the conversion did not run"
rm -f "$bin/standins.log"

# BM_GETSTATE of a player button (10 Play, 11 Pause, 12 Stop): BST_FOCUS (8)
# is set while it has the keyboard focus.
has_focus() {
  local answer
  answer=$(gui_driver send --window "$out" --exe lirrow.exe --id "$1" --msg 0xF2) || return 1
  local state=${answer##*result=}
  [ $((state & 8)) -ne 0 ]
}

# Tab through the dialog until Play has the focus.
for i in $(seq 1 10); do
  gui_do key --window "$out" --exe lirrow.exe tab >/dev/null
  has_focus 10 && break
done
has_focus 10 || gui_fail "Tab never reached the Play button"

# Enter on Play: the player plays (Pause enabled, Play disabled), no tool runs.
gui_script enter <<GD
key --window "$Oq" --exe lirrow.exe enter
check --window "$Oq" --exe lirrow.exe --id 11 --enabled 1
check --window "$Oq" --exe lirrow.exe --id 10 --enabled 0
sleep 1500
windows
GD
[ ! -e "$bin/standins.log" ] || gui_fail "Enter on Play converted again: $(cat "$bin/standins.log")"
grep -q '^msgbox' "$GUI_WORK/enter.out" && gui_fail "a message box after Enter on Play"
has_focus 11 || gui_fail "the focus did not move to Pause when Play was disabled"

# Space on the focused Pause pauses; the focus goes back to Play.
gui_script space <<GD
key --window "$Oq" --exe lirrow.exe space
check --window "$Oq" --exe lirrow.exe --id 10 --enabled 1
check --window "$Oq" --exe lirrow.exe --id 11 --enabled 0
GD
has_focus 10 || gui_fail "the focus did not move to Play when Pause was disabled"

# Enter on Play again: playing once more, still no conversion.
gui_script again <<GD
key --window "$Oq" --exe lirrow.exe enter
check --window "$Oq" --exe lirrow.exe --id 11 --enabled 1
sleep 500
GD
[ ! -e "$bin/standins.log" ] || gui_fail "Enter on Play converted again: $(cat "$bin/standins.log")"
gui_screenshot playing
exit_lirrow "$out"
echo "Enter and Space act on the focused player button; Start is not pressed"
