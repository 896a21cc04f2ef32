// Imports SHGetFolderPathW from SHELL32 (Windows 2000 and later; Windows 98
// programs had to take it from the separate SHFOLDER.DLL).
#include <windows.h>
#include <shlobj.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t path[MAX_PATH];
  return SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path)) ? 0 : 1;
}
