#include "utf8.h"

#include <cstdint>

namespace lirrow {

std::string ToUtf8(const std::wstring& text, bool* valid) {
  std::string out;
  out.reserve(text.size());
  bool ok = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      const std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c == 0) ok = false;
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      ok = false;
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  if (valid) *valid = ok;
  return out;
}

std::wstring NameFromBytes(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    int extra = -1;
    std::uint32_t c = 0, least = 0;
    if (b < 0x80) {
      extra = 0;
      c = b;
    } else if (b >= 0xC2 && b < 0xE0) {
      extra = 1;
      c = b & 0x1F;
      least = 0x80;
    } else if (b >= 0xE0 && b < 0xF0) {
      extra = 2;
      c = b & 0x0F;
      least = 0x800;
    } else if (b >= 0xF0 && b < 0xF5) {
      extra = 3;
      c = b & 0x07;
      least = 0x10000;
    }
    bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < bytes.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const unsigned char n = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
      if ((n & 0xC0) != 0x80)
        ok = false;
      else
        c = (c << 6) | (n & 0x3F);
    }
    // Overlong forms, encoded surrogates and values beyond U+10FFFF are not
    // valid UTF-8: their bytes are kept one by one.
    if (ok && (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) ok = false;
    if (!ok) {
      out += static_cast<wchar_t>(0xDC00 + b);
      ++i;
      continue;
    }
    if (c >= 0x10000 && sizeof(wchar_t) == 2) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

std::string NameBytes(const std::wstring& name, bool* valid) {
  std::string out;
  bool ok = true;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    const std::uint32_t c = i < name.size() ? static_cast<std::uint32_t>(name[i]) : 0;
    const bool escaped = i < name.size() && c >= 0xDC80 && c <= 0xDCFF &&
                         !(i > 0 && static_cast<std::uint32_t>(name[i - 1]) >= 0xD800 &&
                           static_cast<std::uint32_t>(name[i - 1]) < 0xDC00);
    if (!escaped && i < name.size()) continue;
    bool partOk = true;
    out += ToUtf8(name.substr(start, i - start), &partOk);
    if (!partOk) ok = false;
    if (escaped) out += static_cast<char>(c - 0xDC00);
    start = i + 1;
  }
  if (valid) *valid = ok;
  return out;
}

}  // namespace lirrow
