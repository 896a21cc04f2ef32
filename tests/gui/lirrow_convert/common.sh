# Shared set-up of the conversion tests: lirrow.exe and the four stand-in
# tools in one folder, which is also the start folder; recordings in $voice.
source "${GUI_HARNESS:?run this test through ctest}"

W="Lirrow Tool 2.0"
bin=$GUI_WORK/bin
voice=$GUI_WORK/voice
mkdir -p "$voice"
exe=$(gui_copy_program "$GUI_PROGRAM_lirrow" "$bin")
for tool in standin_Vrn_dec standin_QL8_Dec standin_QL4_Dec standin_sqenc; do
  var=GUI_PROGRAM_$tool
  gui_copy_program "${!var}" "$bin" >/dev/null
done
rm -f "$bin"/*.ctl "$bin/standins.log"

# The program's temporary folder (GetTempPath) as a Linux path.
tempdir=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp 2>/dev/null | head -n 1)
[ -d "$tempdir" ] || gui_fail "no temporary folder in the prefix"
clear_temp() { rm -f "$tempdir/temp.sbs" "$tempdir/temp.wav" "$tempdir/tmp.wav"; }
clear_temp

# The driver reads backslashes in quoted words as escapes: double them.
q() { printf '%s' "${1//\\/\\\\}"; }

# recording NAME FIRST-BYTE(octal escape) BLOCKS [TAIL]: a recording of a
# 512-byte header and BLOCKS data blocks of pseudo-random bytes.
recording() {
  local path=$voice/$1
  { printf "$2"; head -c 511 /dev/zero; head -c $((512 * $3 + ${4:-0})) /dev/urandom; } >"$path"
  echo "$path"
}

# Samples of a WAV file as sox reads them.
samples() { soxi -s "$1" 2>/dev/null; }

start_lirrow() {
  gui_start lirrow "$exe" --cwd "$bin" --env LANG=en_US.UTF-8 --env LC_ALL=en_US.UTF-8
  gui_do wait --window "$W" --exe lirrow.exe >/dev/null
}

# Standard ending: Exit, and the program ends.
exit_lirrow() {
  local caption=$1
  gui_script exit <<GD
click --window "$(q "$caption")" --exe lirrow.exe --id 1541
wait-exit --exe lirrow.exe
GD
  gui_wait_exit lirrow 10
}
