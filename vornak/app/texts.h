// The formatter's texts: one field per fmt.ini key, their English defaults, the
// Chinese no-drive texts, and the reading of fmt.ini.
//
// The program is a byte-string program: texts are bytes of the system code
// page, Chinese ones in GBK (Simplified) or Big5 (Traditional), as fmt.ini
// holds them; nothing is converted.
#pragma once

#include <cstdint>
#include <string>

#include "startup_platform.h"

namespace vornak {

// Language ids the formatter uses.
constexpr std::uint16_t kLangEnglish = 0x0409;
constexpr std::uint16_t kLangSimplifiedChinese = 0x0804;
constexpr std::uint16_t kLangTraditionalChinese = 0x0404;

// A text read from fmt.ini holds at most this many characters.
constexpr std::uint32_t kIniTextBuffer = 100;

struct FormatterTexts {
  std::string Title;
  std::string AboutTool;
  std::string AboutCompany;
  std::string AboutMenu;
  std::string DlgItemSelect;
  std::string DlgItemVolume;
  std::string DlgItemDrive;
  std::string DlgItemSize;
  std::string DlgItemType;
  std::string DlgItemQuick;
  std::string DlgItemFull;
  std::string DlgItemLow;
  std::string DlgItemStart;
  std::string DlgItemExit;
  std::string DlgItemBoot;
  std::string MsgWarnFormat;
  std::string MsgFormatFail;
  std::string MsgLockFail;
  std::string MsgUnsupport;
  std::string MsgInvalidVol;
  std::string MsgSysAreaErr;
  std::string MsgSystemAreaWrite;
  std::string MsgSystemAreaRead;
  std::string MsgDataAreaWrite;
  std::string MsgDataAreaRead;
  std::string MsgTotal;
  std::string MsgCurrent;
  std::string MsgExit;
  std::string MsgStop;
  std::string MsgAYS;
  std::string MsgMaking;
  std::string IconFile;
  std::string MsgPlug;

  // Not a key: the About box caption, a copy of AboutMenu taken after fmt.ini
  // is read. (The About box shows AboutTool and AboutCompany.)
  std::string AboutBoxCaption;

  // Every field set to its English default.
  static FormatterTexts EnglishDefaults();
};

// The fmt.ini keys in reading order, with their fields.
struct TextKey {
  const char* key;
  std::string FormatterTexts::*field;
};
extern const TextKey kTextKeys[];
extern const int kTextKeyCount;

// The main dialog's controls whose captions come from the texts (the dialog's
// own caption is Title).
struct ControlText {
  int controlId;
  std::string FormatterTexts::*field;
};
extern const ControlText kControlTexts[];
extern const int kControlTextCount;

// The no-drive text of start-up for a reduced language id: English, or the
// GBK/Big5 bytes of the Chinese texts.
std::string DefaultNoDriveText(std::uint16_t languageId);

// "409", "804", "404": the id in lower-case hex without leading zeros.
std::string SectionName(std::uint16_t languageId);

// The program path cut before its last backslash + "\fmt.ini"; false (and
// nothing set) when the path holds no backslash.
bool IniPath(StartupPlatform& platform, std::string& path);

// Reads one key like GetPrivateProfileStringA with a 100-character buffer.
std::string ReadIniText(StartupPlatform& platform, const std::string& section, const char* key,
                        const std::string& defaultText, const std::string& iniPath);

// Replaces every field key by key from the language's section of fmt.ini (the
// current text is each key's default), then copies AboutMenu into
// AboutBoxCaption. False only when the program path has no backslash.
bool ReadIniOverrides(StartupPlatform& platform, std::uint16_t languageId, FormatterTexts& texts);

}  // namespace vornak
