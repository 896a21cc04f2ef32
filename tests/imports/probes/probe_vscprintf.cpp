// Imports _vscprintf from msvcrt.dll (Windows XP and later, not on 98 or 2000).
#include <stdarg.h>
#include <stdio.h>
#include <windows.h>

static int Count(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = _vscprintf(format, args);
  va_end(args);
  return n;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Count("%d", 42) == 2 ? 0 : 1; }
