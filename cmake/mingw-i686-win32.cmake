# Cross build of the shipped programs for 32-bit Windows with the win32-thread
# mingw-w64 compilers. Their runtime imports nothing that Windows 98/ME or
# 2000/XP lacks; the posix-thread runtime needs GetTickCount64 (Vista and
# later) and vectored exception handlers (NT only). GoogleTest does not build
# with these compilers: configure this tree with BUILD_TESTING=OFF.
set(MINGW_TARGET i686)
set(MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Static runtime: no libgcc/libstdc++/winpthread DLLs beside the programs.
# Symbols stripped: nothing to debug on a user's machine.
# PE subsystem and OS version 4.0: the loaders of Windows 95/98/ME and NT 4
# refuse images that ask for a later version.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -s -Wl,--major-subsystem-version,4,--minor-subsystem-version,0 -Wl,--major-os-version,4,--minor-os-version,0")
