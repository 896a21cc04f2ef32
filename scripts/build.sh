#!/usr/bin/env bash
# Builds the trees: build/native (Debian g++), build/windows (the Windows test
# tree, mingw-w64 posix threads: i686, or x86_64 where Wine cannot run 32-bit
# programs; see wine-arch.sh) and build/release (the shipped 32-bit programs,
# mingw-w64 win32 threads, no tests).
# Usage: scripts/build.sh [native|windows|release|fuzz]...
#        (default: native windows release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${JOBS:-$(nproc)}
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(native windows release)
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
    release)
      # The programs users get, and the two probes the import check must reject.
      cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686-win32.cmake" \
            -DBUILD_TESTING=OFF -DBUILD_BENCH=OFF "${launcher[@]}" >/dev/null
      cmake --build build/release -j "$jobs" --target release_programs ;;
    fuzz)
      CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DBUILD_FUZZERS=ON -DBUILD_TESTING=OFF -DBUILD_BENCH=OFF >/dev/null
      cmake --build build/fuzz -j "$jobs" ;;
    *) echo "build.sh: unknown tree '$t'" >&2; exit 2 ;;
  esac
done
