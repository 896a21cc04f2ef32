#!/usr/bin/env bash
# Drives plugged in and pulled out while idle and during a run, another disk
# in a drive pulled out during a run, an unsupported drive, a run answered No, the About box, minimise and restore,
# and Esc closing the dialog.
source "${GUI_HARNESS:?run this test through ctest}"
source "${VK_COMMON:?}"

vk_drive E 30
vk_drive F 62 unplugged
vk_drive G 4 unplugged
# The system format takes a while, so that a drive can arrive during the run
# and the window can be seen to take input meanwhile.
vk_start --env FORMAT_STUB_DELAY_MS=6000

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
# Meanwhile the window takes its input at once (minimise and restore), and Esc
# asks nothing: the report that follows would wait behind a question.
gui_script run <<EOF
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(E:)" --answer 6
check $vk_win --id 1009 --enabled 0
syscmd $vk_win minimize
check $vk_win --minimized 1 --timeout 1
syscmd $vk_win restore
check $vk_win --minimized 0 --timeout 1
key $vk_win esc
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
EOF
fsck=$(fsck.fat -n "$GUI_WORK/E.img" 2>&1) || gui_fail "fsck.fat rejects the volume: $fsck"

# E: alone; it is pulled out during a run, which then fails and writes
# nothing more; another disk of another size then goes into the same drive:
# the dialog must show and format that disk.
vk_unplug F
vk_unplug G
gui_script alone <<EOF
$remove
check $vk_win --id 1003 --item-count 1 --text-is "E:"
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(E:)" --answer 6
check $vk_win --id 1009 --enabled 0
EOF
vk_unplug E
gui_script pulled <<EOF
send $vk_win --msg 0x219 --wparam 0x8004
msgbox --owner "Vornak V2.0" --caption "Sorry!" --expect-text "Format fail!" --expect-icon hand --timeout 30 --answer OK
check $vk_win --id 1003 --item-count 1 --text-is " "
check $vk_win --id 1010 --text-is "0.00M"
check $vk_win --id 1009 --enabled 0
EOF
rm -f "$GUI_WORK/E.img"
truncate -s 62M "$GUI_WORK/E.img"
vk_plug E
gui_script other_disk <<EOF
$arrive
check $vk_win --id 1003 --item-count 1 --text-is "E:"
check $vk_win --id 1010 --text-is "62.00M"
check $vk_win --id 1022 --text-is "Total Sectors:126976"
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(E:)" --answer 6
msgbox --owner "Vornak V2.0" --caption "Format Results - Removable Disk(E:)" --timeout 30
answer --caption "Format Results - Removable Disk(E:)" OK
key $vk_win esc
EOF
gui_wait_exit vornak 20
fsck=$(fsck.fat -n "$GUI_WORK/E.img" 2>&1) || gui_fail "fsck.fat rejects the other disk: $fsck"
# The 62 MiB layout: 126976 sectors in the 32-bit total field (the 16-bit one 0).
total=$(od -An -tu2 -j 19 -N2 "$GUI_WORK/E.img" | tr -d ' ')
[ "$total" != 0 ] || total=$(od -An -tu4 -j 32 -N4 "$GUI_WORK/E.img" | tr -d ' ')
[ "$total" = 126976 ] || gui_fail "the other disk's boot sector gives $total sectors, not 126976"
