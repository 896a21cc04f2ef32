#!/usr/bin/env bash
# Drives plugged in and pulled out while idle and during a run, an
# unsupported drive, a run answered No, the About box, minimise and restore,
# and Esc closing the dialog.
source "${GUI_HARNESS:?run this test through ctest}"
source "${VK_COMMON:?}"

vk_drive E 30
vk_drive F 62 unplugged
vk_drive G 4 unplugged
# The system format takes a while, so that a drive can arrive during the run.
vk_start --env FORMAT_STUB_DELAY_MS=4000

arrive="post $vk_win --msg 0x219 --wparam 0x8000"
remove="post $vk_win --msg 0x219 --wparam 0x8004"

gui_script idle1 <<EOF
wait $vk_win
check $vk_win --id 1003 --text-is "E:" --item-count 1
syscmd $vk_win 0x10
check --window "About Vornak" --id 1025 --text-is "Vornak V2.0"
click --window "About Vornak" --id 1
wait-gone --window "About Vornak"
syscmd $vk_win minimize
check $vk_win --minimized 1
syscmd $vk_win restore
check $vk_win --minimized 0 --enabled 1
check $vk_win --id 1003 --text-is "E:"
EOF

vk_plug F
gui_script plug <<EOF
$arrive
check $vk_win --id 1003 --item-count 2 --sel 0 --text-is "E:"
check $vk_win --id 1010 --text-is "30.00M"
EOF

vk_unplug E
gui_script unplug1 <<EOF
$remove
check $vk_win --id 1003 --item-count 1 --sel 0 --text-is "F:"
check $vk_win --id 1010 --text-is "62.00M"
check $vk_win --id 1009 --enabled 1
EOF

vk_unplug F
gui_script unplug2 <<EOF
$remove
check $vk_win --id 1003 --item-count 1 --text-is " "
check $vk_win --id 1009 --enabled 0
check $vk_win --id 1003 --enabled 0
check $vk_win --id 1008 --enabled 0
check $vk_win --id 1010 --text-is "0.00M"
EOF

vk_plug G
gui_script unsupported <<EOF
$arrive
check $vk_win --id 1003 --item-count 1 --text-is "G:"
check $vk_win --id 1009 --enabled 1
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Sorry!" --expect-text "Unsupported type!" --expect-icon hand --answer OK
check $vk_win --id 1009 --enabled 1
EOF

vk_plug E
before=$(md5sum <"$GUI_WORK/E.img")
gui_script answer_no <<EOF
$arrive
check $vk_win --id 1003 --item-count 2 --sel 0 --text-is "E:"
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(E:)" --answer 7
check $vk_win --id 1009 --enabled 1
check $vk_win --id 1 --text-is "Quit"
EOF
[ "$(md5sum <"$GUI_WORK/E.img")" = "$before" ] || gui_fail "answering No changed the disk"
[ ! -e "$VK_FORMAT_LOG" ] || gui_fail "answering No ran format.com"

# F: arrives while the system format runs: the list changes only at the end.
gui_script run <<EOF
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(E:)" --answer 6
check $vk_win --id 1009 --enabled 0
EOF
vk_plug F
gui_script during <<EOF
send $vk_win --msg 0x219 --wparam 0x8000
check $vk_win --id 1003 --item-count 2 --now
msgbox --owner "Vornak V2.0" --caption "Format Results - Removable Disk(E:)" --timeout 30
answer --caption "Format Results - Removable Disk(E:)" OK
check $vk_win --id 1003 --item-count 3 --sel 0 --text-is "E:"
check $vk_win --id 1009 --enabled 1
key $vk_win esc
EOF
gui_wait_exit vornak 20
fsck=$(fsck.fat -n "$GUI_WORK/E.img" 2>&1) || gui_fail "fsck.fat rejects the volume: $fsck"
