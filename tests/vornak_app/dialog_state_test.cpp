// The dialog's own behaviour: initialisation, modes, the exit handler, drive
// arrivals and removals, the system menu and the size handler.
#include <gtest/gtest.h>

#include <utility>

#include "dialog_rig.h"

namespace vornak::test {
namespace {

TEST(DialogInit, EveryControlCaptionComesFromItsOwnIniKey) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.startup.modulePath = "C:\\Tools\\vornak.exe";
  rig.startup.iniFiles["C:\\Tools\\fmt.ini"] =
      "[409]\nDlgItemSelect=t-select\nDlgItemVolume=t-volume\nDlgItemDrive=t-drive\n"
      "DlgItemSize=t-size\nDlgItemType=t-type\nDlgItemQuick=t-quick\nDlgItemFull=t-full\n"
      "DlgItemLow=t-low\nDlgItemStart=t-start\nDlgItemExit=t-exit\nDlgItemBoot=t-boot\n";
  rig.Open();

  const std::pair<int, const char*> expected[] = {
      {IDC_SELECT, "t-select"},       {IDC_VOLUME_CAPTION, "t-volume"},
      {IDC_DRIVE_CAPTION, "t-drive"}, {IDC_SIZE_CAPTION, "t-size"},
      {IDC_TYPE_GROUP, "t-type"},     {IDC_QUICK, "t-quick"},
      {IDC_FULL, "t-full"},           {IDC_LOW, "t-low"},
      {IDC_START, "t-start"},         {IDC_EXIT, "t-exit"},
      {IDC_BOOTABLE, "t-boot"},
  };
  for (const auto& [id, text] : expected) EXPECT_EQ(rig.ui.controls[id].text, text) << id;
}

TEST(DialogInit, FillsControlsFromDrivesAndTexts) {
  Rig rig;
  rig.AddDrive('F', 62 * kMiB).volumeLabel = "MUSIC";
  rig.AddDrive('E', 30 * kMiB).volumeLabel = "BAD*NAME";
  rig.startup.modulePath = "C:\\Tools\\vornak.exe";
  rig.startup.iniFiles["C:\\Tools\\fmt.ini"] = "[409]\nTitle=My Formatter\nMsgTotal=Sectors\n";
  FormatterDialog& d = rig.Open();

  EXPECT_EQ(rig.ui.caption, "My Formatter");
  EXPECT_EQ(rig.ui.combo, std::vector<std::string>({"E:", "F:"}));
  EXPECT_EQ(rig.ui.comboSel, 0);
  EXPECT_TRUE(rig.ui.controls[IDC_QUICK].checked);
  EXPECT_EQ(d.quickFlag, 1);
  EXPECT_EQ(d.lowFlag, 0);
  // E: is inspected: its label fails the label rules and is dropped.
  EXPECT_EQ(rig.ui.controls[IDC_LABEL].text, "");
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "30.00M");
  EXPECT_EQ(rig.ui.controls[IDC_SECTORS].text, "Sectors:61440");
  EXPECT_EQ(rig.ui.controls[IDC_PROGRESS].text, "Current:");
  EXPECT_EQ(rig.ui.controls[IDC_START].text, "Start");
  EXPECT_EQ(rig.ui.aboutItem, "About Vornak");
  EXPECT_FALSE(rig.ui.systemMenu[4]);
  EXPECT_EQ(rig.ui.focus, IDC_DRIVE);
  EXPECT_NE(rig.ui.icon, 0u);
  EXPECT_EQ(rig.ui.icon, d.icon);

  // Selecting F: shows its label and size.
  rig.ui.comboSel = 1;
  d.OnDriveSelChange();
  EXPECT_EQ(rig.ui.controls[IDC_LABEL].text, "MUSIC");
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "62.00M");
}

// A disk's label is shown only where the system's code page reads it as a
// valid label: "\xA5\\" is one Big5 character, but on a Western system a
// letter and a backslash.
TEST(DialogInit, DiskLabelFollowsTheSystemCodePage) {
  for (bool doubleByte : {false, true}) {
    SCOPED_TRACE(doubleByte);
    Rig rig;
    rig.ui.doubleByteCodePage = doubleByte;
    rig.AddDrive('E', 30 * kMiB).volumeLabel = "\xA5\\";
    rig.Open();
    EXPECT_EQ(rig.ui.controls[IDC_LABEL].text, doubleByte ? "\xA5\\" : "");
  }
}

TEST(DialogInit, BootableOnlyForPartitionedAndComputedLayouts) {
  struct Case {
    std::uint64_t size;
    bool bootable;
  };
  const Case cases[] = {
      {30 * kMiB, false}, {125181ull * 512, true}, {200 * kMiB, true}, {4 * kMiB, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Rig rig;
    rig.AddDrive('E', c.size);
    rig.ui.controls[IDC_BOOTABLE].checked = true;
    rig.Open();
    EXPECT_EQ(rig.ui.controls[IDC_BOOTABLE].enabled, c.bootable);
    EXPECT_EQ(rig.ui.controls[IDC_BOOTABLE].checked, c.bootable);
  }
}

TEST(DialogModes, EachModeSetsFlagsRadiosAndProgressLine) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  FormatterDialog& d = rig.Open();
  d.SetModeLow();
  EXPECT_EQ(d.quickFlag, 0);
  EXPECT_EQ(d.lowFlag, 1);
  EXPECT_TRUE(rig.ui.controls[IDC_LOW].checked);
  EXPECT_FALSE(rig.ui.controls[IDC_QUICK].checked);
  EXPECT_TRUE(rig.ui.controls[IDC_PROGRESS].enabled);
  d.SetModeFull();
  EXPECT_EQ(d.quickFlag, 0);
  EXPECT_EQ(d.lowFlag, 0);
  EXPECT_TRUE(rig.ui.controls[IDC_FULL].checked);
  EXPECT_FALSE(rig.ui.controls[IDC_LOW].checked);
  EXPECT_FALSE(rig.ui.controls[IDC_PROGRESS].enabled);
  d.SetModeQuick();
  EXPECT_EQ(d.quickFlag, 1);
  EXPECT_TRUE(rig.ui.controls[IDC_QUICK].checked);
  EXPECT_FALSE(rig.ui.controls[IDC_FULL].checked);
  EXPECT_FALSE(rig.ui.controls[IDC_PROGRESS].enabled);
}

TEST(DialogExit, ClosesWhenIdleAndAsksDuringARun) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  FormatterDialog& d = rig.Open();
  d.runningFlag = 1;
  rig.ui.answer = [](const FakeDialogPlatform::Box&) { return dlg::kIdNo; };
  d.OnExit();
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, "Are you sure?(Y/N)");
  EXPECT_EQ(rig.ui.boxes[0].caption, "Format");
  EXPECT_EQ(rig.ui.boxes[0].type, 0x24u);
  EXPECT_EQ(d.runningFlag, 1);
  EXPECT_FALSE(rig.ui.ended);
  rig.ui.answer = nullptr;  // Yes
  d.OnExit();
  EXPECT_EQ(d.runningFlag, 0);
  EXPECT_FALSE(rig.ui.ended);
  d.OnExit();
  EXPECT_TRUE(rig.ui.ended);
  EXPECT_EQ(rig.ui.boxes.size(), 2u);
}

TEST(DialogDriveChange, PlugAndUnplugWhileIdle) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.AddDrive('G', 62 * kMiB).present = false;
  FormatterDialog& d = rig.Open();

  // Second disk plugged in: list rebuilt, item 0 kept, first drive inspected.
  rig.machine.PlugDrive('G');
  rig.ui.controls[IDC_DRIVE_SIZE].text = "stale";
  EXPECT_TRUE(d.OnDriveChange(dlg::kDbtDeviceArrival));
  EXPECT_EQ(rig.ui.combo, std::vector<std::string>({"E:", "G:"}));
  EXPECT_EQ(rig.ui.comboSel, 0);
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "30.00M");
  EXPECT_EQ(d.knownDriveCount, 2);

  // E: pulled out: G: is now item 0 and its size and layout are the ones held.
  rig.machine.RemoveDrive('E');
  d.OnDriveChange(dlg::kDbtDeviceRemoveComplete);
  EXPECT_EQ(rig.ui.combo, std::vector<std::string>({"G:"}));
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "62.00M");
  EXPECT_EQ(d.knownDriveCount, 1);
  EXPECT_TRUE(rig.ui.controls[IDC_START].enabled);

  // The last one pulled out: a single blank entry, the six controls disabled.
  rig.ui.controls[IDC_BOOTABLE].checked = true;
  rig.machine.RemoveDrive('G');
  d.OnDriveChange(dlg::kDbtDeviceRemoveComplete);
  EXPECT_EQ(rig.ui.combo, std::vector<std::string>({" "}));
  EXPECT_EQ(d.driveList, std::vector<std::string>({" "}));
  for (int id : {IDC_START, IDC_DRIVE, IDC_LABEL, IDC_QUICK, IDC_FULL, IDC_LOW}) {
    EXPECT_FALSE(rig.ui.controls[id].enabled) << id;
  }
  EXPECT_FALSE(rig.ui.controls[IDC_BOOTABLE].checked);
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "0.00M");
  EXPECT_EQ(d.knownDriveCount, 0);
  rig.ui.boxes.clear();
  d.OnStart();  // Enter on the blank entry
  EXPECT_EQ(rig.ui.BoxTexts(), std::vector<std::string>({"Unsupported type!"}));

  // Plugged in again: everything comes back.
  rig.machine.PlugDrive('E');
  d.OnDriveChange(dlg::kDbtDeviceArrival);
  EXPECT_EQ(rig.ui.combo, std::vector<std::string>({"E:"}));
  EXPECT_TRUE(rig.ui.controls[IDC_START].enabled);
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "30.00M");

  // Other events are ignored.
  const int redraws = rig.ui.redraws;
  EXPECT_TRUE(d.OnDriveChange(0x0007));
  EXPECT_EQ(rig.ui.redraws, redraws);
}

TEST(DialogDriveChange, RemovalAtStartupWithTwoDrivesInspectsTheRemainingOne) {
  // Start-up found two drives; no device event has been seen yet.
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.AddDrive('F', 62 * kMiB);
  FormatterDialog& d = rig.Open();
  rig.machine.RemoveDrive('E');
  d.OnDriveChange(dlg::kDbtDeviceRemoveComplete);
  EXPECT_EQ(rig.ui.combo, std::vector<std::string>({"F:"}));
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "62.00M");
  EXPECT_EQ(d.layout.kind, LayoutKind::SuperfloppyEven);
  EXPECT_EQ(d.layout.fatSectors, 124u);
}

TEST(DialogSystemMenu, AboutItemMinimiseAndNoMenu) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  FormatterDialog& d = rig.Open();
  EXPECT_TRUE(d.OnSysCommand(0x0010));
  EXPECT_TRUE(d.OnSysCommand(0x0013));  // low four bits ignored
  EXPECT_EQ(rig.ui.aboutShown, 2);
  EXPECT_FALSE(d.OnSysCommand(0xF060));  // SC_CLOSE: default processing
  EXPECT_EQ(rig.ui.aboutShown, 2);

  d.OnSize(true);
  EXPECT_FALSE(rig.ui.systemMenu[2]);
  EXPECT_FALSE(rig.ui.systemMenu[3]);
  d.OnSize(false);
  EXPECT_TRUE(rig.ui.systemMenu[2]);
  EXPECT_TRUE(rig.ui.systemMenu[3]);

  Rig bare;
  bare.AddDrive('E', 30 * kMiB);
  bare.ui.hasSystemMenu = false;
  bare.Open();
  EXPECT_EQ(bare.ui.systemMenu.count(4), 0u);
}

TEST(DialogRunState, ControlsDuringAQuickRunAndBootableRestoredAfter) {
  Rig rig;
  rig.AddDrive('E', 200 * kMiB);
  FormatterDialog& d = rig.Open();
  ASSERT_TRUE(rig.ui.controls[IDC_BOOTABLE].enabled);
  bool checked = false;
  rig.ui.onWait = [&](const std::string&) {
    for (int id :
         {IDC_START, IDC_DRIVE, IDC_LABEL, IDC_QUICK, IDC_FULL, IDC_LOW, IDC_EXIT, IDC_BOOTABLE}) {
      EXPECT_FALSE(rig.ui.controls[id].enabled) << id;
    }
    EXPECT_TRUE(rig.ui.waitCursor);
    EXPECT_EQ(d.runningFlag, 1);
    checked = true;
    return WaitResult::Exited;
  };
  d.OnStart();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(rig.ui.controls[IDC_BOOTABLE].enabled);
  EXPECT_TRUE(rig.ui.controls[IDC_EXIT].enabled);
}

TEST(DialogStatus, PassProgressIsFormattedWithTheDialogsTexts) {
  Rig rig;
  rig.AddDrive('E', 64 * kMiB);
  rig.startup.modulePath = "C:\\Tools\\vornak.exe";
  rig.startup.iniFiles["C:\\Tools\\fmt.ini"] =
      "[409]\nMsgDataAreaWrite=Schreiben\nMsgSystemAreaRead=Lesen\n";
  FormatterDialog& d = rig.Open();
  PassProgress p;
  p.dataArea = true;
  p.sector = 1313;
  p.percent = 1;
  d.ShowPassProgress(p);
  EXPECT_EQ(rig.ui.controls[IDC_PROGRESS].text, "Schreiben: 1313(1%)");
  EXPECT_EQ(d.progressText, "Schreiben: 1313(1%)");
  p.end = true;
  p.percent = 100;
  d.ShowPassProgress(p);
  EXPECT_EQ(rig.ui.controls[IDC_PROGRESS].text, "Schreiben: End");
  p = PassProgress{};
  p.write = false;
  p.sector = 32;
  p.percent = 12;
  d.ShowPassProgress(p);
  EXPECT_EQ(rig.ui.controls[IDC_PROGRESS].text, "Lesen: 32(12%)");
}

}  // namespace
}  // namespace vornak::test
