// StartupPlatform bound to the Win32 API (windows build only).
#pragma once

#include "startup_platform.h"

namespace vornak {

class Win32StartupPlatform : public StartupPlatform {
 public:
  // `instance` is the module whose icon resources are loaded (an HINSTANCE);
  // null means the program itself.
  explicit Win32StartupPlatform(void* instance = nullptr);

  std::uint16_t GetSystemDefaultLangID() override;
  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override;
  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultText, char* out, std::uint32_t size,
                                         const char* file) override;
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;
  IconHandle LoadIconFile(const char* path, int cx, int cy) override;
  IconHandle LoadResourceIcon(int id) override;

 private:
  void* instance_;
};

}  // namespace vornak
