#include <windows.h>

#include "converter_app.h"
#include "unicode_win32.h"

namespace lirrow {

bool FileExists(const std::wstring& path) {
  const HANDLE file = Wide().CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace lirrow
