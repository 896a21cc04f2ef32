#!/usr/bin/env bash
# The main job on its embedded default: builds the two command-line front
# ends, formats a 64 MiB image file in Quick mode with a label (the same run
# as the Windows dialog's), prints the results report and fsck.fat's
# verdict, then converts a synthetic recording of each framed kind with the
# stand-in decoders and encoder and prints the outputs and their lengths.
#
# Usage: scripts/run.sh [OUTPUT_DIR]   (default: build/run)
# SKIP_INSTALL=1 installs nothing (the check of the packages still runs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/run}
# A tree of its own with the programs only: no test or benchmark libraries,
# so that the job needs no more than a compiler, CMake, Ninja, NASM and
# dosfstools (scripts/packages.txt, group run).
build=$root/build/cli

SKIP_INSTALL=${SKIP_INSTALL:-0}
[ "$SKIP_INSTALL" = 1 ] || "$root/scripts/install-deps.sh" run
"$root/scripts/check-deps.sh" run >/dev/null
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DBUILD_TESTING=OFF -DBUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target vornak-cli lirrow-cli lirrow_standins >/dev/null
vornak=$build/vornak/cli/vornak-cli
lirrow=$build/lirrow/cli/lirrow-cli
tools=$build/tools/standins

rm -rf "$out"
mkdir -p "$out"

echo "== Formatting a 64 MiB disk image (Quick, label PLAYER) =="
"$vornak" format "$out/player.img" --size 64M --label PLAYER --mode quick --yes
echo
echo "== fsck.fat -n =="
if fsck.fat -n "$out/player.img"; then
  echo "verdict: clean"
else
  echo "verdict: fsck.fat found faults" >&2
  exit 1
fi

# A framed recording: the kind byte, the rest of the 512-byte header block,
# then `blocks` 512-byte data blocks of a fixed pattern.
recording() {
  local file=$1 kind=$2 blocks=$3
  {
    printf "\\x$kind"
    head -c 511 /dev/zero
    (yes 'voice memo' || true) | head -c $((blocks * 512))
  } >"$file"
}

echo
echo "== Converting synthetic recordings with the stand-in tools =="
recording "$out/memo80.rec" 80 40   # 10-byte frames, QL8_Dec.exe
recording "$out/memo81.rcd" 81 60   # 10-byte frames, QL8_Dec.exe
recording "$out/memo41.ovk" 41 80   # 22-byte frames, QL4_Dec.exe
for f in memo80.rec memo81.rcd memo41.ovk; do
  echo "-- $f: kind $("$lirrow" classify "$out/$f")"
  "$lirrow" convert "$out/$f" --mp3 --tools "$tools"
done
