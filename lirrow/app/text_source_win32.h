// LoadTexts' access to the INI file through the system's profile calls.
#pragma once

#include "converter_app.h"

namespace lirrow {

class ProfileTextSource final : public TextSource {
 public:
  bool FileExists(const std::wstring& path) override;
  std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& fallback,
                                 const std::wstring& iniPath) override;
};

// The program file's full path.
std::wstring ProgramPath();

// The current directory without a trailing backslash.
std::wstring CurrentDirectory();

}  // namespace lirrow
