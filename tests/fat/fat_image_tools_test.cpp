// The volumes the formatter writes, judged by dosfstools and mtools.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fat_layout.h"
#include "fat_test_support.h"
#include "image_file.h"
#include "system_area.h"
#include "../support/shell.h"

namespace vornak::test {
namespace {

constexpr std::uint32_t kMiB = 1u << 20;

using test_support::Shell;

class ImageToolsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ::setenv("MTOOLS_SKIP_CHECK", "1", 1); }

  void SetUp() override {
    char dir[] = "/tmp/vornak-fat-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    payload_ = dir_ + "/payload.bin";
    std::mt19937 rng(7);
    std::vector<char> bytes(70000);  // several clusters of every layout but 32 KiB ones
    for (char& b : bytes) b = static_cast<char>(rng());
    FILE* f = std::fopen(payload_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  void TearDown() override { Shell("rm -rf '" + dir_ + "'"); }

  // fsck.fat -n finds nothing to repair.
  void ExpectClean(const std::string& image) {
    std::string out;
    EXPECT_EQ(Shell("fsck.fat -n '" + image + "'", &out), 0) << out;
    EXPECT_EQ(out.find("differ"), std::string::npos) << out;
  }

  // The two FATs of the volume at `offset` of the file are byte-equal.
  void ExpectEqualFats(const std::string& image, std::uint64_t offset, std::uint32_t fatSectors) {
    std::vector<std::uint8_t> fats;
    ASSERT_TRUE(ReadFileBytes(image, offset + 512, fatSectors * 1024, fats));
    EXPECT_EQ(0, std::memcmp(fats.data(), fats.data() + fatSectors * 512, fatSectors * 512));
  }

  // mdir shows the label; a file copied in reads back identical.
  void ExpectLabelAndRoundTrip(const std::string& target, const std::string& label) {
    std::string out;
    ASSERT_EQ(Shell("mdir -i '" + target + "' ::", &out), 0) << out;
    EXPECT_NE(out.find("Volume in drive : is " + label), std::string::npos) << out;
    ASSERT_EQ(Shell("mcopy -i '" + target + "' '" + payload_ + "' ::SONG.MP3", &out), 0) << out;
    const std::string back = dir_ + "/back.bin";
    ASSERT_EQ(Shell("mcopy -n -i '" + target + "' ::SONG.MP3 '" + back + "'", &out), 0) << out;
    EXPECT_EQ(Shell("cmp '" + payload_ + "' '" + back + "'", &out), 0) << out;
  }

  std::string dir_, payload_;
};

const std::uint32_t kFixedSizes[] = {
    30 * kMiB,  31 * kMiB,   62 * kMiB,    63 * kMiB,    94 * kMiB,     95 * kMiB,    126 * kMiB,
    127 * kMiB, 60669 * 512, 125181 * 512, 254205 * 512, 512127u * 512, 249921 * 512, 507717u * 512,
};
const std::uint32_t kComputedSizes[] = {
    16407 * 512,  // the smallest computed layout (4085 clusters)
    20 * kMiB,   128 * kMiB, 128 * kMiB + 512, 200 * kMiB, 512 * kMiB, 1024 * kMiB,
};

TEST_F(ImageToolsTest, EveryLayoutIsACleanLabelledFat16Volume) {
  std::vector<std::uint32_t> sizes(std::begin(kFixedSizes), std::end(kFixedSizes));
  sizes.insert(sizes.end(), std::begin(kComputedSizes), std::end(kComputedSizes));
  for (std::uint32_t size : sizes) {
    SCOPED_TRACE(size);
    FatLayout layout;
    const auto image = BuildImage(size, "player", &layout);
    ASSERT_FALSE(image.empty());
    const std::string file = dir_ + "/disk.img";
    ASSERT_TRUE(WriteImageFile(file, size, image, 0));
    ExpectClean(file);
    std::string out;
    Shell("fsck.fat -n -v '" + file + "'", &out);
    EXPECT_NE(out.find("16 bit entries"), std::string::npos) << out;
    ExpectLabelAndRoundTrip(file, "PLAYER");
    ExpectEqualFats(file, 0, layout.fatSectors);
    ExpectClean(file);
  }
}

TEST_F(ImageToolsTest, TooSmallForFat16IsRefused) {
  EXPECT_TRUE(BuildImage(8 * kMiB, "").empty());
  EXPECT_TRUE(BuildImage(16406 * 512, "").empty());
}

TEST_F(ImageToolsTest, PartitionedLayoutsBehindABootRecord) {
  for (std::uint32_t size : {60669u * 512, 507717u * 512, 200 * kMiB}) {
    SCOPED_TRACE(size);
    FatLayout layout;
    const auto image = BuildImage(size, "VOICE", &layout);
    ASSERT_FALSE(image.empty());
    const std::string file = dir_ + "/whole.img";
    const std::uint64_t offset = kPartitionStart * 512ull;
    ASSERT_TRUE(WriteImageFile(file, size + offset, image, offset));
    {
      FILE* f = std::fopen(file.c_str(), "r+b");
      ASSERT_NE(f, nullptr);
      const auto mbr = MakeMbr(size >> 9);
      std::fwrite(mbr.data(), 1, 512, f);
      std::fclose(f);
    }
    std::string out;
    ASSERT_EQ(Shell("mpartition -i '" + file + "' -p :: 2>/dev/null; true"), 0);
    ExpectLabelAndRoundTrip(file + "@@" + std::to_string(offset), "VOICE");
    ExpectEqualFats(file, offset, layout.fatSectors);
    // The hidden-sector count of the volume is where the partition starts.
    std::vector<std::uint8_t> boot;
    ASSERT_TRUE(ReadFileBytes(file, offset, 512, boot));
    EXPECT_EQ(Le32(boot.data() + 0x1C), kPartitionStart);
  }
}

// Quick mode over a volume whose old FAT marks clusters bad: the new FATs keep
// them, and fsck.fat (which counts bad clusters as taken) and mtools agree.
TEST_F(ImageToolsTest, QuickModeKeepsOldBadClusters) {
  const std::uint32_t size = 62 * kMiB;
  FatLayout layout;
  auto image = BuildImage(size, "", &layout);
  ASSERT_FALSE(image.empty());
  // An old FAT with files, free space and three bad clusters.
  std::uint8_t* fat = image.data() + 512;
  const std::uint32_t badEntries[] = {9, 10, 4000};
  for (std::uint32_t e : badEntries) fat[e * 2] = 0xF7, fat[e * 2 + 1] = 0xFF;
  fat[2 * 2] = 0xFF, fat[2 * 2 + 1] = 0xFF;  // a one-cluster file: not kept
  std::memcpy(fat + layout.fatSectors * 512, fat, layout.fatSectors * 512);
  const std::string file = dir_ + "/quick.img";
  ASSERT_TRUE(WriteImageFile(file, size, image, 0));

  bool quick = true;
  std::string label = "Keep";
  std::uint32_t bad = 0;
  RecordingFormatUi ui;
  std::vector<std::uint8_t> fresh(SystemAreaBytes(layout));
  auto reader = [&](void* buffer, std::uint32_t first, std::uint32_t count) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFileBytes(file, first * 512ull, count * 512, bytes)) return false;
    std::memcpy(buffer, bytes.data(), bytes.size());
    return true;
  };
  ASSERT_TRUE(BuildSystemArea(fresh.data(), static_cast<std::uint32_t>(fresh.size()), layout,
                              {quick, label, bad}, reader, ui, FatTexts{}));
  EXPECT_TRUE(quick);
  EXPECT_EQ(bad, 3u * 2048);
  ASSERT_TRUE(WriteImageFile(file, size, fresh, 0));

  std::string out;
  EXPECT_EQ(Shell("fsck.fat -n '" + file + "'", &out), 0) << out;
  const std::uint32_t clusters = (126976 - SystemAreaSectors(layout)) / 4;
  EXPECT_NE(out.find("3/" + std::to_string(clusters) + " clusters"), std::string::npos) << out;
  ASSERT_EQ(Shell("mdir -i '" + file + "' ::", &out), 0) << out;
  char freeText[64];
  const unsigned long long freeBytes = (clusters - 3ull) * 2048;
  std::snprintf(freeText, sizeof freeText, "%llu %03llu %03llu bytes free", freeBytes / 1000000,
                freeBytes / 1000 % 1000, freeBytes % 1000);
  EXPECT_NE(out.find(freeText), std::string::npos) << out << freeText;
  ExpectEqualFats(file, 0, layout.fatSectors);
}

}  // namespace
}  // namespace vornak::test
