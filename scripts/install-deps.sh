#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need. Idempotent and
# non-interactive: does nothing when everything is already there.
set -euo pipefail

packages=(cmake ninja-build g++ clang-format googletest libgtest-dev libbenchmark-dev
          mingw-w64 wine wine32 wine64 xvfb imagemagick
          gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-good:i386
          dosfstools mtools lame mpg123 sox nasm qemu-system-x86 e2fsprogs
          clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  if [ "$p" = wine32 ]; then q="wine32:i386"; else q="$p"; fi
  dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed" || missing+=("$q")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: packages missing and not running as root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]/wine32:i386/wine32}" </dev/null
