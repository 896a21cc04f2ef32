#!/usr/bin/env bash
# fmt.ini's English section replaces the dialog's texts key by key: captions
# of the dialog, its controls and the About box; a 150-character value is cut
# to 99 characters; keys that are absent keep their English defaults.
source "${GUI_HARNESS:?run this test through ctest}"
source "${VK_COMMON:?}"

long=$(printf 'L%.0s' $(seq 150))
cut=${long:0:99}
printf '%s\r\n' \
  '[409]' \
  'Title=Formatter Under Test' \
  'AboutTool=Tool line from fmt.ini' \
  'AboutMenu=About this tool' \
  "DlgItemVolume=$long" \
  'DlgItemStart="Go"' \
  'dlgitemexit = Leave' \
  '[804]' \
  'DlgItemQuick=Not this one' >"$(dirname "$VK_EXE")/fmt.ini"

vk_drive E 30
vk_start --env LANG=en_US.UTF-8 --env LC_ALL=en_US.UTF-8
win='--window "Formatter Under Test"'
gui_script texts <<EOF
wait $win
check $win --id 1009 --text-is "Go"
check $win --id 1 --text-is "Leave"
check $win --id 1016 --text-is "$cut"
check $win --id 1006 --text-is "Quick"
check $win --id 1012 --text-is "Drive:"
syscmd $win 0x10
check --window "About this tool" --id 1025 --text-is "Tool line from fmt.ini"
click --window "About this tool" --id 1
wait-gone --window "About this tool"
click $win --id 1
wait-exit --exe vornak.exe
EOF
gui_wait_exit vornak 10
echo "fmt.ini texts reach the dialog and the About box"
