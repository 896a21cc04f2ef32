# Cross build of the shipped programs for 32-bit Windows with the win32-thread
# mingw-w64 compilers. Their runtime imports nothing that Windows 98/ME or
# 2000/XP lacks; the posix-thread runtime needs GetTickCount64 (Vista and
# later) and vectored exception handlers (NT only). GoogleTest does not build
# with these compilers: configure this tree with BUILD_TESTING=OFF.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER   i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER  i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime: no libgcc/libstdc++/winpthread DLLs beside the programs.
# Symbols stripped: nothing to debug on a user's machine.
# PE subsystem and OS version 4.0: the loaders of Windows 95/98/ME and NT 4
# refuse images that ask for a later version.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -s -Wl,--major-subsystem-version,4,--minor-subsystem-version,0 -Wl,--major-os-version,4,--minor-os-version,0")
