# Both programs declare system DPI awareness; at 144 dpi (LogPixels 144, 150 %
# scaling) their dialogs grow with the system font, every control's text must
# fit its control (measured in the templates' font, MS Sans Serif 8), and the
# player's labels and owner-drawn buttons must grow with them. Screenshots:
# dpi_144-vornak.png, dpi_144-lirrow.png and their About boxes (-about).
source "${GUI_HARNESS:?run this test through ctest}"
# shellcheck source=../vornak/common.sh
source "${VK_COMMON:?}"
# shellcheck source=../lirrow_dialog/common.sh
source "${LR_COMMON:?}"

# Wine reads the screen's DPI from here when a program starts; the prefix is
# shared, so it gets 96 back before the harness ends the wineserver.
dpi_set() {
  timeout 60 wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f /reg:64 \
    </dev/null >/dev/null 2>&1
}
trap 'dpi_rc=$?; dpi_set 96; vk_cleanup; (exit $dpi_rc); _gui_on_exit' EXIT
dpi_set 144 || gui_fail "cannot set LogPixels"
wineserver -k; timeout 20 wineserver -w; _gui_restart_wineserver

font=(--font "MS Sans Serif" --points 8 --dpi 144)

# vornak: the main dialog with a drive.
vk_drive E 62
vk_start
gui_do wait --window "Vornak V2.0"
gui_do check --window "Vornak V2.0" --id 1010 --text-is "62.00M"
gui_do fit --window "Vornak V2.0" "${font[@]}"
gui_screenshot vornak
gui_do syscmd --window "Vornak V2.0" 16
gui_do fit --window "About Vornak" "${font[@]}"
gui_screenshot vornak-about
gui_do click --window "About Vornak" --id 1
gui_do wait-gone --window "About Vornak"
gui_do click --window "Vornak V2.0" --id 1
gui_wait_exit vornak 20

# lirrow: the main dialog with a WAV file in the player, so that its name and
# time labels hold text.
media=$GUI_WORK/media
mkdir -p "$media"
sox -n -r 8000 -c 1 -b 16 "$media/tone.wav" synth 2.5 sine 440 vol 0.3 || gui_fail "sox cannot make the WAV"
wav=$(gui_winpath "$media/tone.wav")
W="Lirrow Tool 2.0"
exe=$(gui_copy_program "$GUI_PROGRAM_lirrow")
gui_start app "$exe" --cwd "$GUI_WORK/bin"
gui_do wait --window "$W"
main=$W
open_file "$wav"
gui_do check --window "$wav" --id 14 --text-is "0:00 / 0:02"
out=$(gui_driver fit --window "$wav" "${font[@]}") || gui_fail "texts do not fit: $out"
echo "$out"
# The player's owner-drawn buttons are laid out in pixels: at 144 dpi they
# must be half as large again as the 30x24 they have at 96 dpi.
buttons=$(grep -c 'owner-drawn' <<<"$out")
[ "$buttons" -eq 3 ] || gui_fail "expected the player's 3 owner-drawn buttons, found $buttons"
while read -r w h; do
  [ "$w" -ge 45 ] && [ "$h" -ge 36 ] || gui_fail "an owner-drawn button is ${w}x$h at 144 dpi, not 45x36 or more"
done < <(sed -n 's/.*owner-drawn client=\([0-9]*\)x\([0-9]*\).*/\1 \2/p' <<<"$out")
gui_screenshot lirrow
gui_do syscmd --window "$wav" 16
gui_do fit --window "About Lirrow Tool" "${font[@]}"
gui_screenshot lirrow-about
gui_do click --window "About Lirrow Tool" --id 1
gui_do wait-gone --window "About Lirrow Tool"
gui_do syscmd --window "$wav" close
gui_wait_exit app 20
