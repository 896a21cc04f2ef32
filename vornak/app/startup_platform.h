// The platform calls of the formatter's start-up, behind one narrow interface.
//
// The program binds it to the Win32 API (startup_platform_win32.cpp); tests
// bind it to a fake with a scripted language, program path, INI files and
// message-box answers.
#pragma once

#include <cstdint>

namespace vornak {

// An opaque icon handle value; 0 is no icon.
using IconHandle = std::uintptr_t;

// These names are macros once <windows.h> is in: keep them out of the way
// while the constants are declared, and bring them back afterwards.
#pragma push_macro("MB_RETRYCANCEL")
#undef MB_RETRYCANCEL
#pragma push_macro("MB_ICONEXCLAMATION")
#undef MB_ICONEXCLAMATION
#pragma push_macro("IDCANCEL")
#undef IDCANCEL
#pragma push_macro("IDRETRY")
#undef IDRETRY
namespace win {
constexpr std::uint32_t MB_RETRYCANCEL = 0x00000005u;
constexpr std::uint32_t MB_ICONEXCLAMATION = 0x00000030u;
constexpr int IDCANCEL = 2;
constexpr int IDRETRY = 4;
}  // namespace win
#pragma pop_macro("MB_RETRYCANCEL")
#pragma pop_macro("MB_ICONEXCLAMATION")
#pragma pop_macro("IDCANCEL")
#pragma pop_macro("IDRETRY")

class StartupPlatform {
 public:
  virtual ~StartupPlatform() = default;

  virtual std::uint16_t GetSystemDefaultLangID() = 0;
  // The running program's full path; the length copied (GetModuleFileNameA).
  virtual std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) = 0;
  virtual std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                                 const char* defaultText, char* out,
                                                 std::uint32_t size, const char* file) = 0;
  // A message box without owner window; returns the button pressed.
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;
  // LoadImageA(NULL, path, IMAGE_ICON, cx, cy, LR_LOADFROMFILE); 0 on failure.
  virtual IconHandle LoadIconFile(const char* path, int cx, int cy) = 0;
  // The program's own icon resource `id`; 0 on failure.
  virtual IconHandle LoadResourceIcon(int id) = 0;
};

}  // namespace vornak
