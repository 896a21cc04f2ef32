// Imports _fseeki64 from msvcrt.dll (Windows Vista and later, not on XP).
#include <stdio.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  FILE* self = fopen("probe.exe", "rb");
  if (!self) return 1;
  const int failed = _fseeki64(self, 0, SEEK_END);
  fclose(self);
  return failed ? 1 : 0;
}
