// A scripted StartupPlatform: the system language, the program path, INI
// files by path (answered like GetPrivateProfileStringA), message-box answers
// and icons. It records what it is asked.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ini_reader.h"
#include "startup_platform.h"

namespace vornak::test {

class FakeStartupPlatform : public StartupPlatform {
 public:
  struct ProfileRead {
    std::string section, key, defaultText, file;
    std::uint32_t size;
  };
  struct Box {
    std::string text, caption;
    std::uint32_t type;
  };

  std::uint16_t language = 0x0409;
  std::string modulePath = "C:\\Program Files\\Vornak\\vornak.exe";
  std::map<std::string, std::string> iniFiles;  // path -> file text
  std::map<std::string, IconHandle> iconFiles;  // path -> icon
  bool resourceIconsFail = false;

  // Box answers in order; when they run out, `defaultAnswer`.
  std::deque<int> answers;
  int defaultAnswer = win::IDCANCEL;
  // Called with the box's index (0-based) before it is answered.
  std::function<void(int)> onBox;

  std::vector<ProfileRead> reads;
  std::vector<Box> boxes;
  std::vector<std::string> iconFileLoads;
  std::vector<int> resourceIconLoads;

  std::uint16_t GetSystemDefaultLangID() override { return language; }

  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override {
    if (size == 0) return 0;
    const std::size_t n = std::min<std::size_t>(modulePath.size(), size - 1);
    modulePath.copy(buffer, n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
  }

  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultText, char* out, std::uint32_t size,
                                         const char* file) override {
    reads.push_back({section ? section : "", key ? key : "", defaultText ? defaultText : "",
                     file ? file : "", size});
    auto it = iniFiles.find(file ? file : "");
    const std::string text = it == iniFiles.end() ? std::string() : it->second;
    return IniGetString(text, section, key, defaultText, out, size);
  }

  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override {
    boxes.push_back({text ? text : "", caption ? caption : "", type});
    if (onBox) onBox(static_cast<int>(boxes.size()) - 1);
    if (answers.empty()) return defaultAnswer;
    const int a = answers.front();
    answers.pop_front();
    return a;
  }

  IconHandle LoadIconFile(const char* path, int cx, int cy) override {
    iconFileLoads.push_back(path ? path : "");
    if (cx != 32 || cy != 32) return 0;
    auto it = iconFiles.find(path ? path : "");
    return it == iconFiles.end() ? 0 : it->second;
  }

  IconHandle LoadResourceIcon(int id) override {
    resourceIconLoads.push_back(id);
    return resourceIconsFail ? 0 : static_cast<IconHandle>(0x5000 + id);
  }
};

}  // namespace vornak::test
