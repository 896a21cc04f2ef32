// The figures of a format run and its results report.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "format_results.h"
#include "../support/shell.h"

namespace vornak::test {
namespace {

constexpr std::uint32_t kMiB = 1u << 20;
constexpr std::uint16_t kLangEnglish = 0x0409;
constexpr std::uint16_t kLangSimplifiedChinese = 0x0804;
constexpr std::uint16_t kLangTraditionalChinese = 0x0404;

using test_support::Shell;

std::string TempPath(const std::string& name) {
  return test_support::TempPath("format_results", name);
}

// The UTF-8 text converted by iconv into the code page.
std::string Iconv(const std::string& utf8, const char* to) {
  const std::string in = TempPath("iconv.txt");
  FILE* f = std::fopen(in.c_str(), "wb");
  std::fwrite(utf8.data(), 1, utf8.size(), f);
  std::fclose(f);
  std::string out;
  const int rc = Shell(std::string("iconv -f UTF-8 -t ") + to + " '" + in + "'", &out);
  std::remove(in.c_str());
  EXPECT_EQ(rc, 0) << out;
  return out;
}

const FormatResults kBootable{31377408u, 1490944u, 4096u, 2048u};

TEST(ResultsReport, ChineseTextsAreTheGbkAndBig5BytesOfTheTexts) {
  const std::string zh =
      "磁盘空间共: 31377408 bytes\n\n系统文件使用: 1490944 bytes\n\n坏扇区共: 4096 bytes\n\n"
      "可用磁盘空间: 29882368 bytes\n\n\n\n每个分配单元共有: 2048 bytes\n\n"
      "磁盘分配单元总数: 15321\n";
  const std::string tw =
      "磁碟空間共: 31377408 bytes\n\n系統文件使用: 1490944 bytes\n\n壞扇區共: 4096 bytes\n\n"
      "可用磁碟空間: 29882368 bytes\n\n\n\n每個分配單元共有: 2048 bytes\n\n"
      "磁碟分配單元總數: 15321\n";
  EXPECT_EQ(ResultsReportText(kLangSimplifiedChinese, kBootable), Iconv(zh, "GBK"));
  EXPECT_EQ(ResultsReportText(kLangTraditionalChinese, kBootable), Iconv(tw, "BIG5"));
}

TEST(ResultsReport, AvailableLeavesOutBadAndSystemInEveryLanguage) {
  EXPECT_EQ(ResultsReportText(kLangEnglish, kBootable),
            "total disk space: 31377408 bytes\n\nsystem files use: 1490944\n\n"
            "bad sectors: 4096 bytes\n\navailable on disk: 29882368 bytes\n\n\n\n"
            "each allocation unit: 2048 bytes\n\ntotal allocation units: 15321\n");
  for (std::uint16_t lang : {kLangEnglish, kLangSimplifiedChinese, kLangTraditionalChinese}) {
    EXPECT_NE(ResultsReportText(lang, kBootable).find(": 29882368 bytes"), std::string::npos)
        << lang;
  }
}

TEST(ResultsReport, AvailableIsZeroWhenBadAndSystemExceedTheTotal) {
  // Bootable and Low on a mostly unreadable disk: 1.4 MB of start-up files and
  // most of the rest bad.
  const FormatResults worn{2097152u, 1490944u, 1048576u, 2048u};
  EXPECT_EQ(AvailableBytes(worn), 0u);
  for (std::uint16_t lang : {kLangEnglish, kLangSimplifiedChinese, kLangTraditionalChinese}) {
    const std::string text = ResultsReportText(lang, worn);
    EXPECT_NE(text.find(": 0 bytes\n\n\n\n"), std::string::npos) << lang << text;
  }
  EXPECT_EQ(AvailableBytes(FormatResults{4096u, 2048u, 2048u, 2048u}), 0u);
  EXPECT_EQ(AvailableBytes(FormatResults{0xFFFFF000u, 0xFFFFF000u, 0xFFFFF000u, 2048u}), 0u);
  EXPECT_EQ(AvailableBytes(FormatResults{6144u, 2048u, 2048u, 2048u}), 2048u);
}

TEST(RunQuantities, SystemFilesFigureFollowsClusterSizeAndLayoutIndex) {
  FatLayout layout;
  layout.index = 0;
  EXPECT_EQ(SystemFilesBytes(layout, 2048), 1490944u);  // Q = 728
  layout.index = 3;
  EXPECT_EQ(SystemFilesBytes(layout, 2048), 1517568u);  // Q = 741
  EXPECT_EQ(SystemFilesBytes(layout, 4096), 1519616u);  // Q = 371
}

TEST(RunQuantities, ImageBufferHoldsTheSystemAreaInWholeSectors) {
  FatLayout layout;
  ChooseLayout(30 * kMiB, layout);
  EXPECT_EQ(ImageBufferSize(layout, 30 * kMiB), 80384u);
  ChooseLayout(62 * kMiB, layout);
  EXPECT_EQ(ImageBufferSize(layout, 62 * kMiB), 65536u + 80384u);
  ChooseLayout(126 * kMiB, layout);
  EXPECT_EQ(ImageBufferSize(layout, 126 * kMiB), 3u * 65536u + 80384u);
  ChooseLayout(200 * kMiB, layout);
  ASSERT_EQ(layout.kind, LayoutKind::Computed);
  EXPECT_EQ(ImageBufferSize(layout, 200 * kMiB), layout.fatSectors * 1024u + 0x4200u);
  // Every buffer holds the whole system area and is whole sectors.
  for (std::uint32_t mib : {30u, 31u, 62u, 63u, 94u, 95u, 126u, 127u, 200u, 700u}) {
    ChooseLayout(mib * kMiB, layout);
    const std::uint32_t k = ImageBufferSize(layout, mib * kMiB);
    EXPECT_GE(k, SystemAreaBytes(layout)) << mib;
    EXPECT_EQ(k % 512, 0u) << mib;
  }
}
TEST(RunQuantities, UsableDataIsWholeClustersAfterTheSystemArea) {
  FatLayout layout;
  ChooseLayout(30 * kMiB, layout);
  EXPECT_EQ(UsableDataBytes(layout, 30 * kMiB, 2048), 31377408u);
  EXPECT_EQ(UsableDataBytes(layout, SystemAreaBytes(layout), 2048), 0u);
  EXPECT_EQ(UsableDataBytes(layout, 1000, 2048), 0u);
  EXPECT_EQ(UsableDataBytes(layout, 30 * kMiB, 0), 0u);
}

}  // namespace
}  // namespace vornak::test
