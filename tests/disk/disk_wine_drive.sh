#!/usr/bin/env bash
# Maps a drive letter of the running Wine prefix to an image file, runs the
# sector tests of disk_win32_test.exe through \\.\Y:, then checks the image
# from Linux and removes the mapping again.
# Usage: disk_wine_drive.sh TEST_EXE WORK_DIR
set -u
exe=$1
mkdir -p "$2" && work=$(cd "$2" && pwd)
: "${WINEPREFIX:?run inside the Wine session (scripts/wine-session.sh)}"
letter=y
dd_dir="$WINEPREFIX/dosdevices"
if [ -e "$dd_dir/$letter:" ] || [ -e "$dd_dir/$letter::" ]; then
  echo "drive $letter: already exists in $WINEPREFIX" >&2
  exit 1
fi
mkdir -p "$work/root"
image="$work/disk.img"
rm -f "$image"
truncate -s $((2048 * 512)) "$image"
printf 'SECTOR7.%.0s' $(seq 64) | dd of="$image" bs=512 seek=7 conv=notrunc status=none

# \\.\Y: is looked up in dosdevices when it is opened: no wineserver
# restart is needed (the drive type would need one; it is not used here).
cleanup() { rm -f "$dd_dir/$letter:" "$dd_dir/$letter::"; }
trap cleanup EXIT
ln -s "$work/root" "$dd_dir/$letter:"
ln -s "$image" "$dd_dir/$letter::"

VORNAK_WINE_DRIVE=Y: wine "$exe" --gtest_filter='Win32WineDrive.*' </dev/null
rc=$?
[ $rc -eq 0 ] || { echo "disk_win32_test failed ($rc)" >&2; exit 1; }

# Sectors 100..131 hold the pattern, and nothing around them was touched.
want=$(printf 'WRITTEN!%.0s' $(seq $((32 * 64))))
got=$(dd if="$image" bs=512 skip=100 count=32 status=none)
[ "$got" = "$want" ] || { echo "sectors 100..131 do not hold the written pattern" >&2; exit 1; }
for s in 99 132; do
  if [ -n "$(dd if="$image" bs=512 skip=$s count=1 status=none | tr -d '\0')" ]; then
    echo "sector $s was changed" >&2; exit 1
  fi
done
[ "$(stat -c %s "$image")" -eq $((2048 * 512)) ] || { echo "image size changed" >&2; exit 1; }
echo "disk_wine_drive: OK"
