# Cross build for 64-bit Windows with the posix-thread mingw-w64 compilers.
# Used for the Windows-side and GUI tests on machines whose kernel runs no
# 32-bit Linux programs, where Wine can start only 64-bit Windows programs.
set(MINGW_TARGET x86_64)
set(MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Tests of the windows build run under Wine (the session puts a 64-bit `wine`
# first on PATH where the 32-bit loader cannot run).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# No libgcc/libstdc++ DLLs: Wine (and a bare Windows) would not find them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
