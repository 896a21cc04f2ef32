// The formatter's start-up: the language, the removable drives, the no-drive
// Retry/Cancel loop, the dialog's texts and its icon.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../disk/disk_access.h"
#include "startup_platform.h"
#include "texts.h"

namespace vornak {

// The application name, also the caption of the no-drive box.
constexpr const char* kAppName = "Format";

// The main dialog as start-up sees it. The dialog owns its drive list and the
// family string.
class MainDialog {
 public:
  virtual ~MainDialog() = default;
  virtual void SetFamily(const std::string& family) = 0;
  virtual std::vector<std::string>& DriveList() = 0;
  // Runs the dialog modally as the application's main window.
  virtual int RunModal() = 0;
};

using MainDialogFactory = std::function<std::unique_ptr<MainDialog>()>;

// 0x0404, 0x0C04, 0x1004 -> 0x0404; 0x0804 stays; anything else -> 0x0409.
std::uint16_t ReduceLanguageId(std::uint16_t systemLanguage);
// The system default language, reduced.
std::uint16_t ChooseLanguage(StartupPlatform& platform);

// Appends every removable drive that IsRemovableDisk accepts, in the order of
// the logical drive strings, as "E:"; returns the number appended.
int ScanRemovableDrives(DiskAccess& disk, std::vector<std::string>& list);

// The no-drive text: the language default, replaced by MsgNoFindDisk of the
// language's section of fmt.ini.
std::string ReadNoDriveText(StartupPlatform& platform, std::uint16_t languageId,
                            const std::string& iniPath);

// The start-up sequence. Returns the process exit code: 0 after the dialog
// closes, after Cancel in the no-drive box, or when the program path has no
// backslash (then no window is shown).
int RunFormatterApp(StartupPlatform& platform, DiskPlatform& disk,
                    const MainDialogFactory& makeDialog);

// The icon choice of the main dialog.
struct IconChoice {
  IconHandle handle = 0;
  int resourceId = 0;  // 128, 134..137 when a built-in icon was chosen; 0 for the file
  bool fromFile = false;
};

// 134 for "Pellora", 136 "Marquen", 135 "QZR", 137 "VESTIK" (searched in that
// order, case-sensitive), else 128.
int BrandIconId(const std::string& aboutCompany);
// The IconFile icon (32x32) when it loads, else the brand icon.
IconChoice ChooseDialogIcon(StartupPlatform& platform, const FormatterTexts& texts);

// The dialog's text loading: English defaults, the language, fmt.ini, the
// icon. The dialog then sets its caption (Title) and kControlTexts.
struct DialogTextsResult {
  std::uint16_t languageId = kLangEnglish;
  IconChoice icon;
};
DialogTextsResult LoadDialogTexts(StartupPlatform& platform, FormatterTexts& texts);

}  // namespace vornak
