// Imports GetFileSizeEx (Windows 2000 and later, not on Windows 98/ME).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LARGE_INTEGER size;
  HANDLE self =
      CreateFileA("probe.exe", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  BOOL ok = GetFileSizeEx(self, &size);
  CloseHandle(self);
  return ok ? 0 : 1;
}
