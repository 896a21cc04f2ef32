// FileExists for the native build: wide paths are taken as Unicode and
// encoded in UTF-8, the file system encoding of the test machines.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "converter_app.h"

namespace lirrow {

namespace {

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned long c = static_cast<unsigned long>(text[i]);
        // UTF-16 surrogate pairs (a 16-bit wchar_t) become one code point.
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            const unsigned long low = static_cast<unsigned long>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
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
    return out;
}

}  // namespace

bool FileExists(const std::wstring& path) {
    const std::string narrow = ToUtf8(path);
    struct stat info {};
    if (narrow.empty() || stat(narrow.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::FILE* f = std::fopen(narrow.c_str(), "rb");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

}  // namespace lirrow
