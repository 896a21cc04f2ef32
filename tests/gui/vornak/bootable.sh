#!/usr/bin/env bash
# A Bootable Quick run of a 200 MiB drive with a sys folder beside the
# program: "Making..." while the start-up files are copied, the files on the
# drive (sub-folders left out), and the system files figure in the report.
source "${GUI_HARNESS:?run this test through ctest}"
source "${VK_COMMON:?}"

sys=$(dirname "$VK_EXE")/sys
mkdir -p "$sys/extras"
printf 'IO.SYS stand-in\r\n' >"$sys/io.sys"
printf 'MSDOS.SYS stand-in\r\n' >"$sys/msdos.sys"
head -c 5000 /dev/urandom >"$sys/command.com"
printf 'not a start-up file\r\n' >"$sys/extras/readme.txt"

vk_drive E 200
vk_start

gui_script boot <<EOF
wait $vk_win
check $vk_win --id 1010 --text-is "200.00M"
check $vk_win --id 1023 --enabled 1 --checked 0
click $vk_win --id 1023
check $vk_win --id 1023 --checked 1
click $vk_win --id 1009
msgbox --owner "Vornak V2.0" --caption "Warning - Removable Disk(E:)" --answer 6
check $vk_win --id 1024 --text-is "Making..." --timeout 30
check $vk_win --id 1023 --enabled 0
msgbox --owner "Vornak V2.0" --caption "Format Results - Removable Disk(E:)" --timeout 30
answer --caption "Format Results - Removable Disk(E:)" OK
check $vk_win --id 1024 --text-is ""
check $vk_win --id 1023 --enabled 1 --checked 1
EOF
out=$(cat "$GUI_WORK/boot.out")
# 200 MiB: computed layout, F = 200, 4096-byte clusters; system files
# 8 * 364 * 512 = 1490944 bytes; available = total - system.
gui_expect_grep '^text="total disk space: 209489920 bytes\\n\\nsystem files use: 1490944\\n\\nbad sectors: 0 bytes\\n\\navailable on disk: 207998976 bytes\\n\\n\\n\\neach allocation unit: 4096 bytes\\n\\ntotal allocation units: 51145\\n"$' "$out"
gui_expect_grep '^args: E:/FS:FAT /A:4096/Q *$' "$(cat "$VK_FORMAT_LOG")"

# Wine writes the copies into the folder behind E: (not into the image).
for f in io.sys msdos.sys command.com; do
  cmp -s "$sys/$f" "$GUI_WORK/E/$f" || gui_fail "$f was not copied to E:"
done
[ ! -e "$GUI_WORK/E/extras" ] && [ ! -e "$GUI_WORK/E/readme.txt" ] ||
  gui_fail "the sys folder's sub-folder was copied"

gui_script quit <<EOF
click $vk_win --id 1
EOF
gui_wait_exit vornak 20
