// Start-up state of the converter: the application's texts, the start
// directory, and the portable parts of choosing texts and the window icon.
#pragma once

#include <string>

#include "text_table.h"

namespace lirrow {

// ---- process-wide state, fixed at start-up -------------------------------

// The current directory as it was at start-up, without a trailing backslash.
// Folder of the external tools, of tempMP3.mp3 and of the help pages.
const std::wstring& StartDirectory();
void SetStartDirectory(const std::wstring& directory);

// The texts that LoadTexts chose at start-up, and the mapped language id
// they were chosen for.
const TextTable& AppTexts();
void SetAppTexts(const TextTable& texts);
unsigned AppLanguage();
void SetAppLanguage(unsigned mappedLangId);

// True when `path` names an existing file that can be opened for reading
// while other programs may read it too. The file is closed again at once.
bool FileExists(const std::wstring& path);

// ---- language and INI file -----------------------------------------------

constexpr unsigned kLangEnglish = 0x0409;
constexpr unsigned kLangSimplifiedChinese = 0x0804;
constexpr unsigned kLangTraditionalChinese = 0x0404;

// English variants become 0x0409; Taiwan, Hong Kong and Singapore Chinese
// become 0x0404; every other id (0x0804 included) is kept.
unsigned MapLanguageId(unsigned systemLangId);

// INI section of a mapped id: lower-case hexadecimal without leading zeros.
std::wstring IniSectionName(unsigned mappedLangId);

// The INI file beside the program: its path with the extension replaced by
// ".ini" (a name without an extension gets ".ini" appended).
std::wstring IniPathForProgram(const std::wstring& programPath);

// The built-in table for a mapped id.
const TextTable& BuiltInTexts(unsigned mappedLangId);

// What LoadTexts needs from the system.
class TextSource {
 public:
  virtual ~TextSource() = default;
  virtual bool FileExists(const std::wstring& path) = 0;
  // The value of `key` in `section` of `iniPath`, or `fallback` when the
  // section or key is missing; at most kMaxTextLength characters.
  virtual std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                                         const std::wstring& fallback,
                                         const std::wstring& iniPath) = 0;
};

// Chooses the 32 texts: from the INI file when it exists (section of the
// mapped language, English default for each missing key), otherwise from the
// built-in table of the mapped language.
TextTable LoadTexts(unsigned systemLangId, const std::wstring& iniPath, TextSource& source);

// ---- window icon ---------------------------------------------------------

constexpr int kIconApp = 128;
constexpr int kIconQZR = 136;
constexpr int kIconMarquen = 137;
constexpr int kIconPellora = 138;
constexpr int kIconVESTIK = 139;

// Icon resource for a copyright line: the first brand word of the order
// Pellora, Marquen, QZR, VESTIK found in it (case-sensitive), else 128.
int BrandIconId(const std::wstring& copyrightLine);

}  // namespace lirrow
