#!/usr/bin/env bash
# lirrow starts with its main dialog: Open, Help and Exit usable, Convert
# disabled until a recording is chosen, the output options hidden; Exit ends it.
source "${GUI_HARNESS:?run this test through ctest}"

exe=$(gui_copy_program "$GUI_PROGRAM_lirrow")
gui_start lirrow "$exe" --env LANG=en_US.UTF-8 --env LC_ALL=en_US.UTF-8

W='--window "Lirrow Tool 2.0" --exe lirrow.exe'
gui_script dialog <<EOF
wait $W
list $W
check $W --id 1536 --text-is Open --visible 1 --enabled 1 --now
check $W --id 1540 --text-is Convert --visible 1 --enabled 0 --now
check $W --id 1031 --text-is Help --visible 1 --enabled 1 --now
check $W --id 1541 --text-is Exit --visible 1 --enabled 1 --now
check $W --id 1539 --text-is "" --visible 1 --enabled 1 --now
check $W --id 1537 --visible 0 --checked 1 --now
check $W --id 1538 --visible 0 --checked 0 --now
click $W --id 1541
wait-gone --window "Lirrow Tool 2.0"
wait-exit --exe lirrow.exe
EOF
gui_wait_exit lirrow 10
echo "lirrow main dialog shown with its buttons; Exit ended it"
