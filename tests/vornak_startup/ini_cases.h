// INI lookups with the answers GetPrivateProfileStringA gives. The native
// reader is checked against them everywhere, the system's own function under
// Windows (Wine) as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vornak::test {

struct IniCase {
  const char* name;
  std::string file;
  const char* section;
  const char* key;
  const char* defaultText;
  std::uint32_t size;
  std::string expected;
};

inline std::vector<IniCase> IniCases() {
  static const std::string longValue(150, 'x');  // outlives the cases: used as a default
  const std::string gbk = "\xCE\xB4\xB7\xA2\xCF\xD6\xBF\xC9\xD2\xC6\xB6\xAF\xB4\xC5\xC5\xCC!";
  return {
      {"plain", "[409]\nTitle=Hello\n", "409", "Title", "def", 100, "Hello"},
      {"section_case", "[AbC]\nk=v\n", "aBc", "k", "def", 100, "v"},
      {"key_case", "[s]\nMsgNoFindDisk=none\n", "s", "MSGNOFINDDISK", "def", 100, "none"},
      {"blanks_around", "[s]\n   k \t=   two words  \t\n", "s", "k", "def", 100, "two words"},
      {"blanks_before_section", "  [s]\nk=v\n", "s", "k", "def", 100, "v"},
      {"double_quotes", "[s]\nk=\"  padded  \"\n", "s", "k", "def", 100, "  padded  "},
      {"single_quotes", "[s]\nk='q'\n", "s", "k", "def", 100, "q"},
      {"mismatched_quotes", "[s]\nk=\"abc'\n", "s", "k", "def", 100, "\"abc'"},
      {"empty_quotes", "[s]\nk=\"\"\n", "s", "k", "def", 100, ""},
      {"missing_key", "[s]\nother=1\n", "s", "k", "the default", 100, "the default"},
      {"missing_section", "[t]\nk=1\n", "s", "k", "the default", 100, "the default"},
      {"key_in_other_section", "[s]\na=1\n[t]\nk=2\n", "s", "k", "d", 100, "d"},
      {"empty_value", "[s]\nTitle=\n", "s", "Title", "Vornak V2.0", 100, ""},
      {"cut_to_buffer", "[s]\nk=" + longValue + "\n", "s", "k", "d", 100, longValue.substr(0, 99)},
      {"quoted_cut_to_buffer", "[s]\nk=\"" + longValue + "\"\n", "s", "k", "d", 100,
       longValue.substr(0, 99)},
      {"default_cut_to_buffer", "", "s", "k", longValue.c_str(), 100, longValue.substr(0, 99)},
      {"default_trailing_spaces", "", "s", "k", "abc   ", 100, "abc"},
      {"first_of_duplicates", "[s]\nk=first\nk=second\n", "s", "k", "d", 100, "first"},
      {"crlf", "[s]\r\nk=v\r\nj=w\r\n", "s", "j", "d", 100, "w"},
      {"equals_in_value", "[s]\nk=a=b\n", "s", "k", "d", 100, "a=b"},
      {"no_equals", "[s]\nk\n", "s", "k", "d", 100, "d"},
      {"last_line_without_newline", "[s]\nk=v", "s", "k", "d", 100, "v"},
      {"gbk_bytes_unchanged", "[804]\nMsgNoFindDisk=" + gbk + "\n", "804", "MsgNoFindDisk", "d",
       100, gbk},
  };
}

}  // namespace vornak::test
