#include "text_source_win32.h"

#include <windows.h>

#include <vector>

#include "unicode_win32.h"

namespace lirrow {

bool ProfileTextSource::FileExists(const std::wstring& path) { return lirrow::FileExists(path); }

std::wstring ProfileTextSource::ReadProfileString(const std::wstring& section,
                                                  const std::wstring& key,
                                                  const std::wstring& fallback,
                                                  const std::wstring& iniPath) {
  wchar_t value[kMaxTextLength + 1] = L"";
  const DWORD length = Wide().GetPrivateProfileStringW(
      section.c_str(), key.c_str(), fallback.c_str(), value, kMaxTextLength + 1, iniPath.c_str());
  return std::wstring(value, length);
}

std::wstring ProgramPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        Wide().GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring CurrentDirectory() {
  // A folder deeper than the usual 255 characters is kept whole rather
  // than cut, so the tools and help pages are still found in it.
  std::vector<wchar_t> buffer(256);
  DWORD length = Wide().GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = Wide().GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  std::wstring directory(buffer.data(), length < buffer.size() ? length : 0);
  // The root of a drive is reported with its backslash ("C:\"); callers
  // append "\" and a name themselves.
  if (!directory.empty() && directory.back() == L'\\') directory.pop_back();
  return directory;
}

}  // namespace lirrow
