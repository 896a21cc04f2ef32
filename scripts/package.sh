#!/usr/bin/env bash
# Builds the zip for Windows users: the release programs (build/release), the
# help pages, sample fmt.ini and lirrow.ini written from the programs' own
# text tables, and a README.txt. The version comes from the programs' version
# resources, and both programs must carry the same one.
# It also builds the Debian package of the two Linux front ends
# (scripts/make-deb.sh) from the native tree.
# Usage: scripts/package.sh [OUTPUT_DIR]     (default: build/package)
# Prints the path of the .deb, then the path of the zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=${1:-build/package}

"$root/scripts/build.sh" release >&2
if [ ! -f build/native/CMakeCache.txt ]; then
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build/native --target sample_ini vornak-cli lirrow-cli >&2

vornak=build/release/vornak/app/vornak.exe
lirrow=build/release/lirrow/app/lirrow.exe
version_of() {
  PYTHONDONTWRITEBYTECODE=1 python3 -c 'import sys; sys.path.insert(0, sys.argv[1])
from pe import PeImage
print(PeImage(sys.argv[2]).file_version() or "")' "$root/tests/imports" "$1"
}
version=$(version_of "$vornak")
if [ -z "$version" ] || [ "$version" != "$(version_of "$lirrow")" ]; then
  echo "package.sh: vornak.exe ($version) and lirrow.exe ($(version_of "$lirrow")) differ in version" >&2
  exit 1
fi

name=vornak-lirrow-$version-win32
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir=$stage/$name
mkdir "$dir"
cp "$vornak" "$lirrow" "$dir/"
cp lirrow/res/helpen.htm lirrow/res/helpch.htm lirrow/res/helpfan.htm "$dir/"
build/native/tools/package/sample_ini vornak >"$dir/fmt.ini"
build/native/tools/package/sample_ini lirrow >"$dir/lirrow.ini"

sed 's/$/\r/' >"$dir/README.txt" <<EOF
Vornak and Lirrow $version
==========================

The desktop tools of the MP3 player. Both are programs for 32-bit Windows
and need no installation: unpack the folder anywhere and start them.

vornak.exe - the disk formatter
  Formats the player's flash memory, which Windows shows as a removable
  disk, with the player's own FAT16 file system: Quick, Full or Low mode
  (Low writes and checks every sector and marks bad ones), with a volume
  label, optionally bootable: for a bootable disk, put the start-up files
  of the system (io.sys first) into a folder named "sys" beside vornak.exe.
  On Windows Vista and later vornak.exe asks for administrator rights when
  it starts: Windows lets only administrators write a disk sector by sector.
  ALL DATA ON THE DISK IS LOST when it is formatted.

lirrow.exe - the recording converter
  Converts the player's voice recordings (.ovk, .rcd, .rec) to WAV files,
  and on to MP3 when "Output .MP3 file" is chosen, and plays WAV and MP3
  files. The conversion is done by the decoder and encoder programs that
  come with the player: copy Vrn_dec.exe, QL8_Dec.exe, QL4_Dec.exe and
  sqenc.exe into the folder lirrow.exe is started from (normally the folder
  of lirrow.exe itself). lirrow.exe names the program it is missing.
  Playing needs the Windows Media Player 6.4 control (msdxm.ocx).

Help pages
  helpen.htm (English), helpch.htm (Simplified Chinese) and helpfan.htm
  (Traditional Chinese), opened by lirrow's Help button. Keep them beside
  lirrow.exe.

Texts
  fmt.ini and lirrow.ini hold every text of the programs in English. Keep
  them beside the programs to change the texts; delete them to use the
  built-in texts (English, or Chinese on a Chinese system).

Supported systems
  Windows 98 SE and ME, Windows 2000, Windows XP, and Windows Vista to 11.
  On Windows 98 and ME, lirrow.exe needs the Microsoft Layer for Unicode:
  copy unicows.dll (from Microsoft) into the folder of lirrow.exe or into
  the Windows system folder. vornak.exe needs nothing more.

Version $version of both programs.
EOF

"$root/scripts/make-deb.sh" build/native "$out"
rm -f "$out/$name.zip"
(cd "$stage" && zip -q -X -r "$out/$name.zip" "$name")
echo "$out/$name.zip"
