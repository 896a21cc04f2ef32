#include "startup_platform_win32.h"

#include <windows.h>

namespace vornak {

Win32StartupPlatform::Win32StartupPlatform(void* instance)
    : instance_(instance ? instance : static_cast<void*>(::GetModuleHandleA(nullptr))) {}

std::uint16_t Win32StartupPlatform::GetSystemDefaultLangID() { return ::GetSystemDefaultLangID(); }

std::uint32_t Win32StartupPlatform::GetModuleFileNameA(char* buffer, std::uint32_t size) {
  return ::GetModuleFileNameA(nullptr, buffer, size);
}

std::uint32_t Win32StartupPlatform::GetPrivateProfileStringA(const char* section, const char* key,
                                                             const char* defaultText, char* out,
                                                             std::uint32_t size, const char* file) {
  return ::GetPrivateProfileStringA(section, key, defaultText, out, size, file);
}

int Win32StartupPlatform::MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  return ::MessageBoxA(nullptr, text, caption, type);
}

IconHandle Win32StartupPlatform::LoadIconFile(const char* path, int cx, int cy) {
  return reinterpret_cast<IconHandle>(
      ::LoadImageA(nullptr, path, IMAGE_ICON, cx, cy, LR_LOADFROMFILE));
}

IconHandle Win32StartupPlatform::LoadResourceIcon(int id) {
  return reinterpret_cast<IconHandle>(
      ::LoadIconA(static_cast<HINSTANCE>(instance_), MAKEINTRESOURCEA(id)));
}

}  // namespace vornak
