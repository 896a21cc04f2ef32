#!/usr/bin/env bash
# A recording of each kind 0 to 5 typed into the source box and converted:
# the WAV appears next to the recording with the length the decoder wrote for
# the right input, the temporary files are gone, the caption shows the output
# path. A last conversion with the MP3 output switched on gives an MP3 too.
source "$(dirname "$0")/common.sh"
start_lirrow

caption=$W
n=0
# first byte, decoder, bytes the decoder reads (7 blocks and 300 bytes over)
for kind in '\005 Vrn_dec.exe 4396' '\004 Vrn_dec.exe 4396' '\003 Vrn_dec.exe 4396' \
            '\200 QL8_Dec.exe 3570' '\201 QL8_Dec.exe 3570' '\101 QL4_Dec.exe 3542'; do
  set -- $kind
  src=$(recording "kind$n.rec" "$1" 7 300)
  winsrc=$(gui_winpath "$src")
  out=${winsrc%.rec}.wav
  rm -f "$bin/standins.log"
  gui_script "convert$n" <<GD
type --window "$(q "$caption")" --exe lirrow.exe --id 1539 "$(q "$winsrc")"
check --window "$(q "$caption")" --exe lirrow.exe --id 1540 --enabled 1
click --window "$(q "$caption")" --exe lirrow.exe --id 1540
wait --window "$(q "$out")" --exe lirrow.exe
check --window "$(q "$out")" --exe lirrow.exe --enabled 1
GD
  [ -f "$voice/kind$n.wav" ] || gui_fail "kind $n: no WAV next to the recording"
  got=$(samples "$voice/kind$n.wav")
  [ "$got" = $((8 * $3)) ] || gui_fail "kind $n: $got samples, expected $((8 * $3))"
  grep -q "^$2|" "$bin/standins.log" || gui_fail "kind $n: $2 did not run: $(cat "$bin/standins.log")"
  for t in temp.sbs temp.wav tmp.wav; do
    [ ! -e "$tempdir/$t" ] || gui_fail "kind $n: $t left in the temporary folder"
  done
  gui_log "kind $n: $2, $got samples, caption $out"
  caption=$out
  n=$((n + 1))
done
gui_screenshot converted

# With the (hidden) MP3 output switched on, sqenc.exe runs as well.
src=$(recording "both.rec" '\201' 20)
winsrc=$(gui_winpath "$src")
gui_script mp3 <<GD
click --window "$(q "$caption")" --exe lirrow.exe --id 1538 --force
check --window "$(q "$caption")" --exe lirrow.exe --id 1538 --checked 1
type --window "$(q "$caption")" --exe lirrow.exe --id 1539 "$(q "$winsrc")"
click --window "$(q "$caption")" --exe lirrow.exe --id 1540
wait --window "$(q "${winsrc%.rec}.mp3")" --exe lirrow.exe
GD
[ -f "$voice/both.wav" ] && [ -f "$voice/both.mp3" ] || gui_fail "MP3 run: outputs missing"
mpg123 -q -w "$GUI_WORK/decoded.wav" "$voice/both.mp3" 2>/dev/null || gui_fail "mpg123 cannot read the MP3"
secs=$(soxi -D "$GUI_WORK/decoded.wav")
# 20 blocks of 510 stream bytes: 10.2 s of WAV; 36 ms frames.
awk -v s="$secs" 'BEGIN { exit !(s > 10.1 && s < 10.3) }' || gui_fail "MP3 lasts $secs s, expected about 10.2"
exit_lirrow "${winsrc%.rec}.mp3"
echo "kinds 0-5 converted by the right decoders; MP3 output encoded and kept"
