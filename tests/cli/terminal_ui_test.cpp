// The format run's front end on a terminal: how the confirmation, the notices
// and the report are shown, and how the pass progress becomes a bar or lines.
#include <gtest/gtest.h>

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

// The progress a pass reports, with the status line the dialog makes of it.
struct Step {
  bool write, dataArea, end;
  std::uint32_t sector, percent;
};
void Show(TerminalFormatUi& ui, const Step& s) {
  vornak::PassProgress p;
  p.write = s.write;
  p.dataArea = s.dataArea;
  p.end = s.end;
  p.sector = s.sector;
  p.percent = s.percent;
  ui.ShowPassProgress(p);
}
const Step kSteps[] = {{true, false, false, 0, 0},
                       {true, true, false, 289, 0},
                       {true, true, false, 300, 0},
                       {true, true, false, 1313, 1},
                       {true, true, true, 131072, 100}};

TEST(TerminalUi, PassProgressBecomesOneLinePerPercentOrABar) {
  Terminal plain("");
  TerminalFormatUi lines(plain.options, 0x0409);
  for (const Step& s : kSteps) Show(lines, s);
  EXPECT_EQ(plain.Out(),
            "Write system area: 0(0%)\nWrite data area: 289(0%)\nWrite data area: 1313(1%)\n"
            "Write data area: End\n");

  Terminal tty("", true);
  TerminalFormatUi bar(tty.options, 0x0409);
  for (const Step& s : kSteps) Show(bar, s);
  Show(bar, {false, false, false, 0, 0});
  const std::string out = tty.Out();
  EXPECT_NE(out.find("\rWrite data area    [........................................]   1%"
                     "      1313"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("[########################################] End"), std::string::npos) << out;
  // Each area starts on a line of its own.
  EXPECT_NE(out.find("     0\n\rWrite data area"), std::string::npos) << out;
  EXPECT_NE(out.find("End         \n\rRead system area"), std::string::npos) << out;
}

TEST(TerminalUi, TheBarIsDrawnFromTheNumbers) {
  Terminal plain("", true);
  TerminalFormatUi ui(plain.options, 0x0409);
  vornak::PassProgress p;
  p.dataArea = true;
  p.sector = 65536;
  p.percent = 50;
  ui.ShowPassProgress(p);
  EXPECT_NE(plain.Out().find("[####################....................]  50%     65536"),
            std::string::npos)
      << plain.Out();
}

}  // namespace
