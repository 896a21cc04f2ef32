#include "texts.h"

#include <cstdio>
#include <vector>

namespace vornak {

FormatterTexts FormatterTexts::EnglishDefaults() {
  FormatterTexts t;
  t.Title = "Vornak V2.0";
  t.AboutTool = "Vornak V2.0";
  t.AboutCompany = "Copyright (C) 2003";
  t.AboutMenu = "About Vornak";
  t.DlgItemSelect = "Please select";
  t.DlgItemVolume = "Volume:";
  t.DlgItemDrive = "Drive:";
  t.DlgItemSize = "Size:";
  t.DlgItemType = "Type";
  t.DlgItemQuick = "Quick";
  t.DlgItemFull = "Full";
  t.DlgItemLow = "Low";
  t.DlgItemStart = "Start";
  t.DlgItemExit = "Quit";
  t.DlgItemBoot = "Bootable";
  t.MsgWarnFormat = "ALL DATA ON THIS DISK WILL BE LOST! ARE YOU SURE?(Y/N)";
  t.MsgFormatFail = "Format fail!";
  t.MsgLockFail = "Lock volume error!";
  t.MsgUnsupport = "Unsupported type!";
  t.MsgInvalidVol = "Invalid volume label!";
  t.MsgSysAreaErr = "System area error!";
  t.MsgSystemAreaWrite = "Write system area";
  t.MsgSystemAreaRead = "Read system area";
  t.MsgDataAreaWrite = "Write data area";
  t.MsgDataAreaRead = "Read data area";
  t.MsgTotal = "Total Sectors";
  t.MsgCurrent = "Current";
  t.MsgExit = "Quit";
  t.MsgStop = "Stop";
  t.MsgAYS = "Are you sure?(Y/N)";
  t.MsgMaking = "Making...";
  t.IconFile = "";
  t.MsgPlug = "Please pull out all disk and plug in the disk you want to format!";
  t.AboutBoxCaption = t.AboutMenu;
  return t;
}

#define VORNAK_KEY(name) \
  { #name, &FormatterTexts::name }
const TextKey kTextKeys[] = {
    VORNAK_KEY(Title),
    VORNAK_KEY(AboutTool),
    VORNAK_KEY(AboutCompany),
    VORNAK_KEY(AboutMenu),
    VORNAK_KEY(DlgItemSelect),
    VORNAK_KEY(DlgItemVolume),
    VORNAK_KEY(DlgItemDrive),
    VORNAK_KEY(DlgItemSize),
    VORNAK_KEY(DlgItemType),
    VORNAK_KEY(DlgItemQuick),
    VORNAK_KEY(DlgItemFull),
    VORNAK_KEY(DlgItemLow),
    VORNAK_KEY(DlgItemStart),
    VORNAK_KEY(DlgItemExit),
    VORNAK_KEY(DlgItemBoot),
    VORNAK_KEY(MsgWarnFormat),
    VORNAK_KEY(MsgFormatFail),
    VORNAK_KEY(MsgLockFail),
    VORNAK_KEY(MsgUnsupport),
    VORNAK_KEY(MsgInvalidVol),
    VORNAK_KEY(MsgSysAreaErr),
    VORNAK_KEY(MsgSystemAreaWrite),
    VORNAK_KEY(MsgSystemAreaRead),
    VORNAK_KEY(MsgDataAreaWrite),
    VORNAK_KEY(MsgDataAreaRead),
    VORNAK_KEY(MsgTotal),
    VORNAK_KEY(MsgCurrent),
    VORNAK_KEY(MsgExit),
    VORNAK_KEY(MsgStop),
    VORNAK_KEY(MsgAYS),
    VORNAK_KEY(MsgMaking),
    VORNAK_KEY(IconFile),
    VORNAK_KEY(MsgPlug),
};
#undef VORNAK_KEY
const int kTextKeyCount = static_cast<int>(sizeof kTextKeys / sizeof kTextKeys[0]);

const ControlText kControlTexts[] = {
    {1011, &FormatterTexts::DlgItemSelect}, {1016, &FormatterTexts::DlgItemVolume},
    {1012, &FormatterTexts::DlgItemDrive},  {1013, &FormatterTexts::DlgItemSize},
    {1014, &FormatterTexts::DlgItemType},   {1006, &FormatterTexts::DlgItemQuick},
    {1007, &FormatterTexts::DlgItemFull},   {1017, &FormatterTexts::DlgItemLow},
    {1009, &FormatterTexts::DlgItemStart},  {1, &FormatterTexts::DlgItemExit},
    {1023, &FormatterTexts::DlgItemBoot},
};
const int kControlTextCount = static_cast<int>(sizeof kControlTexts / sizeof kControlTexts[0]);

std::string DefaultNoDriveText(std::uint16_t languageId) {
  switch (languageId) {
    case kLangTraditionalChinese:  // Big5
      return "\xA5\xBC\xB5\x6F\xB2\x7B\xA5\x69\xB2\xBE\xB0\xCA\xBA\xCF\xBA\xD0!";
    case kLangSimplifiedChinese:  // GBK
      return "\xCE\xB4\xB7\xA2\xCF\xD6\xBF\xC9\xD2\xC6\xB6\xAF\xB4\xC5\xC5\xCC!";
    default: return "Removable Disk Drive Not Find!";
  }
}

std::string SectionName(std::uint16_t languageId) {
  char text[8];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(languageId));
  return text;
}

bool IniPath(StartupPlatform& platform, std::string& path) {
  char module[261] = {};
  const std::uint32_t n = platform.GetModuleFileNameA(module, 260);
  module[n < 260 ? n : 260] = '\0';
  std::string program(module);
  const std::size_t slash = program.rfind('\\');
  if (slash == std::string::npos) return false;
  path = program.substr(0, slash) + "\\fmt.ini";
  return true;
}

std::string ReadIniText(StartupPlatform& platform, const std::string& section, const char* key,
                        const std::string& defaultText, const std::string& iniPath) {
  char out[kIniTextBuffer] = {};
  const std::uint32_t n = platform.GetPrivateProfileStringA(
      section.c_str(), key, defaultText.c_str(), out, kIniTextBuffer, iniPath.c_str());
  return std::string(out, n < kIniTextBuffer ? n : kIniTextBuffer - 1);
}

bool ReadIniOverrides(StartupPlatform& platform, std::uint16_t languageId, FormatterTexts& texts) {
  std::string path;
  if (!IniPath(platform, path)) return false;
  const std::string section = SectionName(languageId);
  for (int i = 0; i < kTextKeyCount; ++i) {
    std::string& field = texts.*(kTextKeys[i].field);
    field = ReadIniText(platform, section, kTextKeys[i].key, field, path);
  }
  texts.AboutBoxCaption = texts.AboutMenu;
  return true;
}

}  // namespace vornak
