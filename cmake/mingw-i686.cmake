# Cross build for 32-bit Windows with the posix-thread mingw-w64 compilers.
set(MINGW_TARGET i686)
set(MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Tests of the windows build run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# No libgcc/libstdc++ DLLs: Wine (and a bare Windows) would not find them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
