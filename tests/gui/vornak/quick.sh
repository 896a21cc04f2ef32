#!/usr/bin/env bash
# A Quick run of a 62 MiB drive with a label: the idle dialog, the
# confirmation, the system format command as format.com sees it, the results
# report, and the volume as fsck.fat and mtools see it.
source "${GUI_HARNESS:?run this test through ctest}"
source "${VK_COMMON:?}"

vk_drive E 62
vk_start

gui_script idle <<EOF
wait $vk_win
check $vk_win --id 1003 --text-is "E:" --item-count 1 --enabled 1
check $vk_win --id 1010 --text-is "62.00M"
check $vk_win --id 1022 --text-is "Total Sectors:126976"
check $vk_win --id 1006 --checked 1
check $vk_win --id 1021 --enabled 0
check $vk_win --id 1023 --enabled 0 --checked 0
check $vk_win --id 1 --text-is "Quit"
check $vk_win --id 1011 --visible 0
screenshot $SCREENSHOT_DIR/$GUI_TEST_NAME-idle.png
type $vk_win --id 1008 --chars "player12345X"
check $vk_win --id 1008 --text-is "player12345"
type $vk_win --id 1008 "player"
key $vk_win enter
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(E:)" --expect-text "ALL DATA ON THIS DISK WILL BE LOST! ARE YOU SURE?(Y/N)" --expect-icon asterisk --expect-buttons 6,7 --answer 6
msgbox --owner "Vornak V2.0" --caption "Format Results - Removable Disk(E:)" --expect-icon none
screenshot $SCREENSHOT_DIR/$GUI_TEST_NAME-report-en.png
answer --caption "Format Results - Removable Disk(E:)" OK
check $vk_win --id 1009 --enabled 1
check $vk_win --id 1 --text-is "Quit" --enabled 1
EOF
out=$(cat "$GUI_WORK/idle.out")
# 62 MiB, F = 124: 2048 * floor((65011712 - 126976 - 16896) / 2048) = 64866304.
gui_expect_grep '^text="total disk space: 64866304 bytes\\n\\nsystem files use: 0\\n\\nbad sectors: 0 bytes\\n\\navailable on disk: 64866304 bytes\\n\\n\\n\\neach allocation unit: 2048 bytes\\n\\ntotal allocation units: 31673\\n"$' "$out"

# format.com was started once with the switches and read the three answers.
[ -f "$VK_FORMAT_LOG" ] || gui_fail "format.com was not run"
log=$(cat "$VK_FORMAT_LOG")
gui_expect_grep '^args: E:/FS:FAT /A:2048/Q *$' "$log"
gui_expect_grep '^stdin: 0D 0A 79 0D 0A 0D 0A$' "$log"
[ "$(grep -c '^args:' <<<"$log")" -eq 1 ] || gui_fail "format.com ran more than once: $log"
[ ! -e "$GUI_WORK/E/finish" ] || gui_fail "the marker file was left on the drive"
[ ! -e "$WINEPREFIX/drive_c/windows/tmptmp.tmp" ] || gui_fail "the answer file was left behind"

fsck=$(fsck.fat -n "$GUI_WORK/E.img" 2>&1) || gui_fail "fsck.fat rejects the volume: $fsck"
label=$(MTOOLS_SKIP_CHECK=1 mlabel -s -i "$GUI_WORK/E.img" :: 2>&1)
gui_expect_grep 'PLAYER' "$label"

gui_script quit <<EOF
click $vk_win --id 1
EOF
gui_wait_exit vornak 20
