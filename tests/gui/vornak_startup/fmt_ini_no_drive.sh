#!/usr/bin/env bash
# fmt.ini beside vornak.exe replaces the no-drive text of the English section
# (blanks and quotes stripped); the other sections are not used.
source "${GUI_HARNESS:?run this test through ctest}"

exe=$(gui_copy_program "$GUI_PROGRAM_vornak")
printf '%s\r\n' \
  '[804]' \
  'MsgNoFindDisk=Simplified section' \
  '[409]' \
  'MsgNoFindDisk =   "  Plug in the player, then Retry"  ' \
  '[404]' \
  'MsgNoFindDisk=Traditional section' >"$(dirname "$exe")/fmt.ini"

gui_start vornak "$exe" --env LANG=en_US.UTF-8 --env LC_ALL=en_US.UTF-8
box='msgbox --caption "Format" --exe vornak.exe --expect-text "  Plug in the player, then Retry" --expect-icon exclamation --expect-buttons 4,2'
gui_script boxes <<EOF
$box --answer Retry
$box --answer Cancel
wait-exit --exe vornak.exe
EOF
gui_wait_exit vornak 10
echo "fmt.ini no-drive text shown, Retry and Cancel work (exit status $GUI_EXIT_CODE)"
