#!/usr/bin/env bash
# vornak on a system without a removable drive: the Retry/Cancel box, again on
# each Retry (a new box every time), and Cancel ends the program without the
# main dialog ever showing.
source "${GUI_HARNESS:?run this test through ctest}"

# The precondition: this prefix offers no removable drive. A test that adds one
# must work on its own prefix copy or take it away again.
for d in "$WINEPREFIX"/dosdevices/?:; do
  case "$(basename "$d")" in
    c: | z:) ;;
    *) gui_fail "the prefix has an extra drive $(basename "$d") -> $(readlink "$d")" ;;
  esac
done
if grep -qi '"floppy"' "$WINEPREFIX/system.reg" 2>/dev/null; then
  gui_fail "the prefix's registry declares a floppy drive (HKLM\\Software\\Wine\\Drives)"
fi

# A copy of its own, so that no fmt.ini lies beside the program.
exe=$(gui_copy_program "$GUI_PROGRAM_vornak")
gui_start vornak "$exe" --env LANG=en_US.UTF-8 --env LC_ALL=en_US.UTF-8

box='msgbox --caption "Format" --exe vornak.exe --expect-text "Removable Disk Drive Not Find!" --expect-icon exclamation --expect-buttons 4,2'
gui_script boxes <<EOF
$box --answer Retry
$box --answer Retry
$box
windows
answer --caption "Format" --exe vornak.exe Cancel
wait-exit --exe vornak.exe
EOF
out=$(cat "$GUI_WORK/boxes.out")
n=$(grep -E '^msgbox ' <<<"$out" | sed -E 's/.*hwnd=(0x[0-9A-F]+).*/\1/' | sort -u | wc -l)
[ "$n" -eq 3 ] || gui_fail "expected three distinct no-drive boxes, saw $n"
# While the box is up, no other window of vornak is visible (the main dialog
# must not show before a drive is found).
others=$(grep -E '^window .*exe="vornak.exe"' <<<"$out" | grep -v 'class="#32770" text="Format"')
[ -z "$others" ] || gui_fail "vornak showed another window beside the no-drive box:
$others"
gui_wait_exit vornak 10
echo "no-drive box: Retry shows it again, Cancel ends vornak (exit status $GUI_EXIT_CODE)"
