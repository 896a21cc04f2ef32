// Prints a sample INI file for one of the programs: the English section with
// every key and its built-in English text, in the order the program reads
// them. Usage: sample_ini vornak|lirrow   (fmt.ini or lirrow.ini on stdout)
#include <cstdio>
#include <cstring>
#include <string>

#include "text_table.h"
#include "texts.h"

namespace {

// A value with blanks at either end is quoted: the profile reader strips
// blanks and one pair of surrounding quotes.
std::string IniValue(const std::string& text) {
  if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) return '"' + text + '"';
  return text;
}

// The lirrow defaults are English, plain ASCII; anything else is refused so
// that the sample never holds a text the profile reader would read back wrong.
bool Ascii(const std::wstring& text, std::string* out) {
  out->clear();
  for (wchar_t c : text) {
    if (c < 0x20 || c > 0x7E) return false;
    out->push_back(static_cast<char>(c));
  }
  return true;
}

int PrintVornak() {
  const vornak::FormatterTexts texts = vornak::FormatterTexts::EnglishDefaults();
  std::printf(
      "; fmt.ini - texts of vornak.exe. Put it beside vornak.exe and change\r\n"
      "; any value; a missing key keeps the built-in text. Sections: 409 English,\r\n"
      "; 804 Simplified Chinese (GBK), 404 Traditional Chinese (Big5).\r\n"
      "[409]\r\n");
  for (int i = 0; i < vornak::kTextKeyCount; ++i) {
    const vornak::TextKey& k = vornak::kTextKeys[i];
    std::printf("%s=%s\r\n", k.key, IniValue(texts.*(k.field)).c_str());
  }
  return 0;
}

int PrintLirrow() {
  const lirrow::TextTable& texts = lirrow::EnglishTexts();
  std::printf(
      "; lirrow.ini - texts of lirrow.exe. Put it beside lirrow.exe and change\r\n"
      "; any value; a missing key keeps the built-in text. Sections: 409 English,\r\n"
      "; 804 Simplified Chinese, 404 Traditional Chinese.\r\n"
      "[409]\r\n");
  for (std::size_t i = 0; i < lirrow::kTextCount; ++i) {
    const lirrow::TextKey key = lirrow::TextKeyAt(i);
    std::string name, value;
    if (!Ascii(lirrow::TextKeyName(key), &name) || !Ascii(texts[key], &value)) {
      std::fprintf(stderr, "sample_ini: text %zu is not plain ASCII\n", i);
      return 1;
    }
    std::printf("%s=%s\r\n", name.c_str(), IniValue(value).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "vornak") == 0) return PrintVornak();
  if (argc == 2 && std::strcmp(argv[1], "lirrow") == 0) return PrintLirrow();
  std::fprintf(stderr, "usage: sample_ini vornak|lirrow\n");
  return 2;
}
