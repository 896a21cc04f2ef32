# Open through the system's file dialog: an MP3 and a WAV file load the
# player (title, path box, total time on the player, Convert disabled), a
# recording only fills the path box, any other file is refused with
# "Unsupport Format", and Cancel changes nothing.
source "${GUI_HARNESS:?run this test through ctest}"

W="Lirrow Tool 2.0"
bin=$GUI_WORK/bin
exe=$(gui_copy_program "$GUI_PROGRAM_lirrow")
media=$GUI_WORK/media
mkdir -p "$media"

# Media made by independent tools: 2.5 s of tone at 8 kHz, and its MP3.
sox -n -r 8000 -c 1 -b 16 "$media/tone.Wav" synth 2.5 sine 440 vol 0.3 || gui_fail "sox cannot make the WAV"
lame --quiet -b 32 "$media/tone.Wav" "$media/SONG.MP3" || gui_fail "lame cannot make the MP3"
printf '\201recording' >"$media/memo.rcd"
printf 'just text\r\n' >"$media/notes.txt"
printf 'RIFF-not-really-a-wave' >"$media/broken.wav"

mp3=$(gui_winpath "$media/SONG.MP3")
wav=$(gui_winpath "$media/tone.Wav")
rcd=$(gui_winpath "$media/memo.rcd")
txt=$(gui_winpath "$media/notes.txt")
broken=$(gui_winpath "$media/broken.wav")
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

gui_start app "$exe" --cwd "$bin"
gui_do wait --window "$W"
main=$W

# An MP3 file, its extension in capitals.
open_file "$mp3"
main=$mp3
gui_script mp3 <<GD
check --window "$(q "$mp3")" --id 1539 --text-is "$(q "$mp3")"
check --window "$(q "$mp3")" --id 1540 --enabled 0
check --window "$(q "$mp3")" --id 14 --text-is "0:00 / 0:02"
check --window "$(q "$mp3")" --id 10 --text-is "Play" --enabled 1 --visible 1
GD
gui_screenshot loaded-mp3

# A WAV file, played, paused and stopped with the player's buttons.
open_file "$wav"
main=$wav
gui_script wav <<GD
check --window "$(q "$wav")" --id 1539 --text-is "$(q "$wav")"
check --window "$(q "$wav")" --id 14 --text-is "0:00 / 0:02"
check --window "$(q "$wav")" --id 1045 --text-is "0:00:02" --visible 0
click --window "$(q "$wav")" --id 10
check --window "$(q "$wav")" --id 14 --text-is "0:01 / 0:02"
click --window "$(q "$wav")" --id 11
check --window "$(q "$wav")" --id 10 --enabled 1
check --window "$(q "$wav")" --id 12 --enabled 1
click --window "$(q "$wav")" --id 12
check --window "$(q "$wav")" --id 14 --text-is "0:00 / 0:02"
check --window "$(q "$wav")" --id 12 --enabled 0
GD

# A recording: only the path box changes, and Convert becomes available.
open_file "$rcd"
gui_script rcd <<GD
check --window "$(q "$wav")" --id 1539 --text-is "$(q "$rcd")"
check --window "$(q "$wav")" --id 1540 --enabled 1
check --window "$(q "$wav")" --id 14 --text-is "0:00 / 0:02"
GD

# Any other file, chosen through "All Files": refused, nothing changes.
open_file "$txt" 3
gui_script txt <<GD
msgbox --caption Lirrow --expect-text "Unsupport Format" --expect-icon hand --expect-buttons 1 --answer 1
check --window "$(q "$wav")" --id 1539 --text-is "$(q "$rcd")"
GD

# A WAV file the player cannot load: its error code, then the system's text
# for it; the title still names the file and nothing is loaded.
open_file "$broken"
gui_script broken <<GD
msgbox --caption Lirrow --expect-text "System Error Code :50" --expect-icon exclamation --answer 1
msgbox --caption Lirrow --expect-icon exclamation --answer 1
check --window "$(q "$broken")" --id 1539 --text-is "$(q "$broken")"
check --window "$(q "$broken")" --id 1045 --text-is "0:00:00"
check --window "$(q "$broken")" --id 10 --enabled 0
GD
main=$broken

# Cancel in the file dialog.
gui_script cancel <<GD
click --window "$(q "$broken")" --id 1536
wait --window Open --class "#32770"
click --window Open --class "#32770" --id 2 --ctl-class Button
wait-gone --window Open --class "#32770"
check --window "$(q "$broken")" --id 1539 --text-is "$(q "$broken")"
click --window "$(q "$broken")" --id 1541
GD
gui_wait_exit app 20
gui_log "passed"
