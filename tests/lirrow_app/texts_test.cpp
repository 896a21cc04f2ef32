// Language choice, INI reading and the built-in tables.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "converter_app.h"

namespace lirrow {
namespace {

TEST(LanguageMapping, EnglishVariantsBecomeUsEnglish) {
  for (unsigned id : {0x0409u, 0x0809u, 0x0C09u, 0x1009u, 0x1409u, 0x1809u, 0x1C09u, 0x2009u,
                      0x2409u, 0x2809u, 0x2C09u})
    EXPECT_EQ(MapLanguageId(id), 0x0409u) << std::hex << id;
}

TEST(LanguageMapping, ChineseRegions) {
  EXPECT_EQ(MapLanguageId(0x0404), 0x0404u);
  EXPECT_EQ(MapLanguageId(0x0C04), 0x0404u);  // Hong Kong
  EXPECT_EQ(MapLanguageId(0x1004), 0x0404u);  // Singapore
  EXPECT_EQ(MapLanguageId(0x0804), 0x0804u);
  EXPECT_EQ(MapLanguageId(0x1404), 0x1404u);  // Macau is not mapped
}

TEST(LanguageMapping, OtherIdsAreKept) {
  EXPECT_EQ(MapLanguageId(0x0407), 0x0407u);
  EXPECT_EQ(MapLanguageId(0x3009), 0x3009u);  // not in the English list
  EXPECT_EQ(MapLanguageId(0), 0u);
}

TEST(LanguageMapping, SectionNamesAreLowerCaseHexWithoutZeros) {
  EXPECT_EQ(IniSectionName(0x0409), L"409");
  EXPECT_EQ(IniSectionName(0x0804), L"804");
  EXPECT_EQ(IniSectionName(0x0407), L"407");
  EXPECT_EQ(IniSectionName(0x2C0A), L"2c0a");
  EXPECT_EQ(IniSectionName(MapLanguageId(0x0C04)), L"404");
}

TEST(IniPath, ExtensionOfTheProgramIsReplaced) {
  EXPECT_EQ(IniPathForProgram(L"C:\\Tools\\lirrow.exe"), L"C:\\Tools\\lirrow.ini");
  EXPECT_EQ(IniPathForProgram(L"C:\\Tools\\lirrow.v2.EXE"), L"C:\\Tools\\lirrow.v2.ini");
  // A dot in a folder name is not the program's extension.
  EXPECT_EQ(IniPathForProgram(L"C:\\my.tools\\lirrow"), L"C:\\my.tools\\lirrow.ini");
}

TEST(BuiltInTables, TheIniKeysAreNamedAndOrderedAsInTheIniFile) {
  // A misspelt key silently ignores that line of a user's INI file.
  const std::vector<std::wstring> expected = {
      L"OvkToPcm",
      L"NotSuport",
      L"Mp3OutputErr",
      L"WavOutputErr",
      L"PcmToMp3",
      L"BinToPcm",
      L"OvkToBin",
      L"PcmToStereo",
      L"NotFindExeFile",
      L"CreateFileFailed",
      L"NoEnoughSapce",
      L"ConvertErr",
      L"About",
      L"Title",
      L"ID_EXIT",
      L"IDC_BTN_HELP",
      L"IDC_MP3",
      L"IDC_OPEN",
      L"IDC_WAV",
      L"IDC_BTN_START",
      L"IDC_SC_OUTPUT",
      L"AboutTitle",
      L"AboutIDOK",
      L"AboutIDC_STATIC1",
      L"AboutIDC_STATIC2",
      L"HelpIDOK",
      L"HelpTitle",
      L"InforIDCANCEL",
      L"AppNoMsdxm",
      L"HelpFile",
      L"BadFormatFile",
      L"IconFile",
  };
  ASSERT_EQ(expected.size(), kTextCount);
  std::vector<std::wstring> names;
  for (std::size_t i = 0; i < kTextCount; ++i) names.push_back(TextKeyName(TextKeyAt(i)));
  EXPECT_EQ(names, expected);
  // The enumerators name the same texts as the table.
  EXPECT_STREQ(TextKeyName(TextKey::ConvertErr), L"ConvertErr");
  EXPECT_STREQ(TextKeyName(TextKey::HelpFile), L"HelpFile");
  EXPECT_STREQ(TextKeyName(TextKey::IconFile), L"IconFile");
}

TEST(BuiltInTables, BlanksArePartOfTheTexts) {
  EXPECT_EQ(EnglishTexts()[TextKey::PcmToMp3], L"      Encoding WAV to MP3...");
  EXPECT_EQ(TraditionalChineseTexts()[TextKey::AboutTitle], L"\u95DC\u65BCLirrow\u5DE5\u5177 ");
  EXPECT_EQ(TraditionalChineseTexts()[TextKey::ID_EXIT], L" \u9000\u51FA");
  EXPECT_EQ(TraditionalChineseTexts()[TextKey::HelpIDOK], L"\u9000\u51FA");
  EXPECT_EQ(SimplifiedChineseTexts()[TextKey::ID_EXIT], L"\u9000\u51FA");
}

TEST(BuiltInTables, ChineseTextsAreUnicode) {
  // Written with escapes so that a wrong source or execution character set
  // in either compiler shows up here.
  EXPECT_EQ(SimplifiedChineseTexts()[TextKey::BadFormatFile],
            L"\u4E0D\u652F\u6301\u6B64\u683C\u5F0F");
  EXPECT_EQ(SimplifiedChineseTexts()[TextKey::ConvertErr],
            L"\u8F6C\u6362\u5931\u8D25\uFF01\u53EF\u80FD\u662F\u7A7A\u95F4\u4E0D\u591F\uFF01");
  EXPECT_EQ(TraditionalChineseTexts()[TextKey::ConvertErr],
            L"\u8F49\u63DB\u5931\u6557\uFF01\u53EF\u80FD\u662F\u7A7A\u9593\u4E0D\u5920\uFF01");
  EXPECT_EQ(SimplifiedChineseTexts()[TextKey::HelpFile], L"helpch.htm");
  EXPECT_EQ(TraditionalChineseTexts()[TextKey::HelpFile], L"helpfan.htm");
  EXPECT_EQ(
      EnglishTexts()[TextKey::AppNoMsdxm],
      L"Windows System have not \"msdxm.ocx\" file,Please copy it and register!Program exited.");
}

TEST(BuiltInTables, CopyrightLinesNameNoBrandAndIconFileIsEmpty) {
  for (const TextTable* t :
       {&EnglishTexts(), &SimplifiedChineseTexts(), &TraditionalChineseTexts()}) {
    EXPECT_NE((*t)[TextKey::AboutIDC_STATIC2].find(L"2003"), std::wstring::npos);
    EXPECT_EQ(BrandIconId((*t)[TextKey::AboutIDC_STATIC2]), kIconApp);
    EXPECT_TRUE((*t)[TextKey::IconFile].empty());
    for (const auto& text : t->texts) EXPECT_LE(text.size(), kMaxTextLength);
  }
}

TEST(BuiltInTables, OnlyTheThreeLanguagesHaveTables) {
  EXPECT_EQ(&BuiltInTexts(0x0804), &SimplifiedChineseTexts());
  EXPECT_EQ(&BuiltInTexts(0x0404), &TraditionalChineseTexts());
  EXPECT_EQ(&BuiltInTexts(0x0409), &EnglishTexts());
  EXPECT_EQ(&BuiltInTexts(0x0407), &EnglishTexts());
  EXPECT_EQ(&BuiltInTexts(0x1404), &EnglishTexts());
}

// An INI file held in memory: section -> key -> value.
class FakeIni : public TextSource {
 public:
  bool exists = true;
  std::map<std::wstring, std::map<std::wstring, std::wstring>> sections;
  std::vector<std::wstring> asked;  // "section/key" in the order asked
  std::wstring askedPath;

  bool FileExists(const std::wstring& path) override {
    askedPath = path;
    return exists;
  }
  std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& fallback,
                                 const std::wstring& iniPath) override {
    EXPECT_EQ(iniPath, askedPath);
    asked.push_back(section + L"/" + key);
    auto s = sections.find(section);
    if (s == sections.end()) return fallback;
    auto k = s->second.find(key);
    return k == s->second.end() ? fallback : k->second;
  }
};

TEST(LoadTexts, WithoutIniTheLanguageTableIsUsed) {
  FakeIni ini;
  ini.exists = false;
  EXPECT_EQ(LoadTexts(0x0809, L"x.ini", ini).texts, EnglishTexts().texts);
  EXPECT_EQ(LoadTexts(0x0804, L"x.ini", ini).texts, SimplifiedChineseTexts().texts);
  EXPECT_EQ(LoadTexts(0x0C04, L"x.ini", ini).texts, TraditionalChineseTexts().texts);
  EXPECT_EQ(LoadTexts(0x1004, L"x.ini", ini).texts, TraditionalChineseTexts().texts);
  EXPECT_EQ(LoadTexts(0x1404, L"x.ini", ini).texts, EnglishTexts().texts);
  EXPECT_TRUE(ini.asked.empty());
}

TEST(LoadTexts, IniSectionOfTheMappedIdIsReadInKeyOrder) {
  FakeIni ini;
  ini.sections[L"409"][L"Title"] = L"My Tool";
  ini.sections[L"407"][L"Title"] = L"Werkzeug";
  const TextTable t = LoadTexts(0x0809, L"C:\\p\\lirrow.ini", ini);
  EXPECT_EQ(ini.askedPath, L"C:\\p\\lirrow.ini");
  ASSERT_EQ(ini.asked.size(), kTextCount);
  EXPECT_EQ(ini.asked.front(), L"409/OvkToPcm");
  EXPECT_EQ(ini.asked.back(), L"409/IconFile");
  EXPECT_EQ(t[TextKey::Title], L"My Tool");
  EXPECT_EQ(t[TextKey::ID_EXIT], L"Exit");
}

TEST(LoadTexts, MissingKeysAreEnglishWhateverTheLanguage) {
  FakeIni ini;
  ini.sections[L"409"][L"Title"] = L"not this section";
  // A Simplified Chinese system with an INI file lacking "804".
  const TextTable zh = LoadTexts(0x0804, L"lirrow.ini", ini);
  EXPECT_EQ(zh.texts, EnglishTexts().texts);

  ini.sections[L"407"][L"IDC_OPEN"] = L"\u00D6ffnen";
  const TextTable de = LoadTexts(0x0407, L"lirrow.ini", ini);
  EXPECT_EQ(de[TextKey::IDC_OPEN], L"\u00D6ffnen");
  EXPECT_EQ(de[TextKey::BadFormatFile], L"Unsupport Format");
}

TEST(LoadTexts, EmptyValuesStayEmptyAndLongOnesAreCut) {
  FakeIni ini;
  ini.sections[L"404"][L"HelpFile"] = L"";
  ini.sections[L"404"][L"About"] = std::wstring(400, L'x');
  const TextTable t = LoadTexts(0x0404, L"lirrow.ini", ini);
  EXPECT_EQ(t[TextKey::HelpFile], L"");
  EXPECT_EQ(t[TextKey::About], std::wstring(kMaxTextLength, L'x'));
}

TEST(BrandIcon, FirstBrandOfTheListWinsNotFirstInTheText) {
  EXPECT_EQ(BrandIconId(L"(C) 2003 QZR and Pellora"), kIconPellora);
  EXPECT_EQ(BrandIconId(L"VESTIK Marquen"), kIconMarquen);
  EXPECT_EQ(BrandIconId(L"made by QZR"), kIconQZR);
  EXPECT_EQ(BrandIconId(L"VESTIK"), kIconVESTIK);
  EXPECT_EQ(BrandIconId(L"pellora qzr vestik"), kIconApp);  // case matters
  EXPECT_EQ(BrandIconId(L""), kIconApp);
}

TEST(StartState, StartDirectoryAndTextsAreKept) {
  SetStartDirectory(L"C:\\Work");
  EXPECT_EQ(StartDirectory(), L"C:\\Work");
  TextTable t = EnglishTexts();
  t[TextKey::Title] = L"changed";
  SetAppTexts(t);
  EXPECT_EQ(AppTexts()[TextKey::Title], L"changed");
  SetAppTexts(EnglishTexts());
}

}  // namespace
}  // namespace lirrow
