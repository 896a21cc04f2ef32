#include "startup.h"

#include <cctype>

namespace vornak {

namespace {

// Start-up's drive scan never writes, so disk access has no box to show; a
// box it asked for anyway would be answered through the start-up platform.
class StartupDiskUi : public DiskUi {
 public:
  explicit StartupDiskUi(StartupPlatform& p) : p_(p) {}
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override {
    return p_.MessageBoxA(text, caption, type);
  }

 private:
  StartupPlatform& p_;
};

}  // namespace

std::uint16_t ReduceLanguageId(std::uint16_t systemLanguage) {
  switch (systemLanguage) {
    case 0x0404:  // Chinese (Taiwan)
    case 0x0C04:  // Chinese (Hong Kong)
    case 0x1004:  // Chinese (Singapore)
      return kLangTraditionalChinese;
    case 0x0804: return kLangSimplifiedChinese;
    default: return kLangEnglish;
  }
}

std::uint16_t ChooseLanguage(StartupPlatform& platform) {
  return ReduceLanguageId(platform.GetSystemDefaultLangID());
}

int ScanRemovableDrives(DiskAccess& disk, std::vector<std::string>& list) {
  DiskPlatform& p = disk.Platform();
  char roots[151] = {};
  const std::uint32_t n = p.GetLogicalDriveStringsA(150, roots);
  // 0 is failure; a value above the buffer is the size it would have needed.
  if (n == 0 || n > 150) return 0;
  int appended = 0;
  for (std::uint32_t i = 0; i < n && roots[i] != '\0';) {
    const std::string root(roots + i);
    i += static_cast<std::uint32_t>(root.size()) + 1;
    if (p.GetDriveTypeA(root.c_str()) != win::DRIVE_REMOVABLE) continue;
    const std::size_t colon = root.find(':');
    if (colon == std::string::npos) continue;
    std::string drive = root.substr(0, colon + 1);
    if (!disk.IsRemovableDisk(drive)) continue;
    for (char& c : drive) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    list.push_back(drive);
    ++appended;
  }
  return appended;
}

std::string ReadNoDriveText(StartupPlatform& platform, std::uint16_t languageId,
                            const std::string& iniPath) {
  return ReadIniText(platform, SectionName(languageId), "MsgNoFindDisk",
                     DefaultNoDriveText(languageId), iniPath);
}

int RunFormatterApp(StartupPlatform& platform, DiskPlatform& diskPlatform,
                    const MainDialogFactory& makeDialog) {
  const std::uint16_t language = ChooseLanguage(platform);
  std::string iniPath;
  if (!IniPath(platform, iniPath)) return 0;
  const std::string noDrive = ReadNoDriveText(platform, language, iniPath);

  std::unique_ptr<MainDialog> dialog = makeDialog();
  if (!dialog) return 0;
  const std::string family = GetOsFamily(diskPlatform);
  dialog->SetFamily(family);

  StartupDiskUi ui(platform);
  const std::string noLockText;
  DiskAccess disk(diskPlatform, ui, family, noLockText);
  for (;;) {
    const int found = ScanRemovableDrives(disk, dialog->DriveList());
    if (found > 0 || !dialog->DriveList().empty()) break;
    const int answer = platform.MessageBoxA(noDrive.c_str(), kAppName,
                                            win::MB_RETRYCANCEL | win::MB_ICONEXCLAMATION);
    // Cancel ends start-up and the dialog goes without being shown. A box that
    // could not be shown at all (0) ends it too instead of rescanning forever.
    if (answer == win::IDCANCEL || answer == 0) return 0;
  }
  dialog->RunModal();
  return 0;
}

int BrandIconId(const std::string& aboutCompany) {
  static const struct {
    const char* word;
    int icon;
  } kBrands[] = {{"Pellora", 134}, {"Marquen", 136}, {"QZR", 135}, {"VESTIK", 137}};
  for (const auto& b : kBrands)
    if (aboutCompany.find(b.word) != std::string::npos) return b.icon;
  return 128;
}

IconChoice ChooseDialogIcon(StartupPlatform& platform, const FormatterTexts& texts) {
  IconChoice choice;
  if (!texts.IconFile.empty()) {
    choice.handle = platform.LoadIconFile(texts.IconFile.c_str(), 32, 32);
    if (choice.handle != 0) {
      choice.fromFile = true;
      return choice;
    }
  }
  choice.resourceId = BrandIconId(texts.AboutCompany);
  choice.handle = platform.LoadResourceIcon(choice.resourceId);
  return choice;
}

DialogTextsResult LoadDialogTexts(StartupPlatform& platform, FormatterTexts& texts) {
  DialogTextsResult result;
  texts = FormatterTexts::EnglishDefaults();
  result.languageId = ChooseLanguage(platform);
  ReadIniOverrides(platform, result.languageId, texts);
  result.icon = ChooseDialogIcon(platform, texts);
  return result;
}

}  // namespace vornak
