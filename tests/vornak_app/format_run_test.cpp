// Whole format runs through the dialog on the fake machine: what reaches the
// disk (judged by fsck.fat and mtools where the volume is a whole-disk one),
// the system format command, the messages and the results report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "dialog_rig.h"

namespace vornak::test {
namespace {

using Key = FakeDialogPlatform;

const char* kFormatFail = "Format fail!";

std::string ReportOf(const FakeDialogPlatform& ui) {
  for (const auto& b : ui.boxes) {
    if (b.caption.rfind("Format Results - Removable Disk(", 0) == 0) return b.text;
  }
  return std::string();
}

bool HasReport(const FakeDialogPlatform& ui) { return !ReportOf(ui).empty(); }

// The figures of an English report, in order.
std::vector<unsigned long> Figures(const std::string& report) {
  std::vector<unsigned long> v;
  std::size_t at = 0;
  while ((at = report.find(": ", at)) != std::string::npos) {
    at += 2;
    v.push_back(std::strtoul(report.c_str() + at, nullptr, 10));
  }
  return v;
}

// --- Quick and Full on Windows 2000/XP ---------------------------------------

TEST(FormatRunNt, QuickRunOf62MiBDriveWithLabelGivesCleanVolumeAndReport) {
  Rig rig;
  std::string image;
  rig.AddFileDrive('E', 62 * kMiB, &image);
  FormatterDialog& d = rig.Open();
  rig.ui.controls[IDC_LABEL].text = "player";
  // No sector may be written before the system format command has ended.
  std::uint64_t writtenWhenWaited = ~0ull;
  rig.ui.onWait = [&](const std::string&) {
    writtenWhenWaited = rig.machine.BytesWritten();
    return WaitResult::Exited;
  };
  d.OnStart();

  EXPECT_EQ(writtenWhenWaited, 0u);
  ASSERT_EQ(rig.ui.started.size(), 1u);
  EXPECT_EQ(rig.ui.started[0],
            "cmd /c C:\\WINDOWS\\system32\\format.com E:/FS:FAT /A:2048/Q < "
            "C:\\WINDOWS\\tmptmp.tmp");
  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 0);
  ASSERT_TRUE(HasReport(rig.ui));
  EXPECT_EQ(rig.ui.boxes.back().caption, "Format Results - Removable Disk(E:)");
  EXPECT_EQ(rig.ui.boxes.back().type, 0u);
  // 62 MiB, F = 124 (the 2048-byte-cluster layout): total = 2048 * floor((65011712 - 124*1024 -
  // 0x4200) / 2048)
  const std::vector<unsigned long> f = Figures(ReportOf(rig.ui));
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[1], 0u);           // system
  EXPECT_EQ(f[2], 0u);           // bad
  EXPECT_EQ(f[3], f[0]);         // available
  EXPECT_EQ(f[4], 2048u);        // cluster
  EXPECT_EQ(f[5], f[0] / 2048);  // units
  EXPECT_EQ(f[0] % 2048, 0u);
  EXPECT_GT(f[0], 64000000u);
  // The waits of the run: 5 s after the image write, no marker retries.
  EXPECT_EQ(rig.ui.sleeps, std::vector<std::uint32_t>({5000}));
  // Answer file and marker are gone; the shell was told.
  EXPECT_EQ(rig.ui.files.count(Key::Key("C:\\WINDOWS\\tmptmp.tmp")), 0u);
  EXPECT_EQ(rig.ui.files.count(Key::Key("E:\\finish")), 0u);
  EXPECT_EQ(rig.ui.notified, std::vector<std::string>({"E:\\"}));
  EXPECT_FALSE(rig.ui.waitCursor);
  EXPECT_EQ(d.runningFlag, 0);
  EXPECT_EQ(rig.ui.controls[IDC_EXIT].text, "Quit");
  EXPECT_TRUE(rig.ui.controls[IDC_START].enabled);
  EXPECT_EQ(rig.ui.focus, IDC_DRIVE);

  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n '" + image + "'", &out), 0) << out;
  ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mlabel -s -i '" + image + "' ::", &out), 0) << out;
  EXPECT_NE(out.find("PLAYER"), std::string::npos) << out;
}

TEST(FormatRunNt, FullRunDropsQuickSwitchAndSmallWorkedCaseReportIsExact) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  FormatterDialog& d = rig.Open();
  d.SetModeFull();
  d.OnStart();
  ASSERT_EQ(rig.ui.started.size(), 1u);
  EXPECT_NE(rig.ui.started[0].find(" E:/FS:FAT /A:2048 < "), std::string::npos)
      << rig.ui.started[0];
  EXPECT_EQ(ReportOf(rig.ui),
            "total disk space: 31377408 bytes\n\nsystem files use: 0\n\nbad sectors: 0 bytes\n\n"
            "available on disk: 31377408 bytes\n\n\n\neach allocation unit: 2048 bytes\n\n"
            "total allocation units: 15321\n");
  // K = 80384 bytes (157 sectors) written from sector 0, boot signature in place.
  auto boot = rig.Sector('E', 0);
  EXPECT_EQ(boot[510], 0x55);
  EXPECT_EQ(boot[511], 0xAA);
  EXPECT_EQ(rig.machine.BytesWritten(), 80384u);
}

TEST(FormatRunNt, AnswerFileHoldsTheSevenBytesWhenFormatReadsIt) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.ui.files[Key::Key("C:\\WINDOWS\\tmptmp.tmp")] = "left over from an earlier run, longer";
  rig.Open();
  std::string seen;
  rig.ui.onWait = [&](const std::string&) {
    seen = rig.ui.files[Key::Key("C:\\WINDOWS\\tmptmp.tmp")];
    return WaitResult::Exited;
  };
  rig.dialog->OnStart();
  EXPECT_EQ(seen, std::string("\x0D\x0A\x79\x0D\x0A\x0D\x0A", 7));
  // The marker was the answer file copied to the drive, then both deleted.
  ASSERT_FALSE(rig.ui.copies.empty());
  EXPECT_EQ(rig.ui.copies[0].first, "C:\\WINDOWS\\tmptmp.tmp");
  EXPECT_EQ(rig.ui.copies[0].second, "E:\\finish");
  EXPECT_EQ(rig.ui.deleted, std::vector<std::string>({"E:\\finish", "C:\\WINDOWS\\tmptmp.tmp"}));
}

TEST(FormatRunNt, MarkerRetriesOncePerSecondAndGivesUpAfterSixtyAttempts) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.Open();
  rig.ui.markerFailures = 3;
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.sleeps, std::vector<std::uint32_t>({1000, 1000, 1000, 5000}));

  Rig never;
  never.AddDrive('E', 30 * kMiB);
  never.Open();
  never.ui.markerFailures = 1000;
  never.dialog->OnStart();
  EXPECT_EQ(std::count(never.ui.sleeps.begin(), never.ui.sleeps.end(), 1000u), 60);
  EXPECT_TRUE(HasReport(never.ui));  // the run goes on regardless
}

// --- System format failures ----------------------------------------------------

TEST(FormatRunNt, SystemFormatFailuresEndTheRunBeforeAnySectorIsWritten) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
    bool answerFileRemains;
    int extraBoxes;  // boxes besides the confirmation and "Format fail!"
  };
  const Case cases[] = {
      {"format.com missing", [](Rig& r) { r.ui.files.clear(); }, false, 0},
      {"command not started", [](Rig& r) { r.ui.startFails = true; }, true, 0},
      {"command never ends",
       [](Rig& r) { r.ui.onWait = [](const std::string&) { return WaitResult::TimedOut; }; }, false,
       0},
      {"answer file not created",
       [](Rig& r) {
         r.ui.windowsDir = "C:\\READONLY";
         r.ui.files[Key::Key("C:\\READONLY\\system32\\format.com")] = "MZ";
       },
       false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.AddDrive('E', 30 * kMiB);
    rig.Open();
    c.arrange(rig);
    rig.dialog->OnStart();
    EXPECT_EQ(rig.machine.BytesWritten(), 0u);
    EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 1);
    EXPECT_EQ(rig.ui.boxes.back().caption, "Sorry!");
    EXPECT_EQ(rig.ui.boxes.back().type, 0x10u);
    EXPECT_EQ(rig.ui.boxes.size(), 2u + c.extraBoxes);
    EXPECT_FALSE(HasReport(rig.ui));
    EXPECT_EQ(rig.ui.files.count(Key::Key(rig.ui.windowsDir + "\\tmptmp.tmp")) != 0,
              c.answerFileRemains);
    EXPECT_EQ(rig.dialog->runningFlag, 0);
    EXPECT_TRUE(rig.ui.controls[IDC_START].enabled);
    EXPECT_EQ(rig.ui.notified.size(), 1u);
  }
}

TEST(FormatRunNt, HungSystemFormatIsEndedAndItsTempFileRemoved) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.Open();
  rig.ui.onWait = [](const std::string&) { return WaitResult::TimedOut; };
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.terminated, 1);
  EXPECT_EQ(rig.ui.files.count(Key::Key("C:\\WINDOWS\\tmptmp.tmp")), 0u);
}

// A Full system format of a large disk on a slow port takes long: the time
// limit follows the disk size (0.5 MB/s and two minutes more).
TEST(FormatRunNt, SystemFormatTimeLimitGrowsWithTheDisk) {
  for (std::uint32_t mib : {30u, 1024u}) {
    SCOPED_TRACE(mib);
    Rig rig;
    rig.AddDrive('E', static_cast<std::uint64_t>(mib) * kMiB);
    rig.Open();
    rig.dialog->SetModeFull();
    rig.dialog->OnStart();
    ASSERT_EQ(rig.ui.waitTimeouts.size(), 1u);
    const std::uint64_t bytes = static_cast<std::uint64_t>(mib) * kMiB;
    EXPECT_GE(rig.ui.waitTimeouts[0], bytes * 1000 / 500000 + 120000 - 1);
    EXPECT_LE(rig.ui.waitTimeouts[0], bytes * 1000 / 500000 + 121000);
  }
  // A 1 GiB disk at 1 MB/s needs about 17 minutes: more than the old 10.
  EXPECT_GT(SystemFormatTimeoutMs(1u << 30), 36u * 60u * 1000u);
}

TEST(FormatRunNt, AnswerFileFailureShowsPathBox) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.Open();
  EXPECT_FALSE(rig.dialog->WriteAnswerFile("C:\\READONLY\\tmptmp.tmp"));
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, "C:\\READONLY\\tmptmp.tmp");
  EXPECT_EQ(rig.ui.boxes[0].caption, "Can not create temp file!");
  EXPECT_EQ(rig.ui.boxes[0].type, 0u);
}

// --- Refusals before anything happens ----------------------------------------

TEST(FormatRunNt, UnsupportedDriveAndAnsweringNoChangeNothing) {
  {
    Rig rig;
    rig.AddDrive('E', 4 * kMiB);  // too small for FAT16
    rig.Open();
    rig.dialog->OnStart();
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].text, "Unsupported type!");
    EXPECT_EQ(rig.ui.boxes[0].caption, "Sorry!");
    EXPECT_EQ(rig.ui.boxes[0].type, 0x10u);
    EXPECT_TRUE(rig.ui.notified.empty());
  }
  {
    // 4 GiB and more cannot be counted in the sizes the formatter uses: the
    // dialog says so instead of showing 4 GiB less one byte.
    Rig rig;
    rig.AddDrive('E', 4ull << 30);
    rig.Open();
    EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "Unsupported type!");
    EXPECT_EQ(rig.ui.controls[IDC_SECTORS].text, "Total Sectors:");
    rig.dialog->OnStart();
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].text, "Unsupported type!");
    EXPECT_EQ(rig.machine.BytesWritten(), 0u);
  }
  {
    Rig rig;
    rig.AddDrive('E', 30 * kMiB);
    rig.Open();
    rig.ui.answer = [](const FakeDialogPlatform::Box&) { return dlg::kIdNo; };
    const auto before = rig.ui.controls;
    rig.dialog->OnStart();
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].caption, "Warning - Removable Disk(E:)");
    EXPECT_EQ(rig.ui.boxes[0].text, "ALL DATA ON THIS DISK WILL BE LOST! ARE YOU SURE?(Y/N)");
    EXPECT_EQ(rig.ui.boxes[0].type, 0x44u);
    EXPECT_EQ(rig.machine.BytesWritten(), 0u);
    EXPECT_TRUE(rig.ui.started.empty());
    EXPECT_TRUE(rig.ui.notified.empty());
    for (const auto& kv : before) {
      EXPECT_EQ(rig.ui.controls[kv.first].enabled, kv.second.enabled) << kv.first;
      EXPECT_EQ(rig.ui.controls[kv.first].text, kv.second.text) << kv.first;
    }
  }
}

TEST(FormatRunNt, OverlongLabelIsRefusedWithTheStandardMessage) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.Open();
  EXPECT_EQ(rig.ui.controls[IDC_LABEL].limit, 11);
  rig.ui.controls[IDC_LABEL].text = "TWELVE_CHARS";
  rig.dialog->OnStart();
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].text, "Please enter no more than 11 characters.");
  EXPECT_EQ(rig.ui.focus, IDC_LABEL);
  EXPECT_EQ(rig.machine.BytesWritten(), 0u);
}

// --- Low ------------------------------------------------------------------------

struct LowRig : Rig {
  std::string image;
  explicit LowRig(std::uint32_t size) {
    AddFileDrive('E', size, &image);
    Open();
    dialog->SetModeLow();
    machine.SetLogging(false);
  }
};

TEST(FormatRunLow, UnreadableSectorsBecomeBadClustersInBothFatsAndTheReport) {
  LowRig rig(30 * kMiB);
  // 30 MiB: F = 60, data area from sector 153, 4 sectors per cluster.
  FakeDrive& drive = rig.machine.Drive('E');
  const std::uint32_t badSector = 153 + 4 * 100 + 1;  // in cluster 100 (FAT entry 102)
  drive.corruptOnRead[static_cast<std::uint64_t>(badSector) * 512 + 7] = 0x01;
  drive.corruptOnRead[static_cast<std::uint64_t>(153 + 4 * 5000) * 512] = 0x80;  // cluster 5000
  rig.dialog->OnStart();

  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 0);
  const std::vector<unsigned long> f = Figures(ReportOf(rig.ui));
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[2], 2u * 2048u);
  EXPECT_EQ(f[3], f[0] - 2u * 2048u);
  for (std::uint32_t fat : {1u, 61u}) {
    EXPECT_EQ(rig.FatEntry('E', fat, 102), 0xFFF7u) << fat;
    EXPECT_EQ(rig.FatEntry('E', fat, 5002), 0xFFF7u) << fat;
    EXPECT_EQ(rig.FatEntry('E', fat, 103), 0u) << fat;
  }
  EXPECT_EQ(rig.ui.controls[IDC_EXIT].text, "Quit");  // Stop during the run, Quit after
  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n '" + rig.image + "'", &out), 0) << out;
  // mtools counts the free space without the bad clusters.
  ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mdir -i '" + rig.image + "' ::", &out), 0) << out;
  out.erase(std::remove(out.begin(), out.end(), ' '), out.end());  // "31 373 312"
  EXPECT_NE(out.find(std::to_string(f[3]) + "bytesfree"), std::string::npos) << out;
}

TEST(FormatRunLow, StopDuringThePassRewritesTheImageAndStillReports) {
  LowRig rig(30 * kMiB);
  bool exitShownStop = false;
  rig.ui.onPump = [&](int n) {
    if (n == 50) {
      exitShownStop = rig.ui.controls[IDC_EXIT].text == "Stop" && rig.ui.controls[IDC_EXIT].enabled;
      rig.dialog->OnExit();  // answered Yes by default
    }
  };
  rig.dialog->OnStart();
  EXPECT_TRUE(exitShownStop);
  EXPECT_EQ(rig.ui.CountBoxes("Are you sure?(Y/N)"), 1);
  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 0);
  EXPECT_TRUE(HasReport(rig.ui));
  EXPECT_FALSE(rig.ui.ended);  // the dialog stays open
  // The pass wrote 0xFF over the root directory area; the rewrite restored it.
  auto root = rig.Sector('E', 121);
  EXPECT_EQ(root[0], 0);  // label-less root directory: first entry free
  auto boot = rig.Sector('E', 0);
  EXPECT_EQ(boot[510], 0x55);
  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n '" + rig.image + "'", &out), 0) << out;
}

TEST(FormatRunLow, StartCommandDuringARunDoesNotBeginAnother) {
  LowRig rig(30 * kMiB);
  rig.ui.onPump = [&](int n) {
    if (n == 20) rig.dialog->OnStart();  // Enter reaches the dialog mid-pass
  };
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.CountBoxes("ALL DATA ON THIS DISK WILL BE LOST! ARE YOU SURE?(Y/N)"), 1);
  EXPECT_EQ(rig.ui.started.size(), 1u);
  EXPECT_TRUE(HasReport(rig.ui));
  // Once the run is over, Start works again.
  rig.ui.onPump = nullptr;
  rig.ui.boxes.clear();
  rig.dialog->SetModeQuick();
  rig.dialog->OnStart();
  EXPECT_TRUE(HasReport(rig.ui));
}

TEST(FormatRunNt, WithoutTheSystemFormatCommandTheRunWritesDirectly) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.Open();
  rig.dialog->useSystemFormat = false;
  rig.ui.files.clear();  // no format.com either
  rig.dialog->OnStart();
  EXPECT_TRUE(rig.ui.started.empty());
  EXPECT_TRUE(rig.ui.copies.empty());
  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 0);
  EXPECT_TRUE(HasReport(rig.ui));
}

TEST(FormatRunLow, AnsweringNoToStopKeepsTheRunGoing) {
  LowRig rig(30 * kMiB);
  rig.ui.answer = [](const FakeDialogPlatform::Box& b) {
    return b.text == "Are you sure?(Y/N)"    ? dlg::kIdNo
           : (b.type & 0xF) == dlg::kMbYesNo ? dlg::kIdYes
                                             : dlg::kIdOk;
  };
  rig.ui.onPump = [&](int n) {
    if (n == 50) rig.dialog->OnExit();
  };
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.CountBoxes("Are you sure?(Y/N)"), 1);
  // The verify pass ran to its end: its last progress text is shown.
  EXPECT_GT(rig.ui.pumps, 2 * (61440 - 153) / 32 - 10);
  EXPECT_TRUE(HasReport(rig.ui));
}

TEST(FormatRunLow, FailingPassShowsFormatFailThenRewritesAndReports) {
  LowRig rig(30 * kMiB);
  rig.machine.Drive('E').failingWrites.push_back({20000, 1});
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 1);
  EXPECT_TRUE(HasReport(rig.ui));
  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n '" + rig.image + "'", &out), 0) << out;
}

// The disk pulled out during a pass: one "Format fail!", and nothing more is
// written (no rewrite of the image, no report) to whatever is in the drive.
TEST(FormatRunLow, ADiskPulledDuringAPassEndsTheRunWithoutARewrite) {
  LowRig rig(30 * kMiB);
  std::uint64_t writtenWhenPulled = 0;
  rig.ui.onPump = [&](int n) {
    if (n != 50) return;
    rig.machine.RemoveDrive('E');
    rig.dialog->OnDriveChange(dlg::kDbtDeviceRemoveComplete);
    writtenWhenPulled = rig.machine.BytesWritten();
  };
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 1);
  EXPECT_FALSE(HasReport(rig.ui));
  EXPECT_EQ(rig.machine.BytesWritten(), writtenWhenPulled);
  EXPECT_EQ(rig.dialog->driveList, std::vector<std::string>({" "}));
}

// --- Bootable -----------------------------------------------------------------

struct BootRig : Rig {
  BootRig() {
    AddDrive('E', 200 * kMiB);
    ui.files[Key::Key("C:\\Tools\\sys\\io.sys")] = "IO";
    ui.files[Key::Key("C:\\Tools\\sys\\msdos.sys")] = "MSDOS";
    ui.files[Key::Key("C:\\Tools\\sys\\command.com")] = "COMMAND";
  }
  void List(std::vector<FindEntry> entries) { ui.folders[Key::Key("C:\\Tools\\sys")] = entries; }
  std::vector<std::string> Targets() const {
    std::vector<std::string> t;
    for (const auto& c : ui.copies) {
      if (c.second != "E:\\finish") t.push_back(c.second);
    }
    return t;
  }
};

TEST(FormatRunBootable, CopiesIoSysFirstThenTheListingAndReportsSystemFiles) {
  BootRig rig;
  // The first entry a search returns is a real file here (no "." entry).
  rig.List({{"msdos.sys", 0x27},
            {".", 0x10},
            {"..", 0x10},
            {"extra", 0x10},
            {"IO.SYS", 0x27},
            {"command.com", 0x20}});
  // A real IO.SYS is read-only, hidden and system: once on the disk, a second
  // copy over it is refused, so it must be copied once only.
  rig.ui.attributes[Key::Key("C:\\Tools\\sys\\io.sys")] = 0x27;
  FormatterDialog& d = rig.Open();
  ASSERT_TRUE(rig.ui.controls[IDC_BOOTABLE].enabled);
  rig.ui.controls[IDC_BOOTABLE].checked = true;
  d.OnStart();
  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 0);
  EXPECT_EQ(rig.Targets(),
            std::vector<std::string>({"E:\\io.sys", "E:\\msdos.sys", "E:\\command.com"}));
  EXPECT_EQ(rig.ui.attributes[Key::Key("E:\\io.sys")], 0x27u);
  // "Making..." while copying, cleared afterwards; 3 s after io.sys.
  for (std::size_t i = 1; i < rig.ui.statusDuringCopies.size(); ++i) {
    EXPECT_EQ(rig.ui.statusDuringCopies[i], "Making...");
  }
  EXPECT_EQ(rig.ui.controls[IDC_STATUS].text, "");
  EXPECT_EQ(rig.ui.sleeps, std::vector<std::uint32_t>({5000, 3000}));
  // 200 MiB: 8-sector clusters, index 0: Q = (8 + 2910) / 8 = 364.
  const std::vector<unsigned long> f = Figures(ReportOf(rig.ui));
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[1], 364u * 8u * 512u);
  EXPECT_EQ(f[3], f[0] - f[1]);  // available leaves the system files out
  EXPECT_EQ(rig.ui.OpenSearches(), 0);
}

// A disk asked to be bootable that lacks a start-up file is a failure: the
// box names the file, and no report counts files that are not there.
TEST(FormatRunBootable, AMissingIoSysOrAFailedCopyFailsNamingTheFileOrNoFolderFails) {
  {
    BootRig rig;
    rig.ui.files.erase(Key::Key("C:\\Tools\\sys\\io.sys"));
    rig.List({{".", 0x10}, {"..", 0x10}, {"msdos.sys", 0x20}, {"command.com", 0x20}});
    rig.Open();
    rig.ui.controls[IDC_BOOTABLE].checked = true;
    rig.dialog->OnStart();
    EXPECT_TRUE(rig.Targets().empty());
    EXPECT_EQ(rig.ui.CountBoxes(std::string(kFormatFail) + "\n\nio.sys"), 1);
    EXPECT_EQ(rig.ui.boxes.back().caption, "Sorry!");
    EXPECT_FALSE(HasReport(rig.ui));
    EXPECT_EQ(rig.ui.controls[IDC_STATUS].text, "");
  }
  {
    BootRig rig;
    rig.List({{".", 0x10}, {"..", 0x10}, {"msdos.sys", 0x20}, {"command.com", 0x20}});
    rig.ui.failingCopies.push_back("E:\\MSDOS.SYS");
    rig.Open();
    rig.ui.controls[IDC_BOOTABLE].checked = true;
    rig.dialog->OnStart();
    EXPECT_EQ(rig.Targets(), std::vector<std::string>({"E:\\io.sys"}));
    EXPECT_EQ(rig.ui.CountBoxes(std::string(kFormatFail) + "\n\nmsdos.sys"), 1);
    EXPECT_FALSE(HasReport(rig.ui));
    EXPECT_EQ(rig.ui.controls[IDC_STATUS].text, "");
  }
  {
    BootRig rig;  // no sys folder at all
    rig.Open();
    rig.ui.controls[IDC_BOOTABLE].checked = true;
    rig.dialog->OnStart();
    EXPECT_TRUE(rig.Targets().empty());
    EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 1);
    EXPECT_FALSE(HasReport(rig.ui));
    EXPECT_EQ(rig.machine.Peek('E', 510, 2), std::vector<std::uint8_t>({0x55, 0xAA}));
  }
  {
    BootRig rig;
    rig.ui.modulePath = "vornak.exe";  // no folder
    rig.List({{"io.sys", 0x20}});
    rig.Open();
    EXPECT_FALSE(rig.dialog->CopyBootFiles("E:"));
    EXPECT_TRUE(rig.ui.copies.empty());
  }
}

// --- Device changes during a run ---------------------------------------------

TEST(FormatRunNt, DrivePluggedInDuringRunIsListedOnceAtTheEnd) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  FakeDrive& g = rig.AddDrive('G', 62 * kMiB);
  g.present = false;
  rig.Open();
  int redrawsBefore = 0;
  rig.ui.onWait = [&](const std::string&) {
    rig.machine.PlugDrive('G');
    rig.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
    EXPECT_EQ(rig.dialog->pendingDeviceChangeFlag, 1);
    EXPECT_EQ(rig.dialog->driveList, std::vector<std::string>({"E:"}));
    redrawsBefore = rig.ui.redraws;
    return WaitResult::Exited;
  };
  rig.dialog->OnStart();
  EXPECT_EQ(rig.dialog->driveList, std::vector<std::string>({"E:", "G:"}));
  EXPECT_EQ(rig.ui.combo, std::vector<std::string>({"E:", "G:"}));
  EXPECT_EQ(rig.ui.redraws, redrawsBefore + 1);
  EXPECT_EQ(rig.dialog->pendingDeviceChangeFlag, 0);
  EXPECT_TRUE(rig.ui.controls[IDC_START].enabled);
}

TEST(FormatRunNt, DrivePulledOutDuringRunLeavesTheBlankEntryAndStartDisabled) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.Open();
  rig.ui.onWait = [&](const std::string&) {
    rig.machine.RemoveDrive('E');
    rig.dialog->OnDriveChange(dlg::kDbtDeviceRemoveComplete);
    return WaitResult::Exited;
  };
  rig.dialog->OnStart();
  // Replayed at the end: no drive is left, so the single blank entry is shown
  // and nothing of the pulled disk is kept.
  EXPECT_EQ(rig.dialog->driveList, std::vector<std::string>({" "}));
  EXPECT_EQ(rig.ui.combo, std::vector<std::string>({" "}));
  EXPECT_EQ(rig.dialog->knownDriveCount, 0);
  EXPECT_EQ(rig.dialog->layout.kind, LayoutKind::Unsupported);
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "0.00M");
  EXPECT_FALSE(rig.ui.controls[IDC_START].enabled);
  EXPECT_FALSE(rig.ui.controls[IDC_DRIVE].enabled);
  EXPECT_TRUE(rig.ui.controls[IDC_EXIT].enabled);
}

// The boot sector's total sectors (the 16-bit field, else the 32-bit one).
std::uint32_t BootTotalSectors(const std::vector<std::uint8_t>& boot) {
  const std::uint32_t small = boot[0x13] | (boot[0x14] << 8);
  if (small) return small;
  return boot[0x20] | (boot[0x21] << 8) | (boot[0x22] << 16) |
         (static_cast<std::uint32_t>(boot[0x23]) << 24);
}

// Another disk in the same drive after a run that saw device changes: what
// the dialog shows and what Start writes belong to the disk now plugged in.
TEST(FormatRunNt, ADifferentDiskInTheSameDriveAfterARunIsInspectedAndFormattedToItsSize) {
  for (bool plugDuringRun : {false, true}) {
    SCOPED_TRACE(plugDuringRun ? "plugged in during the run" : "plugged in after the run");
    Rig rig;
    std::string oldImage, newImage;
    rig.AddFileDrive('E', 62 * kMiB, &oldImage);
    rig.Open();
    // The disk was plugged in once after start-up: one drive is counted.
    rig.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
    ASSERT_EQ(rig.dialog->knownDriveCount, 1);
    rig.ui.onWait = [&](const std::string&) {
      rig.machine.RemoveDrive('E');
      rig.dialog->OnDriveChange(dlg::kDbtDeviceRemoveComplete);
      if (plugDuringRun) {
        rig.AddFileDrive('E', 32 * kMiB, &newImage);
        rig.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
      }
      return WaitResult::Exited;
    };
    rig.dialog->OnStart();
    rig.ui.onWait = nullptr;
    if (!plugDuringRun) {
      rig.AddFileDrive('E', 32 * kMiB, &newImage);
      rig.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
    }
    EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "32.00M");
    EXPECT_EQ(rig.ui.controls[IDC_SECTORS].text, "Total Sectors:65536");
    EXPECT_TRUE(rig.ui.controls[IDC_START].enabled);

    rig.ui.boxes.clear();
    rig.dialog->OnStart();
    ASSERT_TRUE(HasReport(rig.ui));
    EXPECT_EQ(BootTotalSectors(rig.Sector('E', 0)), 65536u);
    EXPECT_LE(Figures(ReportOf(rig.ui))[0], 32u * kMiB);
    std::string out;
    EXPECT_EQ(Shell("fsck.fat -n '" + newImage + "'", &out), 0) << out;
  }
}

TEST(FormatRunNt, BootableIsNotGivenBackWhenTheDiskNowInTheDriveCannotBoot) {
  Rig rig;
  rig.AddDrive('E', 200 * kMiB);
  rig.Open();
  ASSERT_TRUE(rig.ui.controls[IDC_BOOTABLE].enabled);
  rig.ui.onWait = [&](const std::string&) {
    rig.machine.RemoveDrive('E');
    rig.dialog->OnDriveChange(dlg::kDbtDeviceRemoveComplete);
    rig.AddDrive('E', 62 * kMiB);  // a whole-disk layout: not bootable
    rig.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
    return WaitResult::Exited;
  };
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "62.00M");
  EXPECT_FALSE(rig.ui.controls[IDC_BOOTABLE].enabled);
  EXPECT_FALSE(rig.ui.controls[IDC_BOOTABLE].checked);

  // The other way round: a disk that may boot after one that may not.
  Rig other;
  other.AddDrive('E', 62 * kMiB);
  other.Open();
  ASSERT_FALSE(other.ui.controls[IDC_BOOTABLE].enabled);
  other.ui.onWait = [&](const std::string&) {
    other.machine.RemoveDrive('E');
    other.dialog->OnDriveChange(dlg::kDbtDeviceRemoveComplete);
    other.AddDrive('E', 200 * kMiB);
    other.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
    return WaitResult::Exited;
  };
  other.dialog->OnStart();
  EXPECT_TRUE(other.ui.controls[IDC_BOOTABLE].enabled);
}

// A disk swapped for a smaller one while the system format command runs: the
// run must not lay the old disk's layout on the new one.
TEST(FormatRunNt, ADiskSwappedDuringTheRunIsNotWrittenAndTheRunFails) {
  for (bool low : {false, true}) {
    SCOPED_TRACE(low ? "Low" : "Quick");
    Rig rig;
    std::string oldImage, newImage;
    rig.AddFileDrive('E', 62 * kMiB, &oldImage);
    rig.Open();
    if (low) rig.dialog->SetModeLow();
    rig.machine.SetLogging(false);
    rig.ui.onWait = [&](const std::string&) {
      rig.machine.RemoveDrive('E');
      rig.dialog->OnDriveChange(dlg::kDbtDeviceRemoveComplete);
      rig.AddFileDrive('E', 32 * kMiB, &newImage);
      rig.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
      return WaitResult::Exited;
    };
    rig.dialog->OnStart();
    EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 1);
    EXPECT_FALSE(HasReport(rig.ui));
    EXPECT_EQ(rig.machine.BytesWritten(), 0u);
    EXPECT_EQ(rig.Sector('E', 0), std::vector<std::uint8_t>(512, 0));
    // The dialog shows the disk now in the drive, and the next run formats it
    // to its own size.
    EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "32.00M");
    rig.ui.onWait = nullptr;
    rig.ui.boxes.clear();
    rig.dialog->SetModeQuick();
    rig.dialog->OnStart();
    ASSERT_TRUE(HasReport(rig.ui));
    EXPECT_EQ(BootTotalSectors(rig.Sector('E', 0)), 65536u);
    std::string out;
    EXPECT_EQ(Shell("fsck.fat -n '" + newImage + "'", &out), 0) << out;
  }
}

// A device change while the run's first boxes are shown (the confirmation,
// the invalid label) must not move the run to another drive.
TEST(FormatRunNt, ADeviceChangeDuringTheFirstBoxesKeepsTheRunOnTheConfirmedDrive) {
  for (const char* label : {"", "a*b"}) {
    SCOPED_TRACE(*label ? "invalid label box" : "confirmation box");
    Rig rig;
    rig.AddDrive('E', 200 * kMiB);
    rig.AddDrive('F', 62 * kMiB);
    rig.Open();
    rig.ui.ComboSetSel(IDC_DRIVE, 1);
    rig.dialog->OnDriveSelChange();
    ASSERT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "62.00M");
    rig.ui.controls[IDC_LABEL].text = label;
    const std::string boxText = *label ? "Invalid volume label!" : rig.dialog->texts.MsgWarnFormat;
    int changes = 0;
    rig.ui.answer = [&](const FakeDialogPlatform::Box& b) {
      if (b.text == boxText && changes++ == 0) rig.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
      return (b.type & 0xF) == dlg::kMbYesNo ? dlg::kIdYes : dlg::kIdOk;
    };
    rig.dialog->OnStart();
    ASSERT_EQ(changes, 1);
    ASSERT_EQ(rig.ui.started.size(), 1u);
    EXPECT_NE(rig.ui.started[0].find(" F:/FS:FAT /A:2048/Q < "), std::string::npos)
        << rig.ui.started[0];
    EXPECT_EQ(BootTotalSectors(rig.Sector('F', 0)), 126976u);
    EXPECT_EQ(rig.Sector('E', 0), std::vector<std::uint8_t>(512, 0));
    for (const auto& c : rig.ui.copies) EXPECT_EQ(c.second.substr(0, 2), "F:");
    ASSERT_TRUE(HasReport(rig.ui));
    EXPECT_EQ(rig.ui.boxes.back().caption, "Format Results - Removable Disk(F:)");
    EXPECT_EQ(Figures(ReportOf(rig.ui))[4], 2048u);
  }
}

// --- Windows 98 -----------------------------------------------------------------

struct Win98Rig : Rig {
  Win98Rig() : Rig(Family::Windows98) {
    AddDrive('E', 30 * kMiB);
    Open();
    machine.SetLogging(false);
  }
  // Each re-plug prompt: pull the disk out and plug it in again.
  void ReplugOnPrompt(int times, int answerAfter = dlg::kIdOk) {
    ui.answer = [this, times, answerAfter](const FakeDialogPlatform::Box& b) mutable {
      if (b.text != dialog->texts.MsgPlug)
        return (b.type & 0xF) == dlg::kMbYesNo ? dlg::kIdYes : dlg::kIdOk;
      if (times-- > 0) {
        machine.RemoveDrive('E');
        dialog->OnDriveChange(dlg::kDbtDeviceRemoveComplete);
        machine.PlugDrive('E');
        dialog->OnDriveChange(dlg::kDbtDeviceArrival);
        return dlg::kIdOk;
      }
      return answerAfter;
    };
  }
};

TEST(FormatRunWin98, SerialIsTheTickCountAndReplugConfirmsIt) {
  Win98Rig rig;
  rig.ui.ticks = 0xCAFEF00Du;
  rig.ReplugOnPrompt(1);
  rig.dialog->OnStart();
  EXPECT_TRUE(rig.ui.started.empty());  // no system format command
  EXPECT_TRUE(rig.ui.copies.empty());
  EXPECT_EQ(rig.machine.Peek('E', 0x27, 4), std::vector<std::uint8_t>({0x0D, 0xF0, 0xFE, 0xCA}));
  EXPECT_EQ(rig.ui.CountBoxes(rig.dialog->texts.MsgPlug), 1);
  for (const auto& b : rig.ui.boxes) {
    if (b.text == rig.dialog->texts.MsgPlug) {
      EXPECT_EQ(b.caption, "Format");
      EXPECT_EQ(b.type, 0x41u);
    }
  }
  EXPECT_TRUE(HasReport(rig.ui));
  EXPECT_EQ(rig.dialog->replugWaitFlag, 0);
  EXPECT_EQ(rig.dialog->driveList, std::vector<std::string>({"E:"}));
}

// The disk comes back while the prompt is up: the drive list is read again,
// but the controls stay as a run keeps them, disabled, until the run ends.
TEST(FormatRunWin98, TheControlsStayDisabledWhileTheReplugPromptIsUp) {
  Win98Rig rig;
  rig.ReplugOnPrompt(1);
  auto inner = rig.ui.answer;
  std::vector<int> enabledDuringPrompt;
  rig.ui.answer = [&](const FakeDialogPlatform::Box& b) {
    const int answer = inner(b);  // pulls and plugs the disk for the prompt
    if (b.text == rig.dialog->texts.MsgPlug) {
      for (int id : {IDC_START, IDC_DRIVE, IDC_LABEL, IDC_QUICK, IDC_FULL, IDC_LOW})
        if (rig.ui.controls[id].enabled) enabledDuringPrompt.push_back(id);
    }
    return answer;
  };
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.CountBoxes(rig.dialog->texts.MsgPlug), 1);
  EXPECT_TRUE(enabledDuringPrompt.empty())
      << "control " << enabledDuringPrompt.front() << " enabled while the prompt was up";
  EXPECT_TRUE(HasReport(rig.ui));
  EXPECT_TRUE(rig.ui.controls[IDC_START].enabled) << "enabled again after the run";
}

TEST(FormatRunWin98, PromptRepeatsUntilExactlyOneDiskIsBackAndCancelEndsWithoutReport) {
  Win98Rig rig;
  // OK pressed without re-plugging: the count stays 0, so the box comes again;
  // then Cancel.
  rig.ReplugOnPrompt(0, dlg::kIdOk);
  int prompts = 0;
  auto inner = rig.ui.answer;
  rig.ui.answer = [&](const FakeDialogPlatform::Box& b) {
    if (b.text == rig.dialog->texts.MsgPlug && ++prompts == 3) return dlg::kIdCancel;
    return inner(b);
  };
  rig.dialog->OnStart();
  EXPECT_EQ(prompts, 3);
  EXPECT_FALSE(HasReport(rig.ui));
  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 0);
  // The cancelled wait rebuilt the list from what is plugged in.
  EXPECT_EQ(rig.dialog->driveList, std::vector<std::string>({"E:"}));
  EXPECT_EQ(rig.dialog->replugWaitFlag, 0);
  EXPECT_TRUE(rig.ui.controls[IDC_START].enabled);
}

TEST(FormatRunWin98, ADifferentDiskPluggedInIsNotAcceptedAsTheFormattedOne) {
  Win98Rig rig;
  int prompts = 0;
  rig.ui.answer = [&](const FakeDialogPlatform::Box& b) {
    if (b.text != rig.dialog->texts.MsgPlug)
      return (b.type & 0xF) == dlg::kMbYesNo ? dlg::kIdYes : dlg::kIdOk;
    ++prompts;
    rig.machine.RemoveDrive('E');
    rig.dialog->OnDriveChange(dlg::kDbtDeviceRemoveComplete);
    if (prompts == 1) {
      // Another disk: its serial number differs.
      rig.machine.Poke('E', 0x27, {1, 2, 3, 4});
    } else {
      rig.machine.Poke('E', 0x27, {0x78, 0x56, 0x34, 0x12});
    }
    rig.machine.PlugDrive('E');
    rig.dialog->OnDriveChange(dlg::kDbtDeviceArrival);
    return dlg::kIdOk;
  };
  rig.dialog->OnStart();
  EXPECT_EQ(prompts, 2);
  EXPECT_TRUE(HasReport(rig.ui));
}

TEST(FormatRunWin98, ADiskBackUnderAnotherLetterGetsTheCopiesTheReportAndTheShellNotice) {
  Rig rig(Family::Windows98);
  rig.AddDrive('E', 200 * kMiB);
  rig.ui.files[Key::Key("C:\\Tools\\sys\\io.sys")] = "IO";
  rig.ui.files[Key::Key("C:\\Tools\\sys\\command.com")] = "COMMAND";
  rig.ui.folders[Key::Key("C:\\Tools\\sys")] = {{"io.sys", 0x27}, {"command.com", 0x20}};
  FormatterDialog& d = rig.Open();
  ASSERT_TRUE(rig.ui.controls[IDC_BOOTABLE].enabled);
  rig.ui.controls[IDC_BOOTABLE].checked = true;
  rig.machine.SetLogging(false);
  rig.ui.answer = [&](const FakeDialogPlatform::Box& b) {
    if (b.text != d.texts.MsgPlug)
      return (b.type & 0xF) == dlg::kMbYesNo ? dlg::kIdYes : dlg::kIdOk;
    // The formatted disk is pulled out and comes back as F:.
    rig.machine.RemoveDrive('E');
    d.OnDriveChange(dlg::kDbtDeviceRemoveComplete);
    FakeDrive back = rig.machine.Drive('E');
    back.letter = 'F';
    back.present = true;
    rig.machine.AddDrive(back);
    d.OnDriveChange(dlg::kDbtDeviceArrival);
    return dlg::kIdOk;
  };
  d.OnStart();

  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 0);
  std::vector<std::string> targets;
  for (const auto& c : rig.ui.copies) targets.push_back(c.second);
  EXPECT_EQ(targets, std::vector<std::string>({"F:\\io.sys", "F:\\command.com"}));
  std::string caption;
  for (const auto& b : rig.ui.boxes) {
    if (b.caption.rfind("Format Results", 0) == 0) caption = b.caption;
  }
  EXPECT_EQ(caption, "Format Results - Removable Disk(F:)");
  EXPECT_EQ(rig.ui.notified, std::vector<std::string>({"F:\\"}));
}

// Another disk plugged in at the re-plug prompt, then Cancel: Bootable
// follows the disk now in the drive.
TEST(FormatRunWin98, ACancelledReplugWithASmallerDiskLeavesBootableUnchecked) {
  Rig rig(Family::Windows98);
  rig.AddDrive('E', 200 * kMiB);
  rig.ui.files[Key::Key("C:\\Tools\\sys\\io.sys")] = "IO";
  rig.ui.folders[Key::Key("C:\\Tools\\sys")] = {{"io.sys", 0x27}};
  FormatterDialog& d = rig.Open();
  rig.ui.controls[IDC_BOOTABLE].checked = true;
  rig.machine.SetLogging(false);
  int prompts = 0;
  rig.ui.answer = [&](const FakeDialogPlatform::Box& b) {
    if (b.text != d.texts.MsgPlug)
      return (b.type & 0xF) == dlg::kMbYesNo ? dlg::kIdYes : dlg::kIdOk;
    if (++prompts > 1) return dlg::kIdCancel;
    rig.machine.RemoveDrive('E');
    d.OnDriveChange(dlg::kDbtDeviceRemoveComplete);
    rig.AddDrive('E', 62 * kMiB);
    d.OnDriveChange(dlg::kDbtDeviceArrival);
    return dlg::kIdOk;
  };
  d.OnStart();
  EXPECT_EQ(prompts, 2);
  EXPECT_EQ(rig.ui.controls[IDC_DRIVE_SIZE].text, "62.00M");
  EXPECT_FALSE(rig.ui.controls[IDC_BOOTABLE].enabled);
  EXPECT_FALSE(rig.ui.controls[IDC_BOOTABLE].checked);
}

// Pulling another drive at the re-plug prompt does not end the wait: the
// formatted disk itself has to come back.
TEST(FormatRunWin98, PullingAnotherDriveDoesNotEndTheReplugWait) {
  Rig rig(Family::Windows98);
  rig.AddDrive('E', 30 * kMiB);
  rig.AddDrive('F', 30 * kMiB);
  FormatterDialog& d = rig.Open();
  rig.machine.SetLogging(false);
  int prompts = 0;
  bool eReplugged = false;
  rig.ui.answer = [&](const FakeDialogPlatform::Box& b) {
    if (b.text != d.texts.MsgPlug)
      return (b.type & 0xF) == dlg::kMbYesNo ? dlg::kIdYes : dlg::kIdOk;
    if (++prompts == 1) {
      rig.machine.RemoveDrive('F');
      d.OnDriveChange(dlg::kDbtDeviceRemoveComplete);
    } else if (prompts == 2) {
      rig.machine.RemoveDrive('E');
      d.OnDriveChange(dlg::kDbtDeviceRemoveComplete);
      rig.machine.PlugDrive('E');
      d.OnDriveChange(dlg::kDbtDeviceArrival);
      eReplugged = true;
    } else {
      return dlg::kIdCancel;
    }
    return dlg::kIdOk;
  };
  d.OnStart();
  EXPECT_EQ(prompts, 2);
  EXPECT_TRUE(eReplugged);
  ASSERT_TRUE(HasReport(rig.ui));
  EXPECT_EQ(rig.ui.boxes.back().caption, "Format Results - Removable Disk(E:)");
}

TEST(FormatRunWin98, RefusedLockShowsLockErrorThenFormatFail) {
  Win98Rig rig;
  rig.machine.Drive('E').lockRefused = true;
  rig.dialog->OnStart();
  EXPECT_EQ(rig.ui.CountBoxes("Lock volume error!"), 1);
  EXPECT_EQ(rig.ui.CountBoxes(kFormatFail), 1);
  EXPECT_FALSE(HasReport(rig.ui));
  EXPECT_EQ(rig.machine.BytesWritten(), 0u);
}

}  // namespace
}  // namespace vornak::test
