#!/usr/bin/env bash
# lirrow on Windows 95/98/ME without a usable Layer for Unicode: with the 9x
# branch forced and no unicows.dll beside the program ("missing"), or the
# stand-in that lacks CopyFileW and mciSendStringW ("incomplete": the notice
# names the first of them), it says so in a message box captioned "Lirrow",
# never shows its dialog, and exits with code 1 once the box is answered.
source "${GUI_HARNESS:?run this test through ctest}"

case "${1:-}" in
  missing)
    text='Lirrow needs the Microsoft Layer for Unicode (unicows.dll) on Windows 95, 98 and Me.\nCopy unicows.dll into the Lirrow folder and start Lirrow again.' ;;
  incomplete)
    text='The Microsoft Layer for Unicode (unicows.dll) in use lacks CopyFileW, which Lirrow needs.\nCopy the current unicows.dll into the Lirrow folder and start Lirrow again.' ;;
  *) gui_fail "usage: no_layer.sh missing|incomplete" ;;
esac

exe=$(gui_copy_program "$GUI_PROGRAM_lirrow")
bin=$(dirname "$exe")
log=$GUI_WORK/unicows.log
if [ "$1" = incomplete ]; then
  cp "$GUI_PROGRAM_standin_unicows_incomplete" "$bin/unicows.dll" || gui_fail "cannot copy the stand-in"
fi
[ "$1" = incomplete ] || [ ! -e "$bin/unicows.dll" ] || gui_fail "a unicows.dll beside the program"

# Wine would otherwise load a unicows.dll of its own.
gui_start lirrow "$exe" --cwd "$bin" --env LIRROW_TEST_WINDOWS_9X=1 \
  --env "UNICOWS_STANDIN_LOG=$(gui_winpath "$log")" \
  --env "WINEDLLOVERRIDES=${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}unicows=n" \
  --env LANG=en_US.UTF-8 --env LC_ALL=en_US.UTF-8
gui_script notice <<GD
msgbox --caption Lirrow --exe lirrow.exe --expect-text "$text"
windows
answer --caption Lirrow --exe lirrow.exe OK
wait-exit --exe lirrow.exe
GD
grep -q 'text="Lirrow Tool 2.0"' "$GUI_WORK/notice.out" && gui_fail "the main dialog was shown beside the notice"
gui_wait_exit lirrow 10
[ "$GUI_EXIT_CODE" = 1 ] || gui_fail "exit code $GUI_EXIT_CODE after the notice, expected 1"
echo "Layer for Unicode $1: the notice, no dialog, exit code 1"
