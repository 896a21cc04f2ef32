#include "converter_app.h"

#include <cwchar>

namespace lirrow {

namespace {

std::wstring& StartDirectoryStorage() {
  static std::wstring directory;
  return directory;
}

TextTable& AppTextStorage() {
  static TextTable texts = EnglishTexts();
  return texts;
}

unsigned& AppLanguageStorage() {
  static unsigned language = 0x0409;
  return language;
}

}  // namespace

const std::wstring& StartDirectory() { return StartDirectoryStorage(); }
void SetStartDirectory(const std::wstring& directory) { StartDirectoryStorage() = directory; }

const TextTable& AppTexts() { return AppTextStorage(); }
void SetAppTexts(const TextTable& texts) { AppTextStorage() = texts; }
unsigned AppLanguage() { return AppLanguageStorage(); }
void SetAppLanguage(unsigned mappedLangId) { AppLanguageStorage() = mappedLangId; }

unsigned MapLanguageId(unsigned id) {
  switch (id) {
    case 0x0409:
    case 0x0809:
    case 0x0C09:
    case 0x1009:
    case 0x1409:
    case 0x1809:
    case 0x1C09:
    case 0x2009:
    case 0x2409:
    case 0x2809:
    case 0x2C09: return kLangEnglish;
    case 0x0404:
    case 0x0C04:
    case 0x1004: return kLangTraditionalChinese;
    default: return id;
  }
}

std::wstring IniSectionName(unsigned mappedLangId) {
  wchar_t buffer[16];
  std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"%x", mappedLangId);
  return buffer;
}

std::wstring IniPathForProgram(const std::wstring& programPath) {
  const auto slash = programPath.find_last_of(L"\\/");
  const auto dot = programPath.rfind(L'.');
  const bool hasExtension =
      dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
  return (hasExtension ? programPath.substr(0, dot) : programPath) + L".ini";
}

const TextTable& BuiltInTexts(unsigned mappedLangId) {
  switch (mappedLangId) {
    case kLangSimplifiedChinese: return SimplifiedChineseTexts();
    case kLangTraditionalChinese: return TraditionalChineseTexts();
    default: return EnglishTexts();
  }
}

TextTable LoadTexts(unsigned systemLangId, const std::wstring& iniPath, TextSource& source) {
  const unsigned mapped = MapLanguageId(systemLangId);
  if (!source.FileExists(iniPath)) return BuiltInTexts(mapped);

  const std::wstring section = IniSectionName(mapped);
  const TextTable& english = EnglishTexts();
  TextTable texts;
  for (std::size_t i = 0; i < kTextCount; ++i) {
    const TextKey key = TextKeyAt(i);
    std::wstring value = source.ReadProfileString(section, TextKeyName(key), english[key], iniPath);
    if (value.size() > kMaxTextLength) value.resize(kMaxTextLength);
    texts[key] = value;
  }
  return texts;
}

int BrandIconId(const std::wstring& line) {
  static const struct {
    const wchar_t* word;
    int icon;
  } kBrands[] = {
      {L"Pellora", kIconPellora},
      {L"Marquen", kIconMarquen},
      {L"QZR", kIconQZR},
      {L"VESTIK", kIconVESTIK},
  };
  for (const auto& brand : kBrands)
    if (line.find(brand.word) != std::wstring::npos) return brand.icon;
  return kIconApp;
}

}  // namespace lirrow
