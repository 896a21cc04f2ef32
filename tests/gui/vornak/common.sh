# Shared set-up of the formatter's end-to-end tests under Wine: image-backed
# removable drives, the stand-in format.com, and a copy of vornak.exe with its
# own folder. Sourced after the harness (lib.sh).
#
#   vk_drive E 62 [OPTIONS]   drive E: over a fresh 62 MiB image ($GUI_WORK/E.img);
#                             OPTIONS go to the drive's line (unplugged, bad=...)
#   vk_plug E / vk_unplug E   edit the drive's line (then tell the program)
#   vk_start                  starts vornak.exe with the drives and the stand-in
#   vk_win                    the driver option naming the main dialog
#
# Everything put into the prefix (drive links, format.com) is removed on exit.

VK_EXE=$(gui_copy_program "${GUI_PROGRAM_vornak:?}")
VK_DRIVES=$GUI_WORK/drives.txt
VK_FORMAT_LOG=$GUI_WORK/format.log
# A 32-bit program on a 64-bit prefix sees C:\windows\syswow64 as system32.
VK_STUBS=("$WINEPREFIX/drive_c/windows/system32/format.com")
[ -d "$WINEPREFIX/drive_c/windows/syswow64" ] &&
  VK_STUBS+=("$WINEPREFIX/drive_c/windows/syswow64/format.com")
VK_LINKS=()
: >"$VK_DRIVES"

vk_cleanup() {
  local l
  for l in "${VK_LINKS[@]}"; do rm -f "$l"; done
  rm -f "${VK_STUBS[@]}" "$WINEPREFIX/drive_c/windows/tmptmp.tmp"
}
trap 'vk_rc=$?; vk_cleanup; (exit $vk_rc); _gui_on_exit' EXIT

for f in "${VK_STUBS[@]}"; do
  # A stand-in left by an interrupted run may be replaced; anything else not.
  [ ! -e "$f" ] || cmp -s "$f" "${VK_FORMAT_STUB:?}" ||
    gui_fail "$f exists already and is not the stand-in: this test would replace it"
  cp "${VK_FORMAT_STUB:?}" "$f" || gui_fail "cannot install the stand-in format.com"
done

# vk_drive LETTER MIB [OPTIONS...]
vk_drive() {
  local letter=$1 mib=$2
  shift 2
  local lower=${letter,,}
  local img=$GUI_WORK/$letter.img dir=$GUI_WORK/$letter
  rm -f "$img"
  truncate -s "${mib}M" "$img"
  mkdir -p "$dir"
  local dev=$WINEPREFIX/dosdevices
  local l
  for l in "$dev/$lower:" "$dev/$lower::"; do
    # Links left by an interrupted run of these tests point into gui-work.
    if [ -L "$l" ] && [[ "$(readlink "$l")" == */gui-work/vornak_* ]]; then rm -f "$l"; fi
    [ -e "$l" ] || [ -L "$l" ] && gui_fail "drive $letter: exists in the prefix already"
  done
  ln -s "$dir" "$dev/$lower:"
  ln -s "$img" "$dev/$lower::"
  VK_LINKS+=("$dev/$lower:" "$dev/$lower::")
  echo "$letter: $(gui_winpath "$img") $*" >>"$VK_DRIVES"
}

vk_unplug() { sed -i -E "s/^($1: [^ ]+)( unplugged)?(.*)$/\1 unplugged\3/" "$VK_DRIVES"; }
vk_plug() { sed -i -E "s/^($1: [^ ]+) unplugged/\1/" "$VK_DRIVES"; }

vk_start() {
  gui_start vornak "$VK_EXE" --env "VORNAK_TEST_DRIVES=$(gui_winpath "$VK_DRIVES")" \
    --env "FORMAT_STUB_LOG=$(gui_winpath "$VK_FORMAT_LOG")" "$@"
}

vk_win='--window "Vornak V2.0"'

# vk_fat_entry IMAGE FAT_START_SECTOR CLUSTER: the 16-bit FAT entry, in hex.
vk_fat_entry() {
  od -An -tx2 -j $(($2 * 512 + $3 * 2)) -N2 "$1" | tr -d ' '
}
