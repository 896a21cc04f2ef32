// The formatter's window seam on a terminal: how the dialog's boxes become
// questions and messages, and how the pass status becomes a bar or lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialog_platform.h"
#include "resource.h"
#include "terminal_format_ui.h"

namespace {

using namespace vornak_cli;
namespace dlg = vornak::dlg;

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
  const char* question = "ALL DATA ON THIS DISK WILL BE LOST! ARE YOU SURE?(Y/N)";
  EXPECT_EQ(ui.MessageBoxA(question, "Warning - Removable Disk(E:)", dlg::kMbYesNo | 0x40),
            dlg::kIdYes);
  EXPECT_TRUE(ui.confirmed);
  EXPECT_EQ(ui.MessageBoxA(question, "Warning - Removable Disk(E:)", dlg::kMbYesNo | 0x40),
            dlg::kIdNo);
  EXPECT_FALSE(ui.confirmed);
  // Input at its end: No.
  EXPECT_EQ(ui.MessageBoxA(question, "Warning - Removable Disk(E:)", dlg::kMbYesNo), dlg::kIdNo);
  EXPECT_NE(t.Err().find("Warning - Removable Disk(/dev/sdz)\n"), std::string::npos) << t.Err();

  Terminal y("", false, true);
  TerminalFormatUi yes(y.options, 0x0409);
  EXPECT_EQ(yes.MessageBoxA(question, "Warning - Removable Disk(E:)", dlg::kMbYesNo), dlg::kIdYes);
}

TEST(TerminalUi, StopBoxesAreFailuresAndTheReportGoesToOutput) {
  Terminal t("");
  TerminalFormatUi ui(t.options, 0x0804);
  ui.MessageBoxA("Invalid volume label!", "Ignore!", 0x40);
  EXPECT_FALSE(ui.failureShown);
  ui.MessageBoxA("Format fail!", "Sorry!", dlg::kMbIconHand);
  EXPECT_TRUE(ui.failureShown);
  EXPECT_EQ(t.Err(), "vornak-cli: Invalid volume label! (Ignore!)\nvornak-cli: Format fail!\n");
  // The Windows 98 re-plug request cannot be met: Cancel.
  EXPECT_EQ(ui.MessageBoxA("Please pull out", "Format", dlg::kMbOkCancel), dlg::kIdCancel);

  ui.MessageBoxA("\xbb\xb5\xc9\xc8\xc7\xf8\xb9\xb2: 0 bytes\n",
                 "Format Results - Removable Disk(E:)", dlg::kMbOk);
  EXPECT_TRUE(ui.reportShown);
  EXPECT_NE(t.Out().find("Format Results - Removable Disk(/dev/sdz)\n\n\xe5\x9d\x8f\xe6\x89\x87"
                         "\xe5\x8c\xba\xe5\x85\xb1: 0 bytes\n"),  // 坏扇区共 in UTF-8
            std::string::npos)
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
  ui.SetPassStatus(IDC_PROGRESS, vornak::PassStatusText(vornak::FatTexts{}, p), p);
}
const Step kSteps[] = {{true, false, false, 0, 0},
                       {true, true, false, 289, 0},
                       {true, true, false, 300, 0},
                       {true, true, false, 1313, 1},
                       {true, true, true, 131072, 100}};

TEST(TerminalUi, PassProgressBecomesOneLinePerPercentOrABar) {
  Terminal plain("");
  TerminalFormatUi lines(plain.options, 0x0409);
  lines.SetControlText(IDC_PROGRESS, "Current:");
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

TEST(TerminalUi, TheBarComesFromTheNumbersNotFromTheText) {
  // The status text alone (as a window shows it) draws nothing.
  Terminal plain("", true);
  TerminalFormatUi ui(plain.options, 0x0409);
  ui.SetControlText(IDC_PROGRESS, "Write data area: 1313(1%)");
  EXPECT_EQ(plain.Out(), "");
  EXPECT_EQ(ui.GetControlText(IDC_PROGRESS), "Write data area: 1313(1%)");

  // A text that reads nothing like the numbers: the bar shows the numbers,
  // and the control keeps the text the dialog made.
  vornak::PassProgress p;
  p.dataArea = true;
  p.sector = 65536;
  p.percent = 50;
  ui.SetPassStatus(IDC_PROGRESS, "(7%) : 12", p);
  EXPECT_NE(plain.Out().find("[####################....................]  50%     65536"),
            std::string::npos)
      << plain.Out();
  EXPECT_EQ(ui.GetControlText(IDC_PROGRESS), "(7%) : 12");
}

}  // namespace
