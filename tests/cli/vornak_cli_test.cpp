// vornak-cli as a user runs it: bad usage, refusals, a format of an image
// file checked by fsck.fat and mtools, the Low passes' progress lines, and
// Ctrl-C in the middle of them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "cli_test_support.h"

namespace {

using cli_test::RunOptions;
using cli_test::RunProgram;
using cli_test::RunResult;
using cli_test::ScratchDir;

const std::string kCli = VORNAK_CLI;

RunResult Vornak(std::vector<std::string> args, const RunOptions& options = {}) {
  args.insert(args.begin(), kCli);
  return RunProgram(args, options);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

RunOptions Mtools() { return cli_test::WithEnvironment({"MTOOLS_SKIP_CHECK=1"}); }

RunResult Fsck(const std::string& image) { return RunProgram({"fsck.fat", "-n", image}); }

void RequireTools() {
  if (!cli_test::HaveProgram("fsck.fat") || !cli_test::HaveProgram("mdir"))
    GTEST_SKIP() << "dosfstools and mtools are needed";
}

TEST(VornakCli, BadUsageExitsWithTwoAndSaysWhy) {
  ScratchDir dir;
  const std::string image = dir / "x.img";
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{}, "Usage: vornak-cli COMMAND"},
      {{"erase"}, "unknown command 'erase'"},
      {{"format"}, "needs a TARGET"},
      {{"format", image, "other.img"}, "one too many"},
      {{"format", image, "--mode", "slow"}, "--mode must be quick, full or low"},
      {{"format", image, "--mode"}, "--mode needs a value"},
      {{"format", image, "--lang", "411"}, "--lang must be 409, 804 or 404"},
      {{"format", image, "--label", "TWELVE_CHARS"}, "at most 11 characters"},
      {{"format", image, "--label", "A.B"}, "Invalid volume label!"},
      // Bytes above 0x7F would be another code page's characters on the disk.
      {{"format", image, "--label", "\xC3\x84\xC3\x96\xC3\x9C"}, "ASCII characters only"},
      {{"format", image, "--label", "\xE6\x97\xA5\xE6\x9C\xAC"}, "ASCII characters only"},
      {{"format", "--", image, "--yes"}, "'--yes' is one too many"},
      {{"format", image, "--bootable"}, "--bootable needs --sys DIR"},
      {{"format", image, "--sys", "."}, "--sys is only used with --bootable"},
      {{"format", image, "--size", "64MB"}, "--size needs a positive byte count"},
      {{"format", image, "--size", "0"}, "--size needs a positive byte count"},
      {{"format", image, "--force"}, "unknown option '--force'"},
      {{"list", "/dev/sdb"}, "unexpected '/dev/sdb'"},
      {{"probe"}, "probe needs a TARGET"},
      {{"probe", image, "other.img"}, "one too many"},
      {{"probe", image, "--seed", "12x"}, "--seed needs a whole number"},
      {{"probe", image, "--seed", "-1"}, "--seed needs a whole number"},
      {{"probe", "--restore", "f", image}, "--restore FILE takes no TARGET"},
      {{"probe", "--restore"}, "--restore needs a value"},
      {{"probe", image, "--size", "1M"}, "unknown option '--size'"},
  };
  for (const Case& c : cases) {
    const RunResult r = Vornak(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.says;
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
  }
  EXPECT_FALSE(cli_test::Exists(image));  // nothing was created on the way
}

TEST(VornakCli, HelpOfEveryCommandGoesToStandardOutput) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                               {"list", "--help"},
                                               {"format", "--help"},
                                               {"format", "/dev/sdb", "--help"},
                                               {"probe", "--help"}}) {
    const RunResult r = Vornak(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Contains(r.out, "Usage: vornak-cli")) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_TRUE(Contains(Vornak({"format", "--help"}).out, "--mode M"));
}

TEST(VornakCli, TargetsThatCannotBeFormattedFailWithoutWriting) {
  ScratchDir dir;
  RunResult r = Vornak({"format", dir / "missing.img", "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "give --size to create an image file")) << r.err;

  r = Vornak({"format", "/dev/null", "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "neither a block device nor a regular file")) << r.err;

  const std::string image = dir / "big.img";
  cli_test::WriteFile(image, std::string(8192, 'x'));
  r = Vornak({"format", image, "--size", "4096", "--yes"});
  EXPECT_EQ(r.exitCode, 1) << "a target that cannot be used fails, whatever the reason";
  EXPECT_EQ(cli_test::ReadFile(image), std::string(8192, 'x'));

  // Too small for any layout: the run's own message, nothing written.
  r = Vornak({"format", image, "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "Unsupported type!")) << r.err;
  EXPECT_EQ(cli_test::ReadFile(image), std::string(8192, 'x'));
}

// A real block device node that the kernel does not flag removable: the
// unattached loop device 7:7 (opening it would fail, so a broken refusal
// could not write anything either).
TEST(VornakCli, UnflaggedBlockDeviceIsRefusedWithoutYes) {
  if (cli_test::ReadFile("/sys/dev/block/7:7/removable") != "0\n" ||
      cli_test::ReadFile("/sys/dev/block/7:7/size") != "0\n")
    GTEST_SKIP() << "no free loop device 7:7";
  ScratchDir dir;
  const std::string node = dir / "loop7";
  if (mknod(node.c_str(), S_IFBLK | 0600, makedev(7, 7)) != 0) GTEST_SKIP() << "no mknod";
  const RunResult r = Vornak({"format", node}, cli_test::WithInput("y\n"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "does not flag /dev/loop7 removable")) << r.err;
  EXPECT_FALSE(Contains(r.out, "ARE YOU SURE")) << "refused before the question";
}

TEST(VornakCli, QuickFormatOfANewImageIsCleanAndKeepsItsLabelNextTime) {
  RequireTools();
  ScratchDir dir;
  const std::string image = dir / "player.img";
  RunResult r = Vornak({"format", image, "--size", "64M", "--label", "memo1", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cli_test::FileSize(image), 64u << 20);
  EXPECT_TRUE(Contains(r.out, "Format Results - Removable Disk(" + image + ")")) << r.out;

  const RunResult fsck = Fsck(image);
  EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(fsck.out, m, std::regex("0/([0-9]+) clusters"))) << fsck.out;
  const unsigned long clusters = std::stoul(m[1]);
  // The report's figures are the file system's own.
  EXPECT_TRUE(Contains(r.out, "total allocation units: " + std::to_string(clusters))) << r.out;
  EXPECT_TRUE(Contains(r.out, "total disk space: " + std::to_string(clusters * 2048) + " bytes"));

  const RunResult label = RunProgram({"mlabel", "-i", image, "-s", "::"}, Mtools());
  EXPECT_TRUE(Contains(label.out, "MEMO1")) << label.out << label.err;

  // Without --label the disk's own label is kept, as the dialog shows it.
  r = Vornak({"format", image, "--mode", "full", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "label MEMO1")) << r.out;
  EXPECT_TRUE(Contains(RunProgram({"mlabel", "-i", image, "-s", "::"}, Mtools()).out, "MEMO1"));
  EXPECT_EQ(Fsck(image).exitCode, 0);
}

TEST(VornakCli, AnswerNoLeavesTheImageAsItWas) {
  ScratchDir dir;
  const std::string image = dir / "keep.img";
  cli_test::WriteFile(image, std::string(64u << 20, '\x5A'));
  for (const char* answer : {"n\n", ""}) {  // No, and no answer at all
    const RunResult r = Vornak({"format", image}, cli_test::WithInput(answer));
    EXPECT_EQ(r.exitCode, 1);
    // The question is asked where the user sees it when the output is redirected.
    EXPECT_TRUE(Contains(r.err, "ALL DATA ON THIS DISK WILL BE LOST! ARE YOU SURE?(Y/N)"));
    EXPECT_FALSE(Contains(r.out, "ARE YOU SURE")) << r.out;
    EXPECT_TRUE(Contains(r.err, "not formatted"));
  }
  EXPECT_TRUE(cli_test::ReadFile(image) == std::string(64u << 20, '\x5A'));
  EXPECT_EQ(Vornak({"format", image}, cli_test::WithInput("y\n")).exitCode, 0);
}

TEST(VornakCli, ChineseReportIsPrintedInUtf8) {
  ScratchDir dir;
  const std::string image = dir / "zh.img";
  RunResult r = Vornak({"format", image, "--size", "64M", "--lang", "804", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "\xE5\x8F\xAF\xE7\x94\xA8\xE7\xA3\x81\xE7\x9B\x98"))
      << r.out;  // 可用磁盘
  r = Vornak({"format", image, "--lang", "404", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "\xE7\xA3\x81\xE7\xA2\x9F")) << r.out;  // 磁碟
}

// Progress lines of the Low passes, in order: area by area, percentages
// rising, each data area ending with its End line.
TEST(VornakCli, LowFormatPrintsPlainProgressLinesAndVerifies) {
  RequireTools();
  ScratchDir dir;
  const std::string image = dir / "low.img";
  const RunResult r = Vornak({"format", image, "--size", "64M", "--mode", "low", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << "no bar when the output is not a terminal";

  std::vector<std::string> areas;
  int lastPercent = -1;
  std::istringstream lines(r.out);
  std::string line;
  const std::regex progress("(.+): ([0-9]+)\\(([0-9]+)%\\)");
  while (std::getline(lines, line)) {
    std::smatch m;
    if (std::regex_match(line, m, progress)) {
      const int percent = std::stoi(m[3]);
      if (areas.empty() || areas.back() != m[1]) {
        areas.push_back(m[1]);
      } else {
        EXPECT_GT(percent, lastPercent) << line;
      }
      lastPercent = percent;
    } else if (line.size() > 5 && line.compare(line.size() - 5, 5, ": End") == 0) {
      areas.push_back(line);
    }
  }
  const std::vector<std::string> expected = {"Write system area",    "Write data area",
                                             "Write data area: End", "Read system area",
                                             "Read data area",       "Read data area: End"};
  EXPECT_EQ(areas, expected);
  // The passes move 1 MiB a request: the last one of 64 MiB starts at 98%.
  EXPECT_EQ(lastPercent, 98);
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\nRead data area: End\nRead data area: 67\\.0 "
                                                  "MB in [0-9.]+ s, [0-9.]+ MB/s\n")))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "bad sectors: 0 bytes"));
  EXPECT_TRUE(Contains(r.out, "\nsectors that read back another address: 0\n")) << r.out;
  EXPECT_EQ(Fsck(image).exitCode, 0);
}

// Ctrl-C while the passes run. The output pipe is kept small and is not read
// after the first data-area line, so the program is still inside the passes
// when the signal comes.
TEST(VornakCli, CtrlCStopsTheLowPassesAndTheSystemAreaIsWrittenAgain) {
  RequireTools();
  ScratchDir dir;
  const std::string image = dir / "stop.img";
  bool sent = false;
  RunOptions options;
  options.outPipeSize = 4096;
  options.onOutput = [&](pid_t pid, const std::string& out) {
    if (!sent && Contains(out, "Write data area: ")) {
      kill(pid, SIGINT);
      sent = true;
    }
  };
  const RunResult r = Vornak({"format", image, "--size", "64M", "--mode", "low", "--yes"}, options);
  ASSERT_TRUE(sent);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "stopped")) << r.err;
  EXPECT_FALSE(Contains(r.err, "Format fail!")) << r.err;
  EXPECT_FALSE(Contains(r.out, "Read data area: End")) << "the passes did not run to their end";
  EXPECT_TRUE(Contains(r.out, "Format Results - Removable Disk(")) << r.out;
  const RunResult fsck = Fsck(image);
  EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
}

TEST(VornakCli, BootableDiskGetsIoSysFirstAndTheOtherFiles) {
  RequireTools();
  ScratchDir dir;
  const std::string sys = dir / "sys";
  mkdir(sys.c_str(), 0755);
  cli_test::WriteFile(sys + "/io.sys", std::string(40000, 'I'));
  cli_test::WriteFile(sys + "/command.com", std::string(3000, 'C'));
  cli_test::WriteFile(sys + "/autoexec.bat", "@echo off\r\n");
  const std::string image = dir / "boot.img";
  const RunResult r = Vornak(
      {"format", image, "--size", "64M", "--label", "BOOT", "--bootable", "--sys", sys, "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(Contains(r.out, "system files use: 0\n")) << r.out;
  EXPECT_EQ(Fsck(image).exitCode, 0);

  const RunResult listing = RunProgram({"mdir", "-b", "-i", image, "::"}, Mtools());
  ASSERT_EQ(listing.exitCode, 0) << listing.err;
  EXPECT_EQ(listing.out.find("::/IO.SYS"), 0u) << listing.out;
  EXPECT_TRUE(Contains(listing.out, "::/COMMAND.COM")) << listing.out;
  EXPECT_TRUE(Contains(listing.out, "::/AUTOEXEC.BAT")) << listing.out;
  ScratchDir out;
  ASSERT_EQ(RunProgram({"mcopy", "-i", image, "::/IO.SYS", out / "io.sys"}, Mtools()).exitCode, 0);
  EXPECT_EQ(cli_test::ReadFile(out / "io.sys"), std::string(40000, 'I'));

  // A 30 MiB disk's layout has no room for them: refused before writing.
  const std::string small = dir / "small.img";
  const RunResult refused =
      Vornak({"format", small, "--size", "30M", "--bootable", "--sys", sys, "--yes"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(Contains(refused.err, "cannot be made bootable")) << refused.err;
  EXPECT_FALSE(cli_test::Exists(small)) << "the image made for the run stayed behind";

  // An mcopy planted in the current folder is not run through an empty or
  // relative PATH entry; the real one copies the files.
  const std::string planted = dir / "mcopy";
  cli_test::WriteFile(planted, "#!/bin/sh\ntouch '" + (dir / "planted-ran") + "'\nexit 0\n");
  ASSERT_EQ(chmod(planted.c_str(), 0755), 0);
  const std::string again = dir / "again.img";
  const std::string script = "cd '" + dir.path() + "' && PATH=:.:/usr/bin:/bin exec '" + kCli +
                             "' format '" + again + "' --size 64M --bootable --sys '" + sys +
                             "' --yes";
  const RunResult plantedRun = RunProgram({"bash", "-c", script});
  EXPECT_EQ(plantedRun.exitCode, 0) << plantedRun.err;
  EXPECT_FALSE(cli_test::Exists(dir / "planted-ran")) << "the planted mcopy ran";
  EXPECT_EQ(RunProgram({"mdir", "-b", "-i", again, "::"}, Mtools()).out.find("::/IO.SYS"), 0u);
}

// Runs a Low format of a new 64 MiB image and sends `sig` once the data area
// has begun.
RunResult LowRunSignalled(const std::string& image, int sig, bool& sent) {
  sent = false;
  RunOptions options;
  options.outPipeSize = 4096;
  options.onOutput = [&](pid_t pid, const std::string& out) {
    if (!sent && Contains(out, "Write data area: ")) {
      kill(pid, sig);
      sent = true;
    }
  };
  return Vornak({"format", image, "--size", "64M", "--mode", "low", "--yes"}, options);
}

TEST(VornakCliSignals, HangupAndTerminateStopThePassesLikeCtrlC) {
  RequireTools();
  for (int sig : {SIGTERM, SIGHUP}) {
    ScratchDir dir;
    const std::string image = dir / "sig.img";
    bool sent = false;
    const RunResult r = LowRunSignalled(image, sig, sent);
    ASSERT_TRUE(sent);
    EXPECT_EQ(r.signal, 0) << strsignal(sig) << " killed the program";
    EXPECT_EQ(r.exitCode, 1) << strsignal(sig);
    EXPECT_TRUE(Contains(r.err, "stopped")) << r.err;
    EXPECT_EQ(Fsck(image).exitCode, 0) << strsignal(sig) << " left no file system";
  }
}

TEST(VornakCliSignals, AClosedOutputPipeIsAWriteErrorNotAKilledRun) {
  RequireTools();
  ScratchDir dir;
  const std::string image = dir / "pipe.img";
  const std::string command = "set -o pipefail; '" + kCli + "' format '" + image +
                              "' --size 64M --mode low --yes | head -4";
  const RunResult r = RunProgram({"bash", "-c", command});
  EXPECT_NE(r.exitCode, 0) << "the lost output is reported";
  EXPECT_TRUE(Contains(r.err, "standard output")) << r.err;
  const RunResult fsck = Fsck(image);
  EXPECT_EQ(fsck.exitCode, 0) << fsck.out;
  EXPECT_TRUE(Contains(r.out, "Write system area")) << "head saw the start of the run";
}

TEST(VornakCliSignals, CtrlCAtTheQuestionEndsTheProgram) {
  ScratchDir dir;
  const std::string image = dir / "ask.img";
  cli_test::WriteFile(image, std::string(64u << 20, '\x5A'));
  bool sent = false;
  RunOptions options;
  options.keepInputOpen = true;
  options.onError = [&](pid_t pid, const std::string& err) {
    if (!sent && Contains(err, "ARE YOU SURE?(Y/N)")) {
      kill(pid, SIGINT);
      sent = true;
      // Should the program keep waiting, end it so that the test can fail.
      if (fork() == 0) {
        sleep(10);
        kill(pid, SIGKILL);
        _exit(0);
      }
    }
  };
  const RunResult r = Vornak({"format", image}, options);
  ASSERT_TRUE(sent) << r.err;
  EXPECT_NE(r.signal, SIGKILL) << "still waiting for an answer after Ctrl-C";
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "not formatted")) << r.err;
  EXPECT_TRUE(cli_test::ReadFile(image) == std::string(64u << 20, '\x5A'));
}

TEST(VornakCli, SysFolderFindsIoSysWhateverItsCaseButNotAFolderOfThatName) {
  RequireTools();
  ScratchDir dir;
  const std::string sys = dir / "SYS";
  mkdir(sys.c_str(), 0755);
  cli_test::WriteFile(sys + "/IO.SYS", std::string(20000, 'I'));
  cli_test::WriteFile(sys + "/Command.Com", std::string(3000, 'C'));
  const std::string image = dir / "caps.img";
  RunResult r = Vornak({"format", image, "--size", "64M", "--bootable", "--sys", sys, "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const RunResult listing = RunProgram({"mdir", "-b", "-i", image, "::"}, Mtools());
  EXPECT_EQ(listing.out.find("::/IO.SYS"), 0u) << listing.out;
  EXPECT_TRUE(Contains(listing.out, "::/COMMAND.COM")) << listing.out;

  const std::string folderSys = dir / "folder";
  mkdir(folderSys.c_str(), 0755);
  mkdir((folderSys + "/io.sys").c_str(), 0755);
  const std::string other = dir / "other.img";
  r = Vornak({"format", other, "--size", "64M", "--bootable", "--sys", folderSys, "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "io.sys")) << r.err;
  EXPECT_FALSE(cli_test::Exists(other)) << "refused before anything was made";
}

TEST(VornakCli, ANewImageIsRemovedWhenTheRunIsDeclinedOrUnsupported) {
  ScratchDir dir;
  const std::string image = dir / "new.img";
  RunResult r = Vornak({"format", image, "--size", "64M"}, cli_test::WithInput("n\n"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(cli_test::Exists(image)) << "declined, yet the new file stayed";

  r = Vornak({"format", image, "--size", "2G", "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "Unsupported type!")) << r.err;
  EXPECT_TRUE(Contains(r.out, "2147483648 bytes")) << r.out;
  EXPECT_FALSE(cli_test::Exists(image));

  // A target of 4 GiB or more is shown with its real size.
  r = Vornak({"format", image, "--size", "5G", "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.out, "5368709120 bytes")) << r.out;
  EXPECT_FALSE(Contains(r.out, "4294967295")) << r.out;
  EXPECT_FALSE(cli_test::Exists(image));

  // An existing file that was declined keeps its content and size.
  cli_test::WriteFile(image, "keep");
  r = Vornak({"format", image, "--size", "64M"}, cli_test::WithInput("n\n"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(cli_test::ReadFile(image), "keep");
}

TEST(VornakCli, ProblemsWithNamedPathsFailAlikeAndHelpSaysWhatFullDoes) {
  ScratchDir dir;
  const RunResult noTarget = Vornak({"format", dir / "none.img", "--yes"});
  const RunResult noSys = Vornak(
      {"format", dir / "x.img", "--size", "64M", "--bootable", "--sys", dir / "none", "--yes"});
  EXPECT_EQ(noTarget.exitCode, 1);
  EXPECT_EQ(noSys.exitCode, 1) << noSys.err;
  const std::string help = Vornak({"format", "--help"}).out;
  EXPECT_TRUE(Contains(help, "Linux full does what quick does")) << help;
}

// Failures name the target and the system's reason, as mkfs.fat does.
TEST(VornakCli, FailuresSayWhy) {
  ScratchDir dir;
  const std::string mnt = dir / "mnt";
  mkdir(mnt.c_str(), 0755);
  if (RunProgram({"mount", "-t", "tmpfs", "-o", "size=1m", "none", mnt}).exitCode != 0)
    GTEST_SKIP() << "cannot mount a tmpfs";
  struct Unmount {
    std::string at;
    ~Unmount() { RunProgram({"umount", at}); }
  } unmount{mnt};
  const std::string image = mnt + "/full.img";
  // A sparse image larger than the file system under it: the writes run out of room.
  RunResult r = Vornak({"format", image, "--size", "64M", "--mode", "low", "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "Format fail!")) << r.err;
  EXPECT_TRUE(Contains(r.err, image + ": No space left on device")) << r.err;

  // A read-only image: refused before the question.
  RunProgram({"mount", "-o", "remount,ro", mnt});
  r = Vornak({"format", image}, cli_test::WithInput("y\n"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, image + ": Read-only file system")) << r.err;
  EXPECT_FALSE(Contains(r.err, "ARE YOU SURE")) << r.err;
}

// An image attached to a loop device is the same file under any name.
// The label limit, end to end: 11 characters are written whole, 12 refused
// before anything is written.
TEST(VornakCli, ElevenCharacterLabelIsWrittenAndTwelveAreRefused) {
  RequireTools();
  ScratchDir dir;
  const std::string image = dir / "label.img";
  RunResult r = Vornak({"format", image, "--size", "64M", "--label", "PLAYERMEMO1", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(
      Contains(RunProgram({"mlabel", "-i", image, "-s", "::"}, Mtools()).out, "PLAYERMEMO1"));
  EXPECT_EQ(Fsck(image).exitCode, 0);

  const std::string before = cli_test::ReadFile(image);
  r = Vornak({"format", image, "--label", "PLAYERMEMO12", "--yes"});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "at most 11 characters")) << r.err;
  EXPECT_TRUE(cli_test::ReadFile(image) == before) << "the image was written";
}

// A disk that takes the writes but fails the flush to the disk: the run
// must fail, saying so, although every write succeeded.
TEST(VornakCli, ADiskThatLosesItsWritesAtTheFlushFailsTheRun) {
#ifndef FAKEDISK
  GTEST_SKIP() << "built without libfuse3 (no fakedisk)";
#else
  ScratchDir dir;
  cli_test::FakeDisk disk(FAKEDISK, dir.path(), {"--size", "64M", "--fail-sync"});
  if (!disk.mounted()) GTEST_SKIP() << disk.problem();
  const RunResult r = Vornak({"format", disk.path(), "--yes"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "did not take all writes: " + disk.path() + ": Input/output error"))
      << r.err;
#endif
}

// A disk that stops taking writes in the middle of the Low passes (pulled
// out): the pass fails and so does the rewrite after it, yet the user reads
// "Format fail!" once, and the file with its cause once.
TEST(VornakCli, ADiskGoneInTheMiddleOfTheLowPassesFailsOnceWithTheCause) {
#ifndef FAKEDISK
  GTEST_SKIP() << "built without libfuse3 (no fakedisk)";
#else
  ScratchDir dir;
  cli_test::FakeDisk disk(FAKEDISK, dir.path(), {"--size", "64M", "--fail-writes-after", "32M"});
  if (!disk.mounted()) GTEST_SKIP() << disk.problem();
  const RunResult r = Vornak({"format", disk.path(), "--mode", "low", "--yes"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const auto count = [&](const std::string& part) {
    int n = 0;
    for (std::size_t at = r.err.find(part); at != std::string::npos; at = r.err.find(part, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("Format fail!"), 1) << r.err;
  EXPECT_EQ(count(disk.path() + ": Input/output error"), 1) << r.err;
#endif
}

// A disk of 64 MiB that holds 16: the Low passes' stamps show every cluster
// past the real capacity bad where the writes are lost, and a system area
// overwritten by wrapped writes where they wrap; 0xFF alone passed both.
TEST(VornakCli, LowCatchesADiskThatHoldsLessThanItClaims) {
#ifndef FAKEDISK
  GTEST_SKIP() << "built without libfuse3 (no fakedisk)";
#else
  RequireTools();
  ScratchDir dir;
  {
    cli_test::FakeDisk disk(FAKEDISK, dir.path(), {"--size", "64M", "--capacity", "16M", "--drop"});
    if (!disk.mounted()) GTEST_SKIP() << disk.problem();
    const RunResult r = Vornak({"format", disk.path(), "--mode", "low", "--yes"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(Contains(r.out, "bad sectors: 0 bytes")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nsectors that read back another address: 0\n")) << r.out;
    EXPECT_EQ(Fsck(disk.path()).exitCode, 0);
    // Clusters of 4 sectors from sector 289 on: cluster 8119 is the first to
    // reach sector 32768, the first the disk does not hold.
    const RunResult listing = RunProgram({"mdir", "-i", disk.path(), "::"}, Mtools());
    EXPECT_TRUE(Contains(listing.out, " 16 627 712 bytes free")) << listing.out;  // 8119 x 2048
  }
  cli_test::FakeDisk disk(FAKEDISK, dir.path(), {"--size", "64M", "--capacity", "16M", "--wrap"});
  const RunResult r = Vornak({"format", disk.path(), "--mode", "low", "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "System area error!")) << r.err;
  EXPECT_TRUE(Contains(r.err, "sectors that read back another address: 289 (")) << r.err;
#endif
}

TEST(VornakCli, AnAttachedImageIsRefusedUnderAnotherName) {
  ScratchDir dir;
  const std::string image = dir / "attached.img";
  cli_test::WriteFile(image, "");
  ASSERT_EQ(truncate(image.c_str(), 64 << 20), 0);
  const RunResult attach = RunProgram({"losetup", "-f", "--show", image});
  if (attach.exitCode != 0) GTEST_SKIP() << "no loop device: " << attach.err;
  const std::string device = attach.out.substr(0, attach.out.find('\n'));
  struct Detach {
    std::string device;
    ~Detach() { RunProgram({"losetup", "-d", device}); }
  } detach{device};
  const std::string link = dir / "other-name.img";
  ASSERT_EQ(::link(image.c_str(), link.c_str()), 0);
  const RunResult r = Vornak({"format", link, "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "is attached to " + device)) << r.err;
  EXPECT_TRUE(cli_test::ReadFile(link) == std::string(64u << 20, '\0')) << "the image was written";

  // Named with --size, it is refused all the same and keeps its size.
  const RunResult grown = Vornak({"format", link, "--size", "100M", "--yes"});
  EXPECT_EQ(grown.exitCode, 1);
  EXPECT_TRUE(Contains(grown.err, "is attached to " + device)) << grown.err;
  EXPECT_EQ(cli_test::FileSize(image), 64u << 20);
}

}  // namespace

namespace {

// A --sys folder holding io.sys and the files `extra` (name, content).
std::string SysFolder(const ScratchDir& dir,
                      const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  const std::string sys = dir / "sys";
  mkdir(sys.c_str(), 0755);
  cli_test::WriteFile(sys + "/io.sys", std::string(4000, 'I'));
  for (const auto& file : extra) cli_test::WriteFile(sys + "/" + file.first, file.second);
  return sys;
}

// The file `name` of the volume in `image`, read by mtools under a plain
// name (a link to the image) that it takes as nothing but a name.
std::string ReadFromImage(const std::string& image, const std::string& name) {
  ScratchDir out;
  if (symlink(image.c_str(), (out / "image").c_str()) != 0) return std::string();
  const RunResult r = RunProgram({"mcopy", "-i", out / "image", "::/" + name, out / "f"}, Mtools());
  return r.exitCode == 0 ? cli_test::ReadFile(out / "f") : std::string();
}

TEST(VornakCli, TargetNamesThatMtoolsWouldReadOtherwiseGetTheirOwnFiles) {
  RequireTools();
  ScratchDir dir;
  const std::string sys = SysFolder(dir);
  cli_test::WriteFile(dir / "other.img", "untouched");
  for (const std::string name : {"other.img@@0", "a:b.img", "-dash.img"}) {
    SCOPED_TRACE(name);
    const std::string image = dir / name;
    const RunResult r =
        Vornak({"format", image, "--size", "64M", "--bootable", "--sys", sys, "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(ReadFromImage(image, "IO.SYS") == std::string(4000, 'I')) << "IO.SYS not there";
    EXPECT_EQ(cli_test::ReadFile(dir / "other.img"), "untouched");
  }
}

TEST(VornakCli, SysNamesThatADiskCannotHoldAreRefusedBeforeTheQuestion) {
  ScratchDir dir;
  const std::string sys = SysFolder(dir, {{"z:io.sys", "fake"}, {"a*b", "x"}});
  const std::string image = dir / "boot.img";
  // No --yes and no input: a refusal that came after the question would be
  // a declined run instead.
  const RunResult r = Vornak({"format", image, "--size", "64M", "--bootable", "--sys", sys});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "z:io.sys")) << r.err;
  EXPECT_TRUE(Contains(r.err, "a*b")) << r.err;
  EXPECT_FALSE(Contains(r.err, "ARE YOU SURE")) << r.err;
  EXPECT_FALSE(cli_test::Exists(image));

  ScratchDir other;
  const std::string con = SysFolder(other, {{"CON", "x"}});
  const RunResult device =
      Vornak({"format", other / "b.img", "--size", "64M", "--bootable", "--sys", con, "--yes"});
  EXPECT_EQ(device.exitCode, 1);
  EXPECT_TRUE(Contains(device.err, "CON")) << device.err;

  // A link to a file outside the folder is not followed.
  ScratchDir linked;
  const std::string withLink = SysFolder(linked);
  cli_test::WriteFile(linked / "secret", "outside");
  ASSERT_EQ(symlink((linked / "secret").c_str(), (withLink + "/msdos.sys").c_str()), 0);
  const RunResult link = Vornak(
      {"format", linked / "c.img", "--size", "64M", "--bootable", "--sys", withLink, "--yes"});
  EXPECT_EQ(link.exitCode, 1);
  EXPECT_TRUE(Contains(link.err, "msdos.sys is a symbolic link")) << link.err;
  EXPECT_FALSE(cli_test::Exists(linked / "c.img"));

  // Nor one that leads nowhere, nor a FIFO that would hold the copy up.
  unlink((withLink + "/msdos.sys").c_str());
  ASSERT_EQ(symlink("/nonexistent", (withLink + "/msdos.sys").c_str()), 0);
  const RunResult dangling = Vornak(
      {"format", linked / "c.img", "--size", "64M", "--bootable", "--sys", withLink, "--yes"});
  EXPECT_TRUE(Contains(dangling.err, "msdos.sys is a symbolic link that leads nowhere"))
      << dangling.err;
  unlink((withLink + "/msdos.sys").c_str());
  ASSERT_EQ(mkfifo((withLink + "/msdos.sys").c_str(), 0644), 0);
  const RunResult fifo = Vornak(
      {"format", linked / "c.img", "--size", "64M", "--bootable", "--sys", withLink, "--yes"});
  EXPECT_TRUE(Contains(fifo.err, "msdos.sys is not a regular file")) << fifo.err;
  EXPECT_FALSE(cli_test::Exists(linked / "c.img"));
}

}  // namespace

namespace {

// Mounts `device` on a new folder under `dir`; unmounts it at the end.
struct Mounted {
  std::string point;
  bool ok = false;
  Mounted(const std::string& device, const std::string& dir) : point(dir + "/mnt") {
    mkdir(point.c_str(), 0755);
    ok = RunProgram({"mount", device, point}).exitCode == 0;
  }
  ~Mounted() {
    if (ok) RunProgram({"umount", point});
  }
};

TEST(VornakCliLoop, ALoopDeviceSharingItsFileWithAMountedOneIsRefused) {
  ScratchDir dir;
  const std::string image = dir / "shared.img";
  cli_test::WriteFile(image, "");
  ASSERT_EQ(truncate(image.c_str(), 64 << 20), 0);
  // The mounted file system begins 1 MiB into the file.
  cli_test::LoopDevice mountedLoop(image, {"-o", "1048576"});
  if (mountedLoop.device().empty()) GTEST_SKIP() << "no loop device: " << mountedLoop.problem();
  ASSERT_EQ(RunProgram({"mkfs.ext2", "-q", "-F", mountedLoop.device()}).exitCode, 0);
  Mounted mount(mountedLoop.device(), dir.path());
  if (!mount.ok) GTEST_SKIP() << "cannot mount " << mountedLoop.device();
  cli_test::LoopDevice target(image);
  ASSERT_FALSE(target.device().empty()) << target.problem();
  const std::string before = cli_test::ReadFile(image);

  for (const std::string mode : {"quick", "low"}) {
    const RunResult r = Vornak({"format", target.device(), "--mode", mode, "--yes"});
    EXPECT_EQ(r.exitCode, 1) << mode;
    EXPECT_TRUE(Contains(r.err, "also attached to " + mountedLoop.device())) << r.err;
    EXPECT_TRUE(Contains(r.err, "is mounted on " + mount.point)) << r.err;
  }
  EXPECT_TRUE(cli_test::ReadFile(image) == before) << "the mounted file system was written";
}

}  // namespace

namespace {

TEST(VornakCli, ABootableRunWithoutItsStartUpFilesFailsNamingTheFile) {
  RequireTools();
  ScratchDir dir;
  const std::string sys = SysFolder(dir, {{"command.com", "C"}});
  // Without mcopy the files cannot be copied: refused before the question.
  const std::string image = dir / "boot.img";
  const RunResult noTool =
      Vornak({"format", image, "--size", "64M", "--bootable", "--sys", sys, "--yes"},
             cli_test::WithEnvironment({"PATH=/nonexistent"}));
  EXPECT_EQ(noTool.exitCode, 1);
  EXPECT_TRUE(Contains(noTool.err, "mcopy")) << noTool.err;
  EXPECT_FALSE(Contains(noTool.err, "ARE YOU SURE")) << noTool.err;
  EXPECT_FALSE(cli_test::Exists(image));

  // An io.sys larger than the disk's free space.
  ASSERT_EQ(truncate((sys + "/io.sys").c_str(), 80 << 20), 0);
  const RunResult full =
      Vornak({"format", image, "--size", "64M", "--bootable", "--sys", sys, "--yes"});
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_TRUE(Contains(full.err, "io.sys was not copied: mcopy failed")) << full.err;
  EXPECT_FALSE(Contains(full.out, "system files use")) << full.out;
  EXPECT_TRUE(ReadFromImage(image, "COMMAND.COM").empty()) << "copied after io.sys failed";
}

}  // namespace

namespace {

// A zero-filled file of `bytes` bytes.
std::string ZeroFile(const ScratchDir& dir, const std::string& name, off_t bytes) {
  const std::string path = dir / name;
  cli_test::WriteFile(path, "");
  if (truncate(path.c_str(), bytes) != 0) return std::string();
  return path;
}

// Devices the kernel keeps from being written, or whose sectors the layouts
// do not fit, are refused before the question, and nothing is written.
TEST(VornakCliLoop, ReadOnlyAndLargeSectorDevicesAreRefusedBeforeTheQuestion) {
  ScratchDir dir;
  const std::string image = ZeroFile(dir, "disk.img", 64 << 20);
  struct Case {
    std::vector<std::string> losetup;
    std::string says;
  };
  for (const Case& c : {Case{{"-r"}, "is read-only"},
                        Case{{"--sector-size", "4096"}, "has 4096-byte logical sectors"}}) {
    cli_test::LoopDevice loop(image, c.losetup);
    if (loop.device().empty()) GTEST_SKIP() << "no loop device: " << loop.problem();
    const RunResult r = Vornak({"format", loop.device(), "--yes"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, loop.device() + " " + c.says)) << r.err;
    EXPECT_FALSE(Contains(r.err, "ARE YOU SURE")) << r.err;
  }
  EXPECT_TRUE(cli_test::ReadFile(image) == std::string(64u << 20, '\0')) << "the image was written";
}

// A Low run on a block device: the data area is left holding each sector's
// stamp (its number and complement at one offset of every sector, the rest
// 0xFF), the verify finds nothing, and the file system is sound.
TEST(VornakCliLoop, LowOnABlockDeviceStampsEverySectorAndVerifies) {
  RequireTools();
  ScratchDir dir;
  const std::string image = ZeroFile(dir, "disk.img", 64 << 20);
  cli_test::LoopDevice loop(image);
  if (loop.device().empty()) GTEST_SKIP() << "no loop device: " << loop.problem();
  const RunResult r = Vornak({"format", loop.device(), "--mode", "low", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "bad sectors: 0 bytes")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nsectors that read back another address: 0\n")) << r.out;
  EXPECT_EQ(Fsck(loop.device()).exitCode, 0);
  const std::string bytes = cli_test::ReadFile(image);
  const auto le32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  std::size_t offset = 512;
  for (std::size_t at = 0; at < 512; at += 16)
    if (le32(100000u * 512 + at + 8) == 100000u && le32(100000u * 512 + at + 12) == ~100000u)
      offset = at;
  ASSERT_LT(offset, 512u) << "sector 100000 holds no stamp of its number";
  for (std::uint32_t s : {289u, 4096u, 131071u}) {
    EXPECT_EQ(le32(s * 512ull + offset + 8), s) << s;
    EXPECT_EQ(bytes.substr(s * 512ull, offset), std::string(offset, '\xFF')) << s;
  }
}

TEST(VornakCliLoop, AnActiveSwapFileIsRefusedAndKeepsItsSize) {
  ScratchDir dir;
  // Written out: the kernel takes no swap file with holes.
  const std::string swap = dir / "swap.img";
  cli_test::WriteFile(swap, std::string(8u << 20, '\0'));
  chmod(swap.c_str(), 0600);
  ASSERT_EQ(RunProgram({"mkswap", swap}).exitCode, 0);
  if (RunProgram({"swapon", swap}).exitCode != 0) GTEST_SKIP() << "swapon is not permitted";
  struct Off {
    std::string file;
    ~Off() { RunProgram({"swapoff", file}); }
  } off{swap};
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, std::vector<std::string>{"--size", "64M"}}) {
    std::vector<std::string> args = {"format", swap, "--yes"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = Vornak(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "is in use as swap space")) << r.err;
    EXPECT_FALSE(Contains(r.err, "ARE YOU SURE")) << r.err;
  }
  EXPECT_EQ(cli_test::FileSize(swap), 8u << 20);
}

TEST(VornakCliLoop, AFileMadeForARunThatRanOutOfSpaceIsRemoved) {
  ScratchDir dir;
  const std::string small = dir / "small";
  mkdir(small.c_str(), 0755);
  if (RunProgram({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", small}).exitCode != 0)
    GTEST_SKIP() << "cannot mount a tmpfs";
  struct Unmount {
    std::string point;
    ~Unmount() { RunProgram({"umount", point}); }
  } unmount{small};
  const std::string image = small + "/new.img";
  const RunResult r = Vornak({"format", image, "--size", "64M", "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "No space left on device")) << r.err;
  EXPECT_FALSE(cli_test::Exists(image));
}

}  // namespace

namespace {

TEST(VornakCli, AnImageLockedByAnotherRunIsRefusedBeforeTheQuestion) {
  ScratchDir dir;
  const std::string image = ZeroFile(dir, "locked.img", 64 << 20);
  const int held = open(image.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  const RunResult r = Vornak({"format", image, "--yes"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "holds a lock on it")) << r.err;
  EXPECT_FALSE(Contains(r.err, "ARE YOU SURE")) << r.err;
  close(held);
  EXPECT_TRUE(cli_test::ReadFile(image) == std::string(64u << 20, '\0')) << "the image was written";
  // Released, the image formats; after "--" a name that begins with "-" is
  // a TARGET.
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  ASSERT_EQ(rename(image.c_str(), (dir / "-locked.img").c_str()), 0);
  const RunResult dashed = Vornak({"format", "--yes", "--", "-locked.img"});
  EXPECT_EQ(chdir("/"), 0);
  EXPECT_EQ(dashed.exitCode, 0) << dashed.err;
}

}  // namespace
