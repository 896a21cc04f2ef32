// UTF-8 encoding of the converter's wide strings, for the native file system
// and for terminal output.
#pragma once

#include <string>

namespace lirrow {

// Encodes `text` as UTF-8. A UTF-16 surrogate pair (16-bit wchar_t) becomes
// one code point. A value that is no Unicode scalar value becomes U+FFFD, and
// it or an embedded NUL clears *valid when given, so callers that need an exact
// name (a path) can refuse the text.
std::string ToUtf8(const std::wstring& text, bool* valid = nullptr);

// A native file name as a wide string, without loss: valid UTF-8 becomes its
// code points, and each byte that is not part of valid UTF-8 becomes the lone
// surrogate U+DC80 + (byte - 0x80). NameBytes reverses it exactly, so a name
// that is not UTF-8 still opens the same file.
std::wstring NameFromBytes(const std::string& bytes);
// The bytes of a name made by NameFromBytes (or any Unicode text, as UTF-8).
// Other lone surrogates, values beyond U+10FFFF and embedded NULs clear
// *valid when given.
std::string NameBytes(const std::wstring& name, bool* valid = nullptr);

}  // namespace lirrow
