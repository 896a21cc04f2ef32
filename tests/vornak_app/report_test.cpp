// The results report of a run in the dialog's language, and the system
// format command's arguments.
#include <gtest/gtest.h>

#include "dialog_rig.h"

namespace vornak::test {
namespace {

TEST(ResultsReport, LanguageOfTheRunFollowsTheDialog) {
  Rig rig;
  rig.AddDrive('E', 30 * kMiB);
  rig.startup.language = 0x0C04;  // Hong Kong: Traditional Chinese
  rig.Open();
  rig.dialog->OnStart();
  ASSERT_FALSE(rig.ui.boxes.empty());
  EXPECT_EQ(rig.ui.boxes.back().text,
            ResultsReportText(kLangTraditionalChinese, FormatResults{31377408u, 0, 0, 2048u}));
}

TEST(RunQuantities, SystemFormatArguments) {
  EXPECT_EQ(SystemFormatArguments("E:", 2048, true), "E:/FS:FAT /A:2048/Q");
  EXPECT_EQ(SystemFormatArguments("E:", 2048, false), "E:/FS:FAT /A:2048");
  EXPECT_EQ(SystemFormatArguments("G:", 16 * 512, false), "G:/FS:FAT /A:8192");
}

}  // namespace
}  // namespace vornak::test
