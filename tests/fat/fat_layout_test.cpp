// Layout choice, the header records and the system-area image.
#include <gtest/gtest.h>

#include <functional>

#include <cstring>
#include <vector>

#include "fat_layout.h"
#include "fat_test_support.h"
#include "system_area.h"

namespace vornak {
namespace {

using test::Le16;
using test::Le32;
using test::RecordingFormatUi;

constexpr std::uint32_t kMiB = 1u << 20;

// The expected values of every fixed record, reached through the size that
// selects it.
struct Expected {
  std::uint32_t size;
  LayoutKind kind;
  int index;
  std::uint8_t jump1;
  const char* oem;  // hex
  std::uint32_t spc, total16, total32, fat, spt, heads, hidden, serial;
};

const Expected kFixed[] = {
    {30 * kMiB, LayoutKind::SuperfloppyEven, 0, 0x3E, "2A795A6863494843", 4, 61440, 0, 60, 32, 64,
     0, 0x1206124C},
    {31 * kMiB, LayoutKind::SuperfloppyOdd, 0, 0x3E, "2A67347538494843", 4, 63488, 0, 62, 32, 64, 0,
     0x15F02014},
    {62 * kMiB, LayoutKind::SuperfloppyEven, 1, 0x3E, "2A6A22692B494843", 4, 0, 126976, 124, 32, 64,
     0, 0x17ED1611},
    {63 * kMiB, LayoutKind::SuperfloppyOdd, 1, 0x3E, "2A6A22692B494843", 4, 0, 129024, 126, 32, 64,
     0, 0x17ED1611},
    {94 * kMiB, LayoutKind::SuperfloppyEven, 2, 0x3E, "2A692E5E33494843", 4, 0, 192512, 188, 32, 64,
     0, 0x17F43719},
    {95 * kMiB, LayoutKind::SuperfloppyOdd, 2, 0x3E, "2A692E5E33494843", 4, 0, 194560, 190, 32, 64,
     0, 0x17F43719},
    {126 * kMiB, LayoutKind::SuperfloppyEven, 3, 0x3E, "2A686F3C55494843", 4, 0, 258048, 252, 32,
     64, 0, 0x17F91561},
    {127 * kMiB, LayoutKind::SuperfloppyOdd, 3, 0x3E, "2A686F3C55494843", 4, 0, 260096, 254, 32, 64,
     0, 0x17F91561},
    {60669 * 512, LayoutKind::PartitionedA, 0, 0x3C, "4D5357494E342E31", 4, 60669, 0, 60, 63, 32,
     63, 0x110E3D24},
    {125181 * 512, LayoutKind::PartitionedA, 1, 0x3C, "2B25415551494843", 4, 0, 125181, 122, 63, 32,
     63, 0x18F82362},
    {254205 * 512, LayoutKind::PartitionedA, 2, 0x3C, "2B26376948494843", 4, 0, 254205, 248, 63, 32,
     63, 0x18FD1624},
    {512127u * 512, LayoutKind::PartitionedA, 3, 0x3C, "2B26225C4C494843", 8, 0, 512127, 250, 63,
     32, 63, 0x19002D67},
    {249921 * 512, LayoutKind::PartitionedB, 2, 0x3C, "2B246D6946494843", 4, 0, 249921, 244, 63, 32,
     63, 0x12D53058},
    {507717u * 512, LayoutKind::PartitionedB, 3, 0x3C, "2B246D6946494843", 8, 0, 507717, 248, 63,
     32, 63, 0x12D53058},
};

std::string Hex(const std::uint8_t* p, int n) {
  std::string s;
  char b[3];
  for (int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X", p[i]);
    s += b;
  }
  return s;
}

// The fields every record shares.
void ExpectCommonFields(const std::uint8_t* r) {
  EXPECT_EQ(r[0], 0xEB);
  EXPECT_EQ(r[2], 0x90);
  EXPECT_EQ(Le16(r + 0x0B), 512u);
  EXPECT_EQ(Le16(r + 0x0E), 1u);
  EXPECT_EQ(r[0x10], 2);
  EXPECT_EQ(Le16(r + 0x11), 512u);
  EXPECT_EQ(r[0x15], 0xF8);
  EXPECT_EQ(r[0x24], 0x80);
  EXPECT_EQ(r[0x25], 0);
  EXPECT_EQ(r[0x26], 0x29);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 0x2B), 5), "NO NA");
}

TEST(ChooseLayout, EveryFixedRecordIsSelectedWithItsTableValues) {
  for (const Expected& e : kFixed) {
    SCOPED_TRACE(e.size);
    FatLayout layout;
    EXPECT_TRUE(ChooseLayout(e.size, layout));
    EXPECT_EQ(layout.kind, e.kind);
    EXPECT_EQ(layout.index, e.index);
    EXPECT_EQ(layout.fatSectors, e.fat);
    const std::uint8_t* r = layout.record.data();
    ExpectCommonFields(r);
    EXPECT_EQ(r[1], e.jump1);
    EXPECT_EQ(Hex(r + 3, 8), e.oem);
    EXPECT_EQ(r[0x0D], e.spc);
    EXPECT_EQ(Le16(r + 0x13), e.total16);
    EXPECT_EQ(Le16(r + 0x16), e.fat);
    EXPECT_EQ(Le16(r + 0x18), e.spt);
    EXPECT_EQ(Le16(r + 0x1A), e.heads);
    EXPECT_EQ(Le32(r + 0x1C), e.hidden);
    EXPECT_EQ(Le32(r + 0x20), e.total32);
    EXPECT_EQ(Le32(r + 0x27), e.serial);
  }
}

TEST(ChooseLayout, ThirtyMiBRecordIsByteExact) {
  FatLayout layout;
  ChooseLayout(30 * kMiB, layout);
  EXPECT_EQ(Hex(layout.record.data(), 48),
            "EB3E90"            // jump
            "2A795A6863494843"  // OEM name
            "0002"
            "04"
            "0100"
            "02"
            "0002"
            "00F0"
            "F8"
            "3C00"
            "2000"
            "4000"
            "00000000"
            "00000000"
            "80"
            "00"
            "29"
            "4C120612"
            "4E4F204E41");
}

TEST(ChooseLayout, MiBRuleRoundsDown) {
  FatLayout layout;
  ChooseLayout(31 * kMiB + kMiB / 2, layout);
  EXPECT_EQ(layout.kind, LayoutKind::SuperfloppyOdd);
  EXPECT_EQ(Le16(layout.record.data() + 0x13), 63488u);
  // 60669 sectors is 29.6 MiB: no MiB record, the sector rule takes it.
  ChooseLayout(60669 * 512, layout);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(layout.record.data() + 3), 8), "MSWIN4.1");
  // One sector more is neither: computed.
  ChooseLayout(60670 * 512, layout);
  EXPECT_EQ(layout.kind, LayoutKind::Computed);
}

TEST(ChooseLayout, ComputedLayouts) {
  struct Case {
    std::uint32_t size, spc, fat, total16, total32;
  } cases[] = {
      {20 * kMiB, 4, 40, 40960, 0},          {128 * kMiB, 4, 256, 0, 262144},
      {128 * kMiB + 512, 8, 129, 0, 262145}, {200 * kMiB, 8, 200, 0, 409600},
      {512 * kMiB, 16, 256, 0, 1048576},     {1024 * kMiB, 32, 256, 0, 2097152},
      {29 * kMiB, 4, 58, 59392, 0},          {32 * kMiB, 4, 64, 0, 65536},
  };
  FatLayout layout;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    ChooseLayout(c.size, layout);
    ASSERT_EQ(layout.kind, LayoutKind::Computed);
    EXPECT_EQ(layout.index, 0);
    const std::uint8_t* r = layout.record.data();
    ExpectCommonFields(r);
    EXPECT_EQ(r[1], 0x3C);
    EXPECT_EQ(Hex(r + 3, 8), "2B246D6946494843");
    EXPECT_EQ(r[0x0D], c.spc);
    EXPECT_EQ(Le16(r + 0x16), c.fat);
    EXPECT_EQ(Le16(r + 0x13), c.total16);
    EXPECT_EQ(Le32(r + 0x20), c.total32);
    EXPECT_EQ(Le16(r + 0x18), 63u);
    EXPECT_EQ(Le16(r + 0x1A), 32u);
    EXPECT_EQ(Le32(r + 0x1C), 63u);
    EXPECT_EQ(Le32(r + 0x27), 0x12D53058u);
    EXPECT_EQ(layout.fatSectors, c.fat);
    EXPECT_EQ(layout.sectorsPerCluster, c.spc);
    EXPECT_EQ(layout.totalSectors, c.size >> 9);
    EXPECT_EQ(ClusterBytes(layout), c.spc * 512);
  }
}

TEST(ChooseLayout, ALargeDiskAfterASmallOneLeavesNoStale16BitTotal) {
  FatLayout layout;
  ChooseLayout(20 * kMiB, layout);
  ChooseLayout(200 * kMiB, layout);
  EXPECT_EQ(Le16(layout.record.data() + 0x13), 0u);
  EXPECT_EQ(Le32(layout.record.data() + 0x20), 409600u);
  // And back: the 32-bit total is cleared again.
  ChooseLayout(20 * kMiB, layout);
  EXPECT_EQ(Le32(layout.record.data() + 0x20), 0u);
  // The table itself is not changed by the computed layouts.
  EXPECT_EQ(HeaderRecords()[14][0x0D], 0);
}

TEST(ChooseLayout, UnsupportedSizes) {
  FatLayout layout;
  ChooseLayout(30 * kMiB, layout);
  const std::uint32_t sizes[] = {0, 1024 * kMiB + 1, 0xFFFFFFFFu, 8 * kMiB, 1 * kMiB, 16406 * 512};
  for (std::uint32_t size : sizes) {
    SCOPED_TRACE(size);
    ChooseLayout(30 * kMiB, layout);
    EXPECT_TRUE(ChooseLayout(size, layout));
    EXPECT_EQ(layout.kind, LayoutKind::Unsupported);
    EXPECT_EQ(layout.fatSectors, 0u);
    EXPECT_FALSE(IsBootableAllowed(layout));
  }
}

TEST(ChooseLayout, SmallestComputedLayoutHasFat16ClusterCount) {
  // 16407 sectors: F = 17, system area 67 sectors, (16407 - 67) / 4 = 4085.
  FatLayout layout;
  ChooseLayout(16407 * 512, layout);
  ASSERT_EQ(layout.kind, LayoutKind::Computed);
  EXPECT_EQ(layout.fatSectors, 17u);
  EXPECT_EQ((16407 - SystemAreaSectors(layout)) / SectorsPerCluster(layout), 4085u);
}

TEST(ChooseLayout, DerivedValues) {
  FatLayout layout;
  ChooseLayout(30 * kMiB, layout);
  EXPECT_EQ(SystemAreaSectors(layout), 153u);
  EXPECT_EQ(SystemAreaBytes(layout), 153u * 512);
  EXPECT_EQ(ClusterBytes(layout), 2048u);
  EXPECT_FALSE(IsBootableAllowed(layout));

  ChooseLayout(512127u * 512, layout);
  EXPECT_EQ(ClusterBytes(layout), 4096u);
  EXPECT_EQ(SectorsPerCluster(layout), 8u);
  EXPECT_TRUE(IsBootableAllowed(layout));
  ChooseLayout(507717u * 512, layout);
  EXPECT_EQ(ClusterBytes(layout), 4096u);
  ChooseLayout(249921u * 512, layout);
  EXPECT_EQ(ClusterBytes(layout), 2048u);
  EXPECT_TRUE(IsBootableAllowed(layout));
  ChooseLayout(300 * kMiB, layout);
  EXPECT_EQ(ClusterBytes(layout), 8192u);
  EXPECT_TRUE(IsBootableAllowed(layout));
}

// --- Volume labels ----------------------------------------------------------

TEST(IsValidVolumeLabel, AcceptsAndRejects) {
  EXPECT_TRUE(IsValidVolumeLabel(""));
  EXPECT_TRUE(IsValidVolumeLabel("PLAYER"));
  EXPECT_TRUE(IsValidVolumeLabel("abcDEF12345"));
  EXPECT_TRUE(IsValidVolumeLabel("A-B_C!#$%&("));
  EXPECT_FALSE(IsValidVolumeLabel("ABCDEFGHIJKL"));
  for (char c : std::string(" \"*+,./:;<=>?[\\]|")) {
    SCOPED_TRACE(c);
    EXPECT_FALSE(IsValidVolumeLabel(std::string("AB") + c));
  }
  EXPECT_FALSE(IsValidVolumeLabel("A\tB"));
  EXPECT_FALSE(IsValidVolumeLabel(std::string("A\x7F", 2)));
}

// Double-byte characters exist only where the system code page has them (the
// lead-byte test of the platform): on a single-byte code page "\xC9\\" is an
// accented letter followed by a backslash, and the backslash is refused.
TEST(IsValidVolumeLabel, DoubleBytePairsOnlyOnADoubleByteCodePage) {
  const LeadByteTest chinese = [](unsigned char b) { return b >= 0x81 && b <= 0xFE; };
  // GBK "\xD2\xF4\xC0\xD6" and a Big5 character whose second byte is a backslash.
  EXPECT_TRUE(IsValidVolumeLabel("\xD2\xF4\xC0\xD6", chinese));
  EXPECT_TRUE(IsValidVolumeLabel("\xA5\\", chinese));
  EXPECT_TRUE(IsValidVolumeLabel("\xC4[", chinese));
  // Western code page: no lead bytes.
  EXPECT_TRUE(IsValidVolumeLabel("\xC9T\xC9"));
  EXPECT_FALSE(IsValidVolumeLabel("\xC9\\"));
  EXPECT_FALSE(IsValidVolumeLabel("\xC4["));
  const LeadByteTest none = [](unsigned char) { return false; };
  EXPECT_FALSE(IsValidVolumeLabel("\xA5\\", none));
  // A lead byte without its second byte would be padded into a broken
  // character: at the end, or before a byte that cannot follow it.
  EXPECT_FALSE(IsValidVolumeLabel("AB\xB4", chinese));
  EXPECT_FALSE(IsValidVolumeLabel("\xB4\x31Z", chinese));
  EXPECT_TRUE(IsValidVolumeLabel("AB\xB4", none));
}

// --- System-area image ------------------------------------------------------

// Sector 0 of an old FAT16 volume: 512-byte sectors, one reserved sector, two
// FATs, and the geometry of the 30 MiB layout (4-sector clusters, 512 root
// entries, 60-sector FATs).
bool OldFat16BootSector(void* buffer) {
  auto* b = static_cast<std::uint8_t*>(buffer);
  std::memset(b, 0, 512);
  b[0x0B] = 0x00;
  b[0x0C] = 0x02;
  b[0x0D] = 4;
  b[0x0E] = 1;
  b[0x10] = 2;
  b[0x12] = 0x02;  // 512 root entries
  b[0x16] = 60;
  std::memcpy(b + 0x36, "FAT16   ", 8);
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
  return true;
}

class SystemAreaTest : public ::testing::Test {
 protected:
  void Choose(std::uint32_t size) {
    ASSERT_TRUE(ChooseLayout(size, layout));
    image.assign(SystemAreaBytes(layout) + 4 * 512, 0xAA);
  }
  bool Build(SectorReader reader = nullptr) {
    return BuildSystemArea(image.data(), static_cast<std::uint32_t>(image.size()), layout,
                           {quick, label, badBytes, isLeadByte}, reader, ui, texts);
  }
  std::uint8_t* Fat1() { return image.data() + 512; }
  std::uint8_t* Fat2() { return Fat1() + layout.fatSectors * 512; }
  std::uint8_t* Root() { return Fat2() + layout.fatSectors * 512; }

  FatLayout layout;
  std::vector<std::uint8_t> image;
  bool quick = false;
  std::string label;
  std::uint32_t badBytes = 0;
  LeadByteTest isLeadByte;
  RecordingFormatUi ui;
  FatTexts texts;
};

TEST_F(SystemAreaTest, BootSectorIsRecordOverTemplate) {
  Choose(200 * kMiB);
  ASSERT_TRUE(Build());
  const std::uint8_t* b = image.data();
  EXPECT_EQ(0, std::memcmp(b, layout.record.data(), 48));
  EXPECT_EQ(0, std::memcmp(b + 0x30, BootSectorTemplate() + 0x30, 512 - 0x30));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 0x2B), 11), "NO NAME    ");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 0x36), 8), "FAT16   ");
  EXPECT_EQ(b[0x1FE], 0x55);
  EXPECT_EQ(b[0x1FF], 0xAA);
  // The program at 0x3E is a two-byte short jump to 0x40, so both jumps of
  // the records (EB 3C and EB 3E) enter it at its start.
  EXPECT_EQ(b[0x3E], 0xEB);
  EXPECT_EQ(0x40 + static_cast<std::int8_t>(b[0x3F]), 0x40);
}

TEST_F(SystemAreaTest, BootProgramCarriesNamesAndMessages) {
  const std::string t(reinterpret_cast<const char*>(BootSectorTemplate()), 512);
  for (const char* s : {"IO      SYS", "MSDOS   SYS", "\r\nInvalid system disk",
                        "\r\nDisk I/O error", "\r\nReplace the disk, and then press any key"}) {
    EXPECT_NE(t.find(s, 0x3E), std::string::npos) << s;
  }
}

TEST_F(SystemAreaTest, FatsRootAndSpareSectors) {
  Choose(30 * kMiB);
  ASSERT_TRUE(Build());
  const std::uint32_t fatBytes = layout.fatSectors * 512;
  EXPECT_EQ(Hex(Fat1(), 4), "F8FFFFFF");
  for (std::uint32_t i = 4; i < fatBytes; ++i) ASSERT_EQ(Fat1()[i], 0) << i;
  EXPECT_EQ(0, std::memcmp(Fat1(), Fat2(), fatBytes));
  for (std::uint32_t i = 0; i < kRootDirBytes; ++i) ASSERT_EQ(Root()[i], 0) << i;
  // The buffer beyond the system area holds free clusters: zero, not stale.
  for (std::size_t i = SystemAreaBytes(layout); i < image.size(); ++i) ASSERT_EQ(image[i], 0);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(badBytes, 0u);
}

TEST_F(SystemAreaTest, RefusesUnsupportedLayoutAndShortBuffer) {
  Choose(30 * kMiB);
  image.resize(SystemAreaBytes(layout) - 1);
  EXPECT_FALSE(Build());
  ChooseLayout(0, layout);
  image.assign(1 << 16, 0);
  EXPECT_FALSE(Build());
}

TEST_F(SystemAreaTest, QuickKeepsOnlyOldBadEntries) {
  Choose(30 * kMiB);
  quick = true;
  badBytes = 100;  // added to, not reset
  std::uint32_t readFirst = 0, readCount = 0;
  auto reader = [&](void* buffer, std::uint32_t first, std::uint32_t count) {
    if (first == 0 && count == 1) return OldFat16BootSector(buffer);
    readFirst = first;
    readCount = count;
    auto* p = static_cast<std::uint8_t*>(buffer);
    std::memset(p, 0, count * 512);
    auto put = [&](std::uint32_t entry, std::uint16_t v) {
      p[entry * 2] = static_cast<std::uint8_t>(v);
      p[entry * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put(0, 0xFFF7);  // entries 0 and 1 are never taken over
    put(1, 0xFFF7);
    put(2, 0xFFF7);
    put(3, 0x0004);
    put(4, 0xFFFF);
    put(5, 0xF7FF);  // byte-swapped: not bad
    put(100, 0xFFF7);
    put(count * 256 - 1, 0xFFF7);  // the last entry of the FAT
    return true;
  };
  ASSERT_TRUE(Build(reader));
  EXPECT_EQ(readFirst, 1u);
  EXPECT_EQ(readCount, 60u);
  EXPECT_TRUE(quick);
  EXPECT_EQ(Hex(Fat1(), 12), "F8FFFFFFF7FF000000000000");
  EXPECT_EQ(Le16(Fat1() + 200), 0xFFF7u);
  EXPECT_EQ(Le16(Fat1() + 60 * 512 - 2), 0xFFF7u);
  EXPECT_EQ(0, std::memcmp(Fat1(), Fat2(), 60 * 512));
  EXPECT_EQ(badBytes, 100u + 3 * 2048);
}

// Quick mode takes bad marks only from an old FAT16 volume of the new
// layout's geometry: in any other FAT (FAT12 packs entries in 12 bits, FAT32
// in 32) an F7 FF pair means nothing, and in a FAT16 of another FAT size or
// cluster size an entry names another cluster (or, past the old FAT's end,
// lies in the old second FAT).
TEST_F(SystemAreaTest, QuickKeepsNoMarksFromAVolumeThatIsNotFat16) {
  struct Case {
    const char* name;
    std::function<void(std::uint8_t*)> spoil;
  };
  const Case cases[] = {
      {"FAT12", [](std::uint8_t* b) { std::memcpy(b + 0x36, "FAT12   ", 8); }},
      {"no signature", [](std::uint8_t* b) { b[0x1FE] = 0; }},
      {"1024-byte sectors", [](std::uint8_t* b) { b[0x0C] = 4; }},
      {"two reserved sectors", [](std::uint8_t* b) { b[0x0E] = 2; }},
      {"one FAT", [](std::uint8_t* b) { b[0x10] = 1; }},
      {"124-sector FATs", [](std::uint8_t* b) { b[0x16] = 124; }},
      {"8-sector clusters", [](std::uint8_t* b) { b[0x0D] = 8; }},
      {"256 root entries", [](std::uint8_t* b) { b[0x11] = 0x00, b[0x12] = 0x01; }},
      {"sector 0 unreadable", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Choose(30 * kMiB);
    quick = true;
    badBytes = 0;
    auto reader = [&](void* buffer, std::uint32_t first, std::uint32_t count) {
      if (first == 0 && count == 1) {
        if (!c.spoil) return false;
        OldFat16BootSector(buffer);
        c.spoil(static_cast<std::uint8_t*>(buffer));
        return true;
      }
      std::memset(buffer, 0xFF, count * 512);
      static_cast<std::uint8_t*>(buffer)[4] = 0xF7;  // F7 FF at entry 2
      return true;
    };
    ASSERT_TRUE(Build(reader));
    EXPECT_EQ(Le16(Fat1() + 4), 0u);
    EXPECT_EQ(badBytes, 0u);
  }
}

TEST_F(SystemAreaTest, QuickWithUnreadableOldFatBecomesFull) {
  Choose(62 * kMiB);
  quick = true;
  ASSERT_TRUE(Build([](void* buffer, std::uint32_t, std::uint32_t count) {
    std::memset(buffer, 0xF7, count * 512);  // garbage that must not be used
    return false;
  }));
  EXPECT_FALSE(quick);
  EXPECT_EQ(Le16(Fat1() + 4), 0u);
  EXPECT_EQ(badBytes, 0u);
}

TEST_F(SystemAreaTest, FullModeDoesNotReadTheOldFat) {
  Choose(62 * kMiB);
  bool called = false;
  ASSERT_TRUE(Build([&](void*, std::uint32_t, std::uint32_t) { return called = true; }));
  EXPECT_FALSE(called);
}

TEST_F(SystemAreaTest, LabelIsUpperCasedPaddedAndEntered) {
  Choose(30 * kMiB);
  label = "music";
  ASSERT_TRUE(Build());
  EXPECT_EQ(label, "MUSIC");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data() + 0x2B), 11), "MUSIC      ");
  const std::uint8_t* e = Root();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), 11), "MUSIC      ");
  EXPECT_EQ(e[11], 0x28);
  EXPECT_EQ(Le16(e + 22), 0x7AE1u);
  EXPECT_EQ(Le16(e + 24), 0x2D73u);
  for (int i = 12; i < 32; ++i) {
    if (i < 22 || i > 25) {
      EXPECT_EQ(e[i], 0) << i;
    }
  }
  for (std::uint32_t i = 32; i < kRootDirBytes; ++i) ASSERT_EQ(e[i], 0);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SystemAreaTest, ElevenCharacterLabelIsNotPadded) {
  Choose(30 * kMiB);
  label = "abcdefghijk";
  ASSERT_TRUE(Build());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Root()), 11), "ABCDEFGHIJK");
  EXPECT_EQ(Root()[11], 0x28);
}

TEST_F(SystemAreaTest, InvalidLabelsAreReportedAndDropped) {
  for (const char* bad : {"MY DISK", "A.B", "TWELVECHARSX"}) {
    SCOPED_TRACE(bad);
    Choose(30 * kMiB);
    ui.boxes.clear();
    label = bad;
    ASSERT_TRUE(Build());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Invalid volume label!");
    EXPECT_EQ(ui.boxes[0].caption, "Ignore!");
    EXPECT_EQ(ui.boxes[0].type, 0x40u);
    EXPECT_EQ(label, "");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data() + 0x2B), 11), "NO NAME    ");
    EXPECT_EQ(Root()[0], 0);
    EXPECT_EQ(Root()[11], 0);
  }
}

TEST_F(SystemAreaTest, DoubleByteLabelKeepsItsTrailBytes) {
  Choose(30 * kMiB);
  label = "\xA5\x61z";  // a Big5 character whose second byte is 'a', then 'z'
  texts.MsgInvalidVol = "x";
  isLeadByte = [](unsigned char b) { return b >= 0x81 && b <= 0xFE; };
  ASSERT_TRUE(Build());
  EXPECT_EQ(label, "\xA5\x61Z");
  // On a single-byte code page the same bytes are two letters, both upper-cased.
  Choose(30 * kMiB);
  label = "\xA5\x61z";
  isLeadByte = nullptr;
  ASSERT_TRUE(Build());
  EXPECT_EQ(label, "\xA5\x41Z");
  // A label whose first byte is 0xE5 is stored as 0x05 in the directory.
  Choose(30 * kMiB);
  label = "\xE5\xA4";
  ASSERT_TRUE(Build());
  EXPECT_EQ(Root()[0], 0x05);
  EXPECT_EQ(image[0x2B], 0xE5);
}

}  // namespace
}  // namespace vornak
