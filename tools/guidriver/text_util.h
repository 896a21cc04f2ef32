// Text helpers of the GUI driver that need no window system: splitting script
// lines into words, quoting texts for output, caption matching, numbers.
// All strings are UTF-8.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace guidriver {

// Splits a line into words like a POSIX shell does for quotes: "..." (with the escapes
// \" \\ \n \t), '...' (literal), bare words; # starts a comment outside quotes.
// Returns false with `error` set on an unterminated quote.
bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error);

// Quotes a text for one-line output: "..." with \\ \" \n \r \t and \xNN for
// other control bytes, so every record stays on one line and can be parsed back
// by SplitWords.
std::string Quote(const std::string& text);

// Removes the single '&' mnemonic markers of a caption ("&&" stays a literal '&').
std::string StripMnemonic(const std::string& caption);

enum class Match { Exact, Substring };

// Compares a caption with a wanted text: exact (byte for byte), or substring.
// With `loose`, mnemonic markers are ignored and ASCII letters compare
// case-insensitively (for button texts like "&Retry" ~ "retry").
bool TextMatches(const std::string& caption, const std::string& wanted, Match mode, bool loose);

// Decimal, 0x hexadecimal or negative decimal; false when not a whole number.
bool ParseNumber(const std::string& text, long long& value);

// Named system commands (close, minimize, restore, maximize, move, size) or a number.
bool ParseSysCommand(const std::string& text, unsigned& value);

// Named keys (enter, esc, tab, space, up, down, left, right) or a number (virtual key).
bool ParseKey(const std::string& text, unsigned& vk);

}  // namespace guidriver
