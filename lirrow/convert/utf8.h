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

}  // namespace lirrow
