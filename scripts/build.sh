#!/usr/bin/env bash
# Builds both trees: build/native (Debian g++) and build/windows (mingw-w64:
# i686, or x86_64 where Wine cannot run 32-bit programs; see wine-arch.sh).
# Usage: scripts/build.sh [native|windows|fuzz]...   (default: native windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${JOBS:-$(nproc)}
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(native windows)
# A developer machine with ccache rebuilds faster; the result is the same.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

for t in "${trees[@]}"; do
  case "$t" in
    native)
      cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
      cmake --build build/native -j "$jobs" ;;
    windows)
      # shellcheck source=wine-arch.sh
      source "$root/scripts/wine-arch.sh"
      toolchain=$root/cmake/mingw-$(windows_test_arch).cmake
      # A tree configured for the other architecture cannot be switched over.
      if [ -f build/windows/CMakeCache.txt ] &&
         ! grep -qx "CMAKE_TOOLCHAIN_FILE:FILEPATH=$toolchain" build/windows/CMakeCache.txt; then
        rm -rf build/windows
      fi
      cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${launcher[@]}" >/dev/null
      cmake --build build/windows -j "$jobs" ;;
    fuzz)
      CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DBUILD_FUZZERS=ON -DBUILD_TESTING=OFF -DBUILD_BENCH=OFF >/dev/null
      cmake --build build/fuzz -j "$jobs" ;;
    *) echo "build.sh: unknown tree '$t'" >&2; exit 2 ;;
  esac
done
