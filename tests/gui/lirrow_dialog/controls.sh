# The main dialog's controls: the Convert button following the typed path,
# Esc doing nothing, the About box, Help starting hh.exe with the start
# folder and the help page, Close and Exit deleting tempMP3.mp3.
source "${GUI_HARNESS:?run this test through ctest}"

W="Lirrow Tool 2.0"
bin=$GUI_WORK/bin
exe=$(gui_copy_program "$GUI_PROGRAM_lirrow")
record=$GUI_WORK/hh.txt

# hh.exe in the prefix's Windows folder is replaced by a recorder for this
# test and put back at the end, whatever happens.
hh="$WINEPREFIX/drive_c/windows/hh.exe"
[ -f "$hh" ] || gui_fail "no hh.exe in the prefix ($hh)"
cp -f "$hh" "$GUI_WORK/hh.exe.saved" || gui_fail "cannot save hh.exe"
trap '_rc=$?; cp -f "$GUI_WORK/hh.exe.saved" "$hh"; (exit $_rc); _gui_on_exit' EXIT
cp -f "$GUI_PROGRAM_lirrow_test_hh" "$hh" || gui_fail "cannot install the hh.exe recorder"

wait_record() {
  local i
  for i in $(seq 1 100); do [ -s "$record" ] && return 0; sleep 0.1; done
  gui_fail "hh.exe was not started (no $record)"
}

# ---- first run: English defaults, ended by Close --------------------------
printf 'old' >"$bin/tempMP3.mp3"
gui_start app "$exe" --cwd "$bin" --env "HH_RECORD=$(gui_winpath "$record")"
gui_script first <<GD
wait --window "$W"
check --window "$W" --id 1540 --text-is "Convert" --enabled 0
check --window "$W" --id 1536 --text-is "Open"
check --window "$W" --id 1031 --text-is "Help"
check --window "$W" --id 1541 --text-is "Exit"
check --window "$W" --id 1537 --visible 0 --checked 1
check --window "$W" --id 1538 --visible 0 --checked 0
type --chars --window "$W" --id 1539 "C:\\voice\\MEMO.REC"
check --window "$W" --id 1540 --enabled 1
type --chars --window "$W" --id 1539 "C:\\voice\\memo.rec.bak"
check --window "$W" --id 1540 --enabled 0
type --window "$W" --id 1539 "C:\\voice\\memo.Ovk"
check --window "$W" --id 1540 --enabled 1
type --window "$W" --id 1539 "C:\\voice\\memo"
check --window "$W" --id 1540 --enabled 0
key --window "$W" --id 1539 esc
sleep 500
key --window "$W" esc
sleep 500
check --window "$W" --id 1539 --text-is "C:\\voice\\memo" --enabled 1
syscmd --window "$W" 16
wait --window "About Lirrow Tool"
check --window "About Lirrow Tool" --id 1014 --text-is "Lirrow Version 2.0"
check --window "About Lirrow Tool" --id 1015 --text-has "2003"
check --window "About Lirrow Tool" --id 1 --text-is "OK"
GD
gui_screenshot about
gui_script first-2 <<GD
click --window "About Lirrow Tool" --id 1
wait-gone --window "About Lirrow Tool"
click --window "$W" --id 1031
GD
wait_record
expected="$(gui_winpath "$bin")\\helpen.htm"
got=$(cat "$record")
[ "$got" = "$expected" ] || gui_fail "hh.exe got \"$got\", wanted \"$expected\""
gui_log "hh.exe got $got"
# Minimised and restored, the dialog keeps working.
gui_script minimise <<GD
syscmd --window "$W" minimize
check --window "$W" --minimized 1
syscmd --window "$W" restore
check --window "$W" --minimized 0
check --window "$W" --id 1539 --enabled 1
GD
gui_do syscmd --window "$W" close
gui_wait_exit app 20
[ ! -e "$bin/tempMP3.mp3" ] || gui_fail "Close left tempMP3.mp3 in the start folder"

# ---- second run: started from another folder (as from a shortcut): the
# texts still come from the INI file beside the program, while Help and Exit
# use the folder it was started in.
cwd=$GUI_WORK/elsewhere
mkdir -p "$cwd"
printf '[409]\r\nHelpFile=guide page.htm\r\nIDC_OPEN=&Browse\r\nTitle=Converter\r\n' >"$bin/lirrow.ini"
printf 'old' >"$cwd/tempMP3.mp3"
printf 'old' >"$bin/tempMP3.mp3"
rm -f "$record"
gui_start app2 "$exe" --cwd "$cwd" --env "HH_RECORD=$(gui_winpath "$record")"
gui_script second <<GD
wait --window "Converter"
check --window "Converter" --id 1536 --text-is "&Browse"
check --window "Converter" --id 1541 --text-is "Exit"
click --window "Converter" --id 1031
GD
wait_record
expected="$(gui_winpath "$cwd")\\guide page.htm"
got=$(cat "$record")
[ "$got" = "$expected" ] || gui_fail "hh.exe got \"$got\", wanted \"$expected\""
gui_do click --window "Converter" --id 1541
gui_wait_exit app2 20
[ ! -e "$cwd/tempMP3.mp3" ] || gui_fail "Exit left tempMP3.mp3 in the start folder"
[ -e "$bin/tempMP3.mp3" ] || gui_fail "Exit deleted tempMP3.mp3 beside the program instead of in the start folder"
gui_log "passed"
