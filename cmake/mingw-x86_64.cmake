# Cross build for 64-bit Windows with the posix-thread mingw-w64 compilers.
# Used for the Windows-side and GUI tests on machines whose kernel runs no
# 32-bit Linux programs, where Wine can start only 64-bit Windows programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER   x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests of the windows build run under Wine (the session puts a 64-bit `wine`
# first on PATH where the 32-bit loader cannot run).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# No libgcc/libstdc++ DLLs: Wine (and a bare Windows) would not find them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
