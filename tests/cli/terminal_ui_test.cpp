// The format run's front end on a terminal: how the confirmation, the notices
// and the report are shown, and how the pass progress becomes a bar or lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "terminal_format_ui.h"

namespace {

using namespace vornak_cli;

// A terminal whose input is `input` and whose two outputs are collected.
class Terminal {
 public:
  explicit Terminal(const std::string& input, bool bar = false, bool yes = false) : input_(input) {
    options.in = fmemopen(&input_[0], input_.size() + 1, "r");
    options.out = open_memstream(&out_, &outSize_);
    options.err = open_memstream(&err_, &errSize_);
    options.target = "/dev/sdz";
    options.progressBar = bar;
    options.assumeYes = yes;
  }
  ~Terminal() {
    std::fclose(options.in);
    std::fclose(options.out);
    std::fclose(options.err);
    std::free(out_);
    std::free(err_);
  }
  std::string Out() {
    std::fflush(options.out);
    return std::string(out_, outSize_);
  }
  std::string Err() {
    std::fflush(options.err);
    return std::string(err_, errSize_);
  }
  TerminalOptions options;

 private:
  std::string input_;
  char* out_ = nullptr;
  char* err_ = nullptr;
  std::size_t outSize_ = 0, errSize_ = 0;
};

TEST(TerminalUi, ConfirmationIsAnsweredFromInputOrByYes) {
  Terminal t(" Y\nn\n");
  TerminalFormatUi ui(t.options, 0x0409);
  vornak::FormatRequest request;
  request.drive = "E:";
  EXPECT_TRUE(ui.Confirm(request));
  EXPECT_FALSE(ui.Confirm(request));
  // Input at its end: No.
  EXPECT_FALSE(ui.Confirm(request));
  EXPECT_NE(t.Err().find("Warning - Removable Disk(/dev/sdz)\n"
                         "ALL DATA ON THIS DISK WILL BE LOST! ARE YOU SURE?(Y/N) "),
            std::string::npos)
      << t.Err();

  Terminal y("", false, true);
  TerminalFormatUi yes(y.options, 0x0409);
  EXPECT_TRUE(yes.Confirm(request));
}

TEST(TerminalUi, NoticesGoToErrorsAndTheReportToOutput) {
  Terminal t("");
  TerminalFormatUi ui(t.options, 0x0804);
  ui.MessageBoxA("Invalid volume label!", "Ignore!", 0x40);
  ui.Notice(vornak::FormatNotice::FormatFail, 0, std::string());
  EXPECT_EQ(t.Err(), "vornak-cli: Invalid volume label! (Ignore!)\nvornak-cli: Format fail!\n");
  // The Windows 98 re-plug request cannot be met: cancelled.
  EXPECT_EQ(ui.AwaitReplug(), "");

  ui.ShowReport("E:", vornak::FormatResults{});
  EXPECT_NE(t.Out().find("Format Results - Removable Disk(/dev/sdz)\n\n"), std::string::npos)
      << t.Out();
  EXPECT_NE(t.Out().find("\xe5\x9d\x8f\xe6\x89\x87\xe5\x8c\xba\xe5\x85\xb1: 0 bytes\n"),
            std::string::npos)  // 坏扇区共 in UTF-8
      << t.Out();
}

// The progress a pass reports, with the status line the dialog makes of it,
// at a time of the terminal's clock.
struct Step {
  bool write, dataArea, end;
  std::uint32_t sector, percent;
  std::uint64_t ms;
};
void Show(TerminalFormatUi& ui, std::uint64_t& clock, const Step& s) {
  vornak::PassProgress p;
  p.write = s.write;
  p.dataArea = s.dataArea;
  p.end = s.end;
  p.sector = s.sector;
  p.percent = s.percent;
  p.totalSectors = 131072;
  clock = s.ms;
  ui.ShowPassProgress(p);
}
const Step kSteps[] = {{true, false, false, 0, 0, 0},
                       {true, true, false, 289, 0, 300},
                       {true, true, false, 300, 0, 600},
                       {true, true, false, 1313, 1, 900},
                       {true, true, true, 131072, 100, 1200}};

TEST(TerminalUi, PassProgressBecomesOneLinePerPercentOrABar) {
  std::uint64_t clock = 0;
  Terminal plain("");
  plain.options.clockMs = [&] { return clock; };
  TerminalFormatUi lines(plain.options, 0x0409);
  for (const Step& s : kSteps) Show(lines, clock, s);
  // 130783 sectors in 0.9 s.
  EXPECT_EQ(plain.Out(),
            "Write system area: 0(0%)\nWrite data area: 289(0%)\nWrite data area: 1313(1%)\n"
            "Write data area: End\nWrite data area: 67.0 MB in 0.90 s, 74.4 MB/s\n");

  Terminal tty("", true);
  tty.options.clockMs = [&] { return clock; };
  TerminalFormatUi bar(tty.options, 0x0409);
  for (const Step& s : kSteps) Show(bar, clock, s);
  Show(bar, clock, {false, false, false, 0, 0, 1300});
  const std::string out = tty.Out();
  // 1024 sectors in 0.6 s: 0.9 MB/s, and 129759 sectors to go at that speed.
  EXPECT_NE(out.find("\rWrite data area    [....................]   1%    0.9 MB/s    1:16 left"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("300"), std::string::npos) << "redrawn within 200 ms: " << out;
  EXPECT_NE(out.find("[####################] End, 67.0 MB in 0.90 s, 74.4 MB/s\n"),
            std::string::npos)
      << out;
  // Each area starts on a line of its own, and no speed is told before
  // anything has moved.
  EXPECT_NE(out.find("   0%" + std::string(25, ' ') + "\n\rWrite data area"), std::string::npos)
      << out;
  EXPECT_NE(out.find("MB/s\n\rRead system area"), std::string::npos) << out;
}

// The bar follows a fast pass at most five times a second, and a slow one
// at least once a second even while its percent stands still.
TEST(TerminalUi, TheBarIsRedrawnFiveTimesASecondAtMostAndOnceASecondAtLeast) {
  std::uint64_t clock = 0;
  Terminal fast("", true);
  fast.options.clockMs = [&] { return clock; };
  TerminalFormatUi ui(fast.options, 0x0409);
  for (std::uint32_t i = 0; i < 1000; ++i)  // 2 s, the percent moving every 20 ms
    Show(ui, clock, {true, true, false, i * 128, i / 10, i * 2});
  const std::string out = fast.Out();
  const auto draws = std::count(out.begin(), out.end(), '\r');
  EXPECT_GE(draws, 9);
  EXPECT_LE(draws, 11) << out;

  Terminal slow("", true);
  slow.options.clockMs = [&] { return clock; };
  TerminalFormatUi still(slow.options, 0x0409);
  for (std::uint32_t i = 0; i <= 10; ++i)  // 5 s at 40%
    Show(still, clock, {true, true, false, 52429 + i, 40, i * 500});
  const std::string stillOut = slow.Out();
  EXPECT_EQ(std::count(stillOut.begin(), stillOut.end(), '\r'), 6) << stillOut;
  EXPECT_NE(stillOut.find("0.0 MB/s"), std::string::npos) << stillOut;
}

TEST(TerminalUi, TheBarIsDrawnFromTheNumbers) {
  Terminal plain("", true);
  TerminalFormatUi ui(plain.options, 0x0409);
  vornak::PassProgress p;
  p.dataArea = true;
  p.sector = 65536;
  p.percent = 50;
  ui.ShowPassProgress(p);
  EXPECT_NE(plain.Out().find("[##########..........]  50%"), std::string::npos) << plain.Out();
}

// What the front end asks of the passes, and the line after a Low run.
TEST(TerminalUi, LowPassesAreStampedWithANewSaltAndRetriedOnDevicesOnly) {
  const vornak::SurfaceOptions device = LowPassOptions(true);
  const vornak::SurfaceOptions image = LowPassOptions(false);
  EXPECT_EQ(device.chunkSectors, 2048u);
  EXPECT_TRUE(device.stamped && image.stamped);
  EXPECT_TRUE(device.retrySmaller);
  EXPECT_FALSE(image.retrySmaller) << "an image's failures are its file system's";
  EXPECT_NE(device.salt, image.salt);

  vornak::FormatOutcome outcome;
  EXPECT_EQ(MisplacedLine(outcome), "") << "no verify pass, nothing found";
  outcome.verified = true;
  EXPECT_EQ(MisplacedLine(outcome), "sectors that read back another address: 0");
  outcome.verified = false;
  outcome.misplacedSectors = 7;
  EXPECT_EQ(MisplacedLine(outcome).find("sectors that read back another address: 7 ("), 0u);
}

}  // namespace
