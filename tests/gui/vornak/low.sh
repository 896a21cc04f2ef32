#!/usr/bin/env bash
# Low runs: a 30 MiB drive with sectors that do not read back gets them marked
# bad in both FATs and counted in the report; a run stopped with Stop rewrites
# the system area and still reports, without "Format fail!".
source "${GUI_HARNESS:?run this test through ctest}"
source "${VK_COMMON:?}"

# 30 MiB: F = 60, data area from sector 153, 4 sectors a cluster. Sector 553
# lies in cluster 100 (FAT entry 102), sectors 20153-20154 in cluster 5000.
vk_drive E 30 bad=553,20153+2
vk_drive F 94
vk_start

start=$(date +%s)
gui_script bad <<EOF
wait $vk_win
click $vk_win --id 1017
check $vk_win --id 1017 --checked 1
check $vk_win --id 1006 --checked 0
check $vk_win --id 1021 --enabled 1
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(E:)" --answer 6
msgbox --owner "Vornak V2.0" --caption "Format Results - Removable Disk(E:)" --timeout 60
answer --caption "Format Results - Removable Disk(E:)" OK
check $vk_win --id 1 --text-is "Quit" --enabled 1
check $vk_win --id 1009 --enabled 1
EOF
gui_log "Low run of 30 MiB: $(($(date +%s) - start)) s"
out=$(cat "$GUI_WORK/bad.out")
gui_expect_grep '^text="total disk space: 31377408 bytes\\n\\nsystem files use: 0\\n\\nbad sectors: 4096 bytes\\n\\navailable on disk: 31373312 bytes\\n' "$out"
img=$GUI_WORK/E.img
for fat in 1 61; do
  for entry in 102 5002; do
    [ "$(vk_fat_entry "$img" $fat $entry)" = fff7 ] ||
      gui_fail "FAT at sector $fat: entry $entry is $(vk_fat_entry "$img" $fat $entry), not fff7"
  done
  [ "$(vk_fat_entry "$img" $fat 103)" = 0000 ] || gui_fail "FAT at sector $fat: entry 103 is not free"
done
fsck=$(fsck.fat -n "$img" 2>&1) || gui_fail "fsck.fat rejects the volume: $fsck"
free=$(MTOOLS_SKIP_CHECK=1 mdir -i "$img" :: 2>&1 | tr -d ' ')
gui_expect_grep '31373312bytesfree' "$free"
log=$(cat "$VK_FORMAT_LOG")
gui_expect_grep '^args: E:/FS:FAT /A:2048 *$' "$log"

# Stop during the data-area pass of the second drive.
gui_script stop <<EOF
select $vk_win --id 1003 --item "F:"
check $vk_win --id 1010 --text-is "94.00M"
click $vk_win --id 1017
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(F:)" --answer 6
check $vk_win --id 1 --text-is "Stop" --enabled 1 --timeout 90
check $vk_win --id 1009 --enabled 0
check $vk_win --id 1003 --enabled 0
check $vk_win --id 1021 --text-has "data area" --timeout 90
screenshot $SCREENSHOT_DIR/$GUI_TEST_NAME-running.png
click $vk_win --id 1
msgbox --owner "Vornak V2.0" --caption "Format" --expect-text "Are you sure?(Y/N)" --expect-icon question --expect-buttons 6,7 --answer 6
msgbox --owner "Vornak V2.0" --caption "Format Results - Removable Disk(F:)" --timeout 90
answer --caption "Format Results - Removable Disk(F:)" OK
check $vk_win --id 1 --text-is "Quit" --enabled 1
EOF
out=$(cat "$GUI_WORK/stop.out")
! grep -q 'Sorry!' <<<"$out" || gui_fail "a stopped run showed a failure box: $out"
fsck=$(fsck.fat -n "$GUI_WORK/F.img" 2>&1) || gui_fail "the stopped run left a broken volume: $fsck"
[ "$(od -An -tx1 -j510 -N2 "$GUI_WORK/F.img" | tr -d ' ')" = 55aa ] || gui_fail "no boot sector after Stop"

gui_script quit <<EOF
key $vk_win esc
EOF
gui_wait_exit vornak 20
