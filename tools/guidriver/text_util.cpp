#include "text_util.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace guidriver {

bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
  words.clear();
  std::size_t i = 0, n = line.size();
  while (true) {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    if (i >= n || line[i] == '#') return true;
    std::string word;
    while (i < n && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) {
      char c = line[i];
      if (c == '"') {
        ++i;
        bool closed = false;
        while (i < n) {
          char d = line[i++];
          if (d == '"') {
            closed = true;
            break;
          }
          if (d == '\\' && i < n) {
            char e = line[i++];
            switch (e) {
              case 'n': word += '\n'; break;
              case 't': word += '\t'; break;
              case 'r': word += '\r'; break;
              case '"': word += '"'; break;
              case '\\': word += '\\'; break;
              default:
                word += '\\';
                word += e;
                break;
            }
          } else {
            word += d;
          }
        }
        if (!closed) {
          error = "unterminated double quote";
          return false;
        }
      } else if (c == '\'') {
        std::size_t close = line.find('\'', i + 1);
        if (close == std::string::npos) {
          error = "unterminated single quote";
          return false;
        }
        word.append(line, i + 1, close - i - 1);
        i = close + 1;
      } else {
        word += c;
        ++i;
      }
    }
    words.push_back(word);
  }
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string StripMnemonic(const std::string& caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

namespace {
std::string Fold(const std::string& s) {
  std::string out = StripMnemonic(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}
}  // namespace

bool TextMatches(const std::string& caption, const std::string& wanted, Match mode, bool loose) {
  std::string a = loose ? Fold(caption) : caption;
  std::string b = loose ? Fold(wanted) : wanted;
  return mode == Match::Exact ? a == b : a.find(b) != std::string::npos;
}

bool ParseNumber(const std::string& text, long long& value) {
  if (text.empty()) return false;
  const char* s = text.c_str();
  char* end = nullptr;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) {
    value = static_cast<long long>(std::strtoull(s + 2, &end, 16));
    if (end == s + 2) return false;
  } else {
    if (!(std::isdigit(static_cast<unsigned char>(s[0])) || (s[0] == '-' && text.size() > 1)))
      return false;
    value = std::strtoll(s, &end, 10);
  }
  return *end == '\0';
}

bool ParseSysCommand(const std::string& text, unsigned& value) {
  struct Named {
    const char* name;
    unsigned value;
  };
  static const Named names[] = {{"close", 0xF060},    {"minimize", 0xF020}, {"restore", 0xF120},
                                {"maximize", 0xF030}, {"move", 0xF010},     {"size", 0xF000}};
  std::string t = Fold(text);
  if (t.rfind("sc_", 0) == 0) t = t.substr(3);
  for (const Named& n : names)
    if (t == n.name) {
      value = n.value;
      return true;
    }
  long long v;
  if (!ParseNumber(text, v) || v < 0 || v > 0xFFFF) return false;
  value = static_cast<unsigned>(v);
  return true;
}

bool ParseKey(const std::string& text, unsigned& vk) {
  struct Named {
    const char* name;
    unsigned vk;
  };
  static const Named names[] = {{"enter", 0x0D}, {"return", 0x0D}, {"esc", 0x1B},  {"escape", 0x1B},
                                {"tab", 0x09},   {"space", 0x20},  {"left", 0x25}, {"up", 0x26},
                                {"right", 0x27}, {"down", 0x28}};
  std::string t = Fold(text);
  for (const Named& n : names)
    if (t == n.name) {
      vk = n.vk;
      return true;
    }
  long long v;
  if (!ParseNumber(text, v) || v <= 0 || v > 0xFE) return false;
  vk = static_cast<unsigned>(v);
  return true;
}

}  // namespace guidriver
