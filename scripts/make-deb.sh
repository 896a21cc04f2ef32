#!/usr/bin/env bash
# Builds the Debian package of the two Linux front ends from a built native
# tree: what `cmake --install` puts under /usr, with the binaries stripped,
# the manual pages compressed, the copyright and changelog Debian expects,
# and the dependencies dpkg-shlibdeps finds plus mtools (vornak-cli copies
# the start-up files with it); lame and wine are suggested for lirrow-cli.
# Usage: scripts/make-deb.sh BUILD_DIR OUTPUT_DIR     Prints the .deb's path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "make-deb: no project version in $build/CMakeCache.txt" >&2; exit 1; }
arch=$(dpkg --print-architecture)
package=vornak-lirrow

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null

strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage"/usr/bin/*
gzip -9n "$stage"/usr/share/man/man1/*.1
doc=$stage/usr/share/doc/$package
mkdir -p "$doc"
cat >"$doc/copyright" <<COPYRIGHT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: vornak-lirrow

Files: *
Copyright: 2026 The Vornak and Lirrow developers
License: MIT
 Permission is hereby granted, free of charge, to any person obtaining a copy
 of this software and associated documentation files (the "Software"), to deal
 in the Software without restriction, including without limitation the rights
 to use, copy, modify, merge, publish, distribute, sublicense, and/or sell
 copies of the Software, and to permit persons to whom the Software is
 furnished to do so, subject to the following conditions:
 .
 The above copyright notice and this permission notice shall be included in
 all copies or substantial portions of the Software.
 .
 THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR
 IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY,
 FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE
 AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER
 LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM,
 OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE
 SOFTWARE.
COPYRIGHT
cat >"$work/changelog" <<CHANGELOG
$package ($version) unstable; urgency=medium

  * The Linux front ends vornak-cli and lirrow-cli, with manual pages and
    bash completion.

 -- Vornak and Lirrow developers <developers@vornak-lirrow.invalid>  $(date -R -d @"${SOURCE_DATE_EPOCH:-1765238400}")
CHANGELOG
gzip -9n -c "$work/changelog" >"$doc/changelog.gz"
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage"/usr/bin/*

# The shared libraries the binaries need, as dpkg-shlibdeps names them; it
# reads a debian/control, so it runs in a scratch source folder.
mkdir -p "$work/src/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$package" "$package" >"$work/src/debian/control"
shlibs=$(cd "$work/src" && dpkg-shlibdeps -O "$stage"/usr/bin/* 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "make-deb: dpkg-shlibdeps found no libraries" >&2; exit 1; }

mkdir -p "$stage/DEBIAN"
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/md5sums"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: $package
Version: $version
Architecture: $arch
Maintainer: Vornak and Lirrow developers <developers@vornak-lirrow.invalid>
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $shlibs, mtools
Suggests: lame, wine
Section: utils
Priority: optional
Description: format the MP3 player's disk and convert its voice recordings
 vornak-cli lays the player's own FAT16 file system on its removable disk or
 on a disk image (Quick, Full or Low mode, optionally bootable, with a volume
 label) and prints the capacity report in English or Chinese.
 .
 lirrow-cli converts the player's voice recordings (.ovk, .rcd, .rec) to WAV
 and MP3 with the player's decoder programs, and measures WAV and MP3 files.
CONTROL

deb=$out/${package}_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
