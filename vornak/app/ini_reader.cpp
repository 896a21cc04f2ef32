#include "ini_reader.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace vornak {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\x1a'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const char* a, std::size_t alen, const std::string& b) {
  if (alen != b.size()) return false;
  for (std::size_t i = 0; i < alen; ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// A looked-up name loses its surrounding blanks.
std::string TrimName(const char* s) {
  std::string r(s ? s : "");
  std::size_t b = 0, e = r.size();
  while (b < e && IsBlank(r[b])) ++b;
  while (e > b && IsBlank(r[e - 1])) --e;
  return r.substr(b, e - b);
}

// Copies `value` into out[size], cut to size-1 characters, optionally without
// one pair of surrounding matching quotes; returns the length copied.
std::uint32_t CopyEntry(const std::string& value, char* out, std::uint32_t size, bool stripQuote) {
  if (out == nullptr || size == 0) return 0;
  std::string v = value;
  bool quoted = false;
  if (stripQuote && v.size() >= 2 && (v[0] == '\'' || v[0] == '"') && v.back() == v[0]) {
    v.erase(0, 1);
    quoted = true;
  }
  std::size_t n = v.size();
  if (n > size - 1) n = size - 1;
  std::memcpy(out, v.data(), n);
  out[n] = '\0';
  // The closing quote goes only when it made it into the buffer.
  if (quoted && n == v.size() && n > 0) out[--n] = '\0';
  return static_cast<std::uint32_t>(n);
}

// Finds key in the first section of that name. Returns false when there is
// no such key or the key has no '='.
bool Lookup(const std::string& text, const std::string& section, const std::string& key,
            std::string& value) {
  bool inSection = false;
  bool sectionSeen = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::size_t b = pos, e = end;
    pos = end + 1;
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    if (b == e) {
      if (end == text.size()) break;
      continue;
    }
    if (text[b] == '[') {
      const std::size_t close = text.rfind(']', e - 1);
      if (close != std::string::npos && close > b) {
        if (inSection) return false;  // only the first section of the name counts
        inSection = !sectionSeen && SameName(text.data() + b + 1, close - b - 1, section);
        if (inSection) sectionSeen = true;
      }
    } else if (inSection) {
      const char* line = text.data() + b;
      const std::size_t len = e - b;
      const void* eqp = std::memchr(line, '=', len);
      std::size_t nameEnd =
          eqp ? static_cast<std::size_t>(static_cast<const char*>(eqp) - line) : len;
      std::size_t valueStart = eqp ? nameEnd + 1 : len;
      while (nameEnd > 0 && IsBlank(line[nameEnd - 1])) --nameEnd;
      while (valueStart < len && IsBlank(line[valueStart])) ++valueStart;
      if (SameName(line, nameEnd, key)) {
        if (!eqp) return false;
        value.assign(line + valueStart, len - valueStart);
        return true;
      }
    }
    if (end == text.size()) break;
  }
  return false;
}

}  // namespace

std::uint32_t IniGetString(const std::string& iniText, const char* section, const char* key,
                           const char* defaultText, char* out, std::uint32_t size) {
  // The default loses its trailing spaces.
  std::string def(defaultText ? defaultText : "");
  while (def.size() > 1 && def.back() == ' ') def.pop_back();

  const std::string s = TrimName(section), k = TrimName(key);
  std::string value;
  if (!s.empty() && !k.empty() && Lookup(iniText, s, k, value))
    return CopyEntry(value, out, size, true);
  return CopyEntry(def, out, size, false);
}

std::uint32_t IniGetStringFromFile(const std::string& path, const char* section, const char* key,
                                   const char* defaultText, char* out, std::uint32_t size) {
  std::ifstream file(path, std::ios::binary);
  std::string text;
  if (file) {
    std::ostringstream all;
    all << file.rdbuf();
    text = all.str();
  }
  return IniGetString(text, section, key, defaultText, out, size);
}

}  // namespace vornak
