// The formatter's start-up: language, drive scan, the no-drive loop, fmt.ini
// and the icon, through the fake machine and a scripted start-up platform.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "fake_machine.h"
#include "fake_startup_platform.h"
#include "startup.h"
#include "texts.h"

namespace vornak {
namespace {

using test::FakeDrive;
using test::FakeMachine;
using test::FakeStartupPlatform;
using test::Family;

const char kIni[] = "C:\\Program Files\\Vornak\\fmt.ini";

// Records what start-up does with the dialog.
struct DialogLog {
  int made = 0, destroyed = 0, runs = 0;
  std::string family;
  std::vector<std::string> drivesAtRun;
};

class FakeDialog : public MainDialog {
 public:
  explicit FakeDialog(DialogLog& log) : log_(log) { ++log_.made; }
  ~FakeDialog() override { ++log_.destroyed; }
  void SetFamily(const std::string& family) override { log_.family = family; }
  std::vector<std::string>& DriveList() override { return drives_; }
  int RunModal() override {
    ++log_.runs;
    log_.drivesAtRun = drives_;
    return 1;
  }

 private:
  DialogLog& log_;
  std::vector<std::string> drives_;
};

MainDialogFactory Factory(DialogLog& log) {
  return [&log] { return std::unique_ptr<MainDialog>(new FakeDialog(log)); };
}

FakeDrive Removable(char letter) {
  FakeDrive d;
  d.letter = letter;
  d.sizeBytes = 64ull << 20;
  return d;
}

TEST(Language, ReducedToThreeIds) {
  const struct {
    std::uint16_t system, reduced;
    const char* section;
  } cases[] = {
      {0x0404, 0x0404, "404"}, {0x0C04, 0x0404, "404"}, {0x1004, 0x0404, "404"},
      {0x0804, 0x0804, "804"}, {0x0409, 0x0409, "409"}, {0x0411, 0x0409, "409"},
      {0x0809, 0x0409, "409"}, {0x1404, 0x0409, "409"}, {0x0000, 0x0409, "409"},
  };
  for (const auto& c : cases) {
    FakeStartupPlatform p;
    p.language = c.system;
    EXPECT_EQ(c.reduced, ChooseLanguage(p)) << std::hex << c.system;
    EXPECT_EQ(c.section, SectionName(ChooseLanguage(p))) << std::hex << c.system;
  }
}

TEST(IniLocation, BesideTheProgram) {
  FakeStartupPlatform p;
  std::string path;
  ASSERT_TRUE(IniPath(p, path));
  EXPECT_EQ(kIni, path);
  p.modulePath = "C:\\vornak.exe";
  ASSERT_TRUE(IniPath(p, path));
  EXPECT_EQ("C:\\fmt.ini", path);
  p.modulePath = "vornak.exe";
  path = "unchanged";
  EXPECT_FALSE(IniPath(p, path));
  EXPECT_EQ("unchanged", path);
}

// --- Drive scan -------------------------------------------------------------

TEST(DriveScan, KeepsRemovableDisksInDriveOrder) {
  for (Family f : {Family::Windows98, Family::WindowsNT}) {
    FakeMachine m(f);
    FakeDrive floppy = Removable('A');
    floppy.deviceType = 7;
    floppy.mediaType = 5;  // a 3.5" floppy's geometry
    floppy.sizeBytes = 1474560;
    m.AddDrive(floppy);
    FakeDrive fixed = Removable('C');
    fixed.driveType = 3;
    m.AddDrive(fixed);
    FakeDrive e = Removable('E');  // listed as removable, but not a removable disk
    e.deviceType = 7;
    e.mediaType = 12;
    m.AddDrive(e);
    m.AddDrive(Removable('G'));
    m.AddDrive(Removable('H'));
    test::FakeDiskUi ui;
    const std::string lock;
    DiskAccess disk(m, ui, GetOsFamily(m), lock);
    std::vector<std::string> list = {"X:"};
    EXPECT_EQ(2, ScanRemovableDrives(disk, list));
    EXPECT_EQ((std::vector<std::string>{"X:", "G:", "H:"}), list);
    // The fixed disk is never opened.
    for (const auto& c : m.Calls(test::FakeCall::CreateFile)) EXPECT_NE("\\\\.\\C:", c.name);
    EXPECT_EQ(0, m.OpenHandleCount());
  }
}

TEST(DriveScan, NothingWhenTheSystemListsNothing) {
  FakeMachine m;
  test::FakeDiskUi ui;
  const std::string lock;
  DiskAccess disk(m, ui, kFamilyWindows2K, lock);
  std::vector<std::string> list;
  EXPECT_EQ(0, ScanRemovableDrives(disk, list));
  EXPECT_TRUE(list.empty());
}

// --- Start-up sequence --------------------------------------------------------

TEST(StartUp, RunsTheDialogWithTheDrivesAndFamily) {
  FakeStartupPlatform p;
  FakeMachine m(Family::Windows98);
  FakeDrive e = Removable('E');
  e.deviceType = 7;
  m.AddDrive(e);
  m.AddDrive(Removable('G'));
  DialogLog log;
  EXPECT_EQ(0, RunFormatterApp(p, m, Factory(log)));
  EXPECT_EQ(1, log.runs);
  EXPECT_EQ("Windows98", log.family);
  EXPECT_EQ((std::vector<std::string>{"G:"}), log.drivesAtRun);
  EXPECT_TRUE(p.boxes.empty());
  EXPECT_EQ(1, log.destroyed);
  // Start-up reads one key: the no-drive text.
  ASSERT_EQ(1u, p.reads.size());
  EXPECT_EQ("MsgNoFindDisk", p.reads[0].key);
  EXPECT_EQ("409", p.reads[0].section);
  EXPECT_EQ(kIni, p.reads[0].file);
  EXPECT_EQ(100u, p.reads[0].size);
}

TEST(StartUp, NoDriveBoxUntilCancel) {
  FakeStartupPlatform p;
  p.answers = {win::IDRETRY, win::IDRETRY, win::IDCANCEL};
  FakeMachine m;
  DialogLog log;
  EXPECT_EQ(0, RunFormatterApp(p, m, Factory(log)));
  ASSERT_EQ(3u, p.boxes.size());
  for (const auto& b : p.boxes) {
    EXPECT_EQ("Removable Disk Drive Not Find!", b.text);
    EXPECT_EQ("Format", b.caption);
    EXPECT_EQ(0x35u, b.type);
  }
  EXPECT_EQ(0, log.runs);
  EXPECT_EQ(1, log.made);
  EXPECT_EQ(1, log.destroyed);  // destroyed without being shown
  EXPECT_EQ("Windows2K", log.family);
  // Each Retry rescans at once: one drive list per box, plus the first scan.
  EXPECT_EQ(3u, m.Calls(test::FakeCall::GetLogicalDriveStrings).size());
  EXPECT_EQ(0u, m.SleptMs());
}

TEST(StartUp, PluggingInADiskAndRetryingOpensTheDialog) {
  FakeStartupPlatform p;
  p.defaultAnswer = win::IDRETRY;
  FakeMachine m;
  FakeDrive f = Removable('F');
  f.present = false;
  m.AddDrive(f);
  p.onBox = [&m](int index) {
    if (index == 1) m.PlugDrive('F');
  };
  DialogLog log;
  EXPECT_EQ(0, RunFormatterApp(p, m, Factory(log)));
  EXPECT_EQ(2u, p.boxes.size());
  EXPECT_EQ(1, log.runs);
  EXPECT_EQ((std::vector<std::string>{"F:"}), log.drivesAtRun);
}

TEST(StartUp, ABoxThatCannotBeShownEndsInsteadOfSpinning) {
  FakeStartupPlatform p;
  p.defaultAnswer = 0;  // MessageBoxA failed
  FakeMachine m;
  DialogLog log;
  EXPECT_EQ(0, RunFormatterApp(p, m, Factory(log)));
  EXPECT_EQ(1u, p.boxes.size());
  EXPECT_EQ(0, log.runs);
}

TEST(StartUp, ChineseDefaultsAndIniReplacementOfTheNoDriveText) {
  {
    FakeStartupPlatform p;
    p.language = 0x0C04;  // Hong Kong: the Traditional Chinese section and text
    FakeMachine m;
    DialogLog log;
    RunFormatterApp(p, m, Factory(log));
    ASSERT_EQ(1u, p.boxes.size());
    EXPECT_EQ(DefaultNoDriveText(0x0404), p.boxes[0].text);
    EXPECT_EQ("404", p.reads[0].section);
    EXPECT_EQ(DefaultNoDriveText(0x0404), p.reads[0].defaultText);
  }
  {
    FakeStartupPlatform p;
    p.language = 0x0804;
    p.iniFiles[kIni] = "[409]\nMsgNoFindDisk=English one\n[804]\nMsgNoFindDisk=  Plug it in  \n";
    FakeMachine m;
    DialogLog log;
    RunFormatterApp(p, m, Factory(log));
    ASSERT_EQ(1u, p.boxes.size());
    EXPECT_EQ("Plug it in", p.boxes[0].text);
  }
}

TEST(StartUp, ProgramPathWithoutBackslashEndsSilently) {
  FakeStartupPlatform p;
  p.modulePath = "vornak.exe";
  FakeMachine m;
  DialogLog log;
  EXPECT_EQ(0, RunFormatterApp(p, m, Factory(log)));
  EXPECT_EQ(0, log.made);
  EXPECT_TRUE(p.boxes.empty());
  EXPECT_TRUE(p.reads.empty());
  EXPECT_TRUE(m.Log().empty());
}

// --- Texts ------------------------------------------------------------------

#ifndef _WIN32
// The Chinese defaults are the GBK and Big5 encodings of these texts.
std::string Iconv(const char* utf8, const char* to) {
  const std::string cmd = std::string("printf '%s' '") + utf8 + "' | iconv -f UTF-8 -t " + to;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return "";
  std::string out;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}

TEST(Texts, ChineseNoDriveTextsAreGbkAndBig5) {
  const std::string gbk = Iconv("未发现可移动磁盘!", "GBK");
  const std::string big5 = Iconv("未發現可移動磁碟!", "BIG5");
  ASSERT_FALSE(gbk.empty());
  ASSERT_FALSE(big5.empty());
  EXPECT_EQ(gbk, DefaultNoDriveText(0x0804));
  EXPECT_EQ(big5, DefaultNoDriveText(0x0404));
  EXPECT_EQ("Removable Disk Drive Not Find!", DefaultNoDriveText(0x0409));
}
#endif

TEST(Texts, KeysAreReadInOrderFromTheLanguageSection) {
  const char* const expected[] = {"Title",
                                  "AboutTool",
                                  "AboutCompany",
                                  "AboutMenu",
                                  "DlgItemSelect",
                                  "DlgItemVolume",
                                  "DlgItemDrive",
                                  "DlgItemSize",
                                  "DlgItemType",
                                  "DlgItemQuick",
                                  "DlgItemFull",
                                  "DlgItemLow",
                                  "DlgItemStart",
                                  "DlgItemExit",
                                  "DlgItemBoot",
                                  "MsgWarnFormat",
                                  "MsgFormatFail",
                                  "MsgLockFail",
                                  "MsgUnsupport",
                                  "MsgInvalidVol",
                                  "MsgSysAreaErr",
                                  "MsgSystemAreaWrite",
                                  "MsgSystemAreaRead",
                                  "MsgDataAreaWrite",
                                  "MsgDataAreaRead",
                                  "MsgTotal",
                                  "MsgCurrent",
                                  "MsgExit",
                                  "MsgStop",
                                  "MsgAYS",
                                  "MsgMaking",
                                  "IconFile",
                                  "MsgPlug"};
  FakeStartupPlatform p;
  FormatterTexts t = FormatterTexts::EnglishDefaults();
  ASSERT_TRUE(ReadIniOverrides(p, 0x0804, t));
  ASSERT_EQ(sizeof expected / sizeof expected[0], p.reads.size());
  for (std::size_t i = 0; i < p.reads.size(); ++i) {
    EXPECT_EQ(expected[i], p.reads[i].key);
    EXPECT_EQ("804", p.reads[i].section);
    EXPECT_EQ(kIni, p.reads[i].file);
    EXPECT_EQ(100u, p.reads[i].size);
  }
  // Each key's default is the field's current text.
  EXPECT_EQ("Vornak V2.0", p.reads[0].defaultText);
  EXPECT_EQ("Lock volume error!", p.reads[17].defaultText);
  // No file: everything stays.
  const FormatterTexts d = FormatterTexts::EnglishDefaults();
  for (int i = 0; i < kTextKeyCount; ++i)
    EXPECT_EQ(d.*(kTextKeys[i].field), t.*(kTextKeys[i].field));
}

TEST(Texts, EnglishDefaults) {
  const FormatterTexts t = FormatterTexts::EnglishDefaults();
  EXPECT_EQ("Vornak V2.0", t.Title);
  EXPECT_EQ("About Vornak", t.AboutMenu);
  EXPECT_EQ("Quit", t.DlgItemExit);
  EXPECT_EQ("ALL DATA ON THIS DISK WILL BE LOST! ARE YOU SURE?(Y/N)", t.MsgWarnFormat);
  EXPECT_EQ("Lock volume error!", t.MsgLockFail);
  EXPECT_EQ("", t.IconFile);
  EXPECT_EQ("Please pull out all disk and plug in the disk you want to format!", t.MsgPlug);
  EXPECT_NE(std::string::npos, t.AboutCompany.find("2003"));
  // Every default survives a read through the 100-character buffer intact.
  for (int i = 0; i < kTextKeyCount; ++i) EXPECT_LT((t.*(kTextKeys[i].field)).size(), 100u);
}

TEST(Texts, OverridesReplaceCutAndEmpty) {
  FakeStartupPlatform p;
  const std::string longTitle(150, 'T');
  p.iniFiles[kIni] =
      "[409]\n"
      "MsgLockFail=" +
      longTitle +
      "\n"
      "DlgItemStart=\"Go\"\n"
      "Title=\n"
      "AboutMenu=About it\n"
      "[404]\n"
      "DlgItemFull=Other language\n";
  FormatterTexts t = FormatterTexts::EnglishDefaults();
  ASSERT_TRUE(ReadIniOverrides(p, 0x0409, t));
  EXPECT_EQ(longTitle.substr(0, 99), t.MsgLockFail);
  EXPECT_EQ("Go", t.DlgItemStart);
  EXPECT_EQ("", t.Title);  // present and empty: the caption is empty
  EXPECT_EQ("Full", t.DlgItemFull);
  EXPECT_EQ("About it", t.AboutBoxCaption);
  EXPECT_EQ("Quick", t.DlgItemQuick);

  p.modulePath = "noslash.exe";
  p.reads.clear();
  FormatterTexts u = FormatterTexts::EnglishDefaults();
  EXPECT_FALSE(ReadIniOverrides(p, 0x0409, u));
  EXPECT_TRUE(p.reads.empty());
  EXPECT_EQ("Vornak V2.0", u.Title);
}

TEST(Texts, DialogTextsStartFromEnglishOnAChineseSystem) {
  FakeStartupPlatform p;
  p.language = 0x0804;
  FormatterTexts t;
  t.Title = "left over";
  t.MsgExit = "left over";
  const DialogTextsResult r = LoadDialogTexts(p, t);
  EXPECT_EQ(0x0804, r.languageId);
  EXPECT_EQ("Vornak V2.0", t.Title);
  EXPECT_EQ("Quit", t.MsgExit);
  EXPECT_EQ("About Vornak", t.AboutBoxCaption);
  EXPECT_EQ(128, r.icon.resourceId);

  p.iniFiles[kIni] = "[804]\nTitle=Zh\nAboutCompany=QZR 2003\n";
  const DialogTextsResult r2 = LoadDialogTexts(p, t);
  EXPECT_EQ("Zh", t.Title);
  EXPECT_EQ(135, r2.icon.resourceId);
  EXPECT_EQ(static_cast<IconHandle>(0x5000 + 135), r2.icon.handle);
}

// --- Icon ---------------------------------------------------------------------

TEST(Icon, BrandWordsInTheirOrder) {
  EXPECT_EQ(128, BrandIconId("Copyright (C) 2003"));
  EXPECT_EQ(134, BrandIconId("Pellora Ltd"));
  EXPECT_EQ(136, BrandIconId("Marquen"));
  EXPECT_EQ(135, BrandIconId("by QZR"));
  EXPECT_EQ(137, BrandIconId("VESTIK Inc."));
  EXPECT_EQ(136, BrandIconId("QZR and Marquen"));
  EXPECT_EQ(136, BrandIconId("Marquen and QZR"));
  EXPECT_EQ(134, BrandIconId("VESTIK Marquen QZR Pellora"));
  EXPECT_EQ(135, BrandIconId("VESTIK/QZR"));
  EXPECT_EQ(128, BrandIconId("pellora marquen qzr vestik"));  // case-sensitive
  EXPECT_EQ(128, BrandIconId(""));
}

TEST(Icon, FileFirstThenBrand) {
  FakeStartupPlatform p;
  p.iconFiles["my.ico"] = 0x777;
  FormatterTexts t = FormatterTexts::EnglishDefaults();
  t.AboutCompany = "Marquen";
  t.IconFile = "my.ico";
  IconChoice c = ChooseDialogIcon(p, t);
  EXPECT_TRUE(c.fromFile);
  EXPECT_EQ(0x777u, c.handle);
  EXPECT_TRUE(p.resourceIconLoads.empty());

  t.IconFile = "missing.ico";  // cannot be loaded: the brand rule applies
  c = ChooseDialogIcon(p, t);
  EXPECT_FALSE(c.fromFile);
  EXPECT_EQ(136, c.resourceId);
  EXPECT_EQ(static_cast<IconHandle>(0x5000 + 136), c.handle);

  t.IconFile = "";
  p.iconFileLoads.clear();
  c = ChooseDialogIcon(p, t);
  EXPECT_TRUE(p.iconFileLoads.empty());  // no file named: none loaded
  EXPECT_EQ(136, c.resourceId);
}

}  // namespace
}  // namespace vornak
