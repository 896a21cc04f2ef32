// FileExists for the native build: wide paths are taken as Unicode and
// encoded in UTF-8, the file system encoding of the test machines.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "converter_app.h"
#include "utf8.h"

namespace lirrow {

bool FileExists(const std::wstring& path) {
  bool valid = false;
  const std::string narrow = ToUtf8(path, &valid);
  struct stat info {};
  if (!valid || narrow.empty() || stat(narrow.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  std::FILE* f = std::fopen(narrow.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace lirrow
