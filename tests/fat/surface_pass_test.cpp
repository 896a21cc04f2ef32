// The Low surface passes through the fake machine, on both Windows families.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk_access.h"
#include "fake_machine.h"
#include "fat_layout.h"
#include "fat_test_support.h"
#include "surface_pass.h"
#include "system_area.h"

namespace vornak {
namespace {

using test::FakeCall;
using test::FakeDrive;
using test::FakeMachine;
using test::Family;
using test::Le16;
using test::RecordingFormatUi;
using test::SectorRange;

constexpr std::uint32_t kMiB = 1u << 20;

class SurfacePassTest : public ::testing::TestWithParam<Family> {
 protected:
  // A drive of `systemSectors + dataSectors` sectors and the image of `size`'s layout.
  void Prepare(std::uint32_t layoutSize, std::uint32_t dataSectors, Family family) {
    ASSERT_TRUE(ChooseLayout(layoutSize, layout));
    A = SystemAreaSectors(layout);
    B = dataSectors;
    machine = std::make_unique<FakeMachine>(family);
    FakeDrive d;
    d.letter = 'E';
    d.sizeBytes = static_cast<std::uint64_t>(A + B) * 512;
    machine->AddDrive(d);
    disk = std::make_unique<DiskAccess>(*machine, diskUi,
                                        family == Family::Windows98 ? "Windows98" : "Windows2K",
                                        texts.MsgLockFail);
    image.assign(SystemAreaBytes(layout), 0);
    bool quick = false;
    std::string label;
    std::uint32_t oldBad = 0;
    ASSERT_TRUE(BuildSystemArea(image.data(), static_cast<std::uint32_t>(image.size()), layout,
                                {quick, label, oldBad}, nullptr, ui, texts));
    pristine = image;
  }
  void Prepare(std::uint32_t layoutSize, std::uint32_t dataSectors) {
    Prepare(layoutSize, dataSectors, GetParam());
  }

  bool Pass(PassMode mode) {
    return SurfacePass(*disk, ui, texts, layout, "E:", A, B, image.data(), mode, {bad, badBytes});
  }

  // (first sector, count) of every chunk transferred, in order, for either family.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Chunks(bool write) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> chunks;
    if (machine->family() == Family::Windows98) {
      for (const FakeCall& c : machine->DosCalls(0x7305)) {
        if ((c.regsIn.reg_ESI == 0x6001) == write)
          chunks.emplace_back(c.packetFirst, c.packetCount);
      }
      return chunks;
    }
    std::uint32_t position = 0;
    for (const FakeCall& c : machine->Log()) {
      if (c.kind == FakeCall::SetFilePointer) position = static_cast<std::uint32_t>(c.distance);
      if (c.kind == (write ? FakeCall::WriteFile : FakeCall::ReadFile))
        chunks.emplace_back(position / 512, c.size / 512);
    }
    return chunks;
  }

  std::uint16_t Fat1Entry(std::uint32_t e) const { return Le16(image.data() + 512 + e * 2); }
  std::uint16_t Fat2Entry(std::uint32_t e) const {
    return Le16(image.data() + 512 + layout.fatSectors * 512 + e * 2);
  }
  // Makes the byte at `offset` of the data area read back wrong.
  void CorruptDataByte(std::uint64_t offset) {
    machine->Drive('E').corruptOnRead[A * 512ull + offset] = 0x10;
  }

  FatLayout layout;
  std::uint32_t A = 0, B = 0;
  std::unique_ptr<FakeMachine> machine;
  test::FakeDiskUi diskUi;
  std::unique_ptr<DiskAccess> disk;
  RecordingFormatUi ui;
  FatTexts texts;
  std::vector<std::uint8_t> image, pristine;
  BadClusterList bad{99};
  std::uint32_t badBytes = 12345;
};

using Chunk = std::pair<std::uint32_t, std::uint32_t>;
const std::vector<Chunk> kChunks153And100 = {{0, 32},   {32, 32},  {64, 32},  {96, 32}, {128, 25},
                                             {153, 32}, {185, 32}, {217, 32}, {249, 4}};

TEST_P(SurfacePassTest, WritePassChunksProgressAndPumping) {
  Prepare(30 * kMiB, 100);  // A = 153 (F = 60), B = 100
  ASSERT_EQ(A, 153u);
  ASSERT_TRUE(Pass(PassMode::Write));
  EXPECT_EQ(Chunks(true), kChunks153And100);
  EXPECT_TRUE(Chunks(false).empty());
  // The whole disk, up to sector A + 99, now holds 0xFF.
  const auto bytes = machine->Peek('E', 0, (A + B) * 512);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.size(), 0xFF), bytes);

  const std::vector<std::string> expected = {
      "Write system area: 0(0%)",   "Write system area: 32(12%)",  "Write system area: 64(25%)",
      "Write system area: 96(37%)", "Write system area: 128(50%)", "Write data area: 153(60%)",
      "Write data area: 185(73%)",  "Write data area: 217(85%)",   "Write data area: 249(98%)",
      "Write data area: End"};
  EXPECT_EQ(ui.statuses, expected);
  // The numbers behind the lines: the data area's first chunk, and the end.
  ASSERT_EQ(ui.progress.size(), 10u);
  EXPECT_TRUE(ui.progress[5].write && ui.progress[5].dataArea && !ui.progress[5].end);
  EXPECT_EQ(ui.progress[5].sector, 153u);
  EXPECT_EQ(ui.progress[5].percent, 60u);
  EXPECT_FALSE(ui.progress[4].dataArea);
  EXPECT_TRUE(ui.progress[9].end && ui.progress[9].dataArea);
  EXPECT_EQ(ui.progress[9].percent, 100u);
  // One message per data chunk, none in the system area: the first pump comes
  // after the five system-area lines, each later one after one more line.
  EXPECT_EQ(ui.statusesAtPump, (std::vector<std::size_t>{5, 6, 7, 8}));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(bad.empty());
  EXPECT_EQ(badBytes, 0u);
  EXPECT_EQ(image, pristine);
  EXPECT_EQ(machine->OpenHandleCount(), 0);
}

TEST_P(SurfacePassTest, CleanVerifyLeavesNoBadClusters) {
  Prepare(30 * kMiB, 100);
  ASSERT_TRUE(Pass(PassMode::Write));
  machine->ClearLog();
  ui.statuses.clear();
  bad = {7};
  ASSERT_TRUE(Pass(PassMode::Verify));
  EXPECT_EQ(Chunks(false), kChunks153And100);
  EXPECT_TRUE(Chunks(true).empty());
  EXPECT_EQ(ui.statuses.front(), "Read system area: 0(0%)");
  EXPECT_EQ(ui.statuses[5], "Read data area: 153(60%)");
  EXPECT_EQ(ui.statuses.back(), "Read data area: End");
  EXPECT_TRUE(bad.empty());
  EXPECT_EQ(badBytes, 0u);
  EXPECT_EQ(image, pristine);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(machine->OpenHandleCount(), 0);
}

TEST_P(SurfacePassTest, UnreadableByteMarksItsClusterInBothFats) {
  struct Case {
    std::uint32_t layoutSize, entry, clusterBytes;
  } cases[] = {{30 * kMiB, 7, 2048}, {512127u * 512, 4, 4096}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layoutSize);
    Prepare(c.layoutSize, 200);
    ASSERT_TRUE(Pass(PassMode::Write));
    CorruptDataByte(5 * 2048);
    ASSERT_TRUE(Pass(PassMode::Verify));
    EXPECT_EQ(bad, BadClusterList{c.entry - 2});
    EXPECT_EQ(badBytes, c.clusterBytes);
    EXPECT_EQ(Fat1Entry(c.entry), 0xFFF7);
    EXPECT_EQ(Fat2Entry(c.entry), 0xFFF7);
    // Nothing else changed.
    image[512 + c.entry * 2] = image[512 + layout.fatSectors * 512 + c.entry * 2] = 0;
    image[513 + c.entry * 2] = image[513 + layout.fatSectors * 512 + c.entry * 2] = 0;
    EXPECT_EQ(image, pristine);
    EXPECT_TRUE(ui.boxes.empty());
  }
}

TEST_P(SurfacePassTest, EachBadClusterIsListedOnce) {
  Prepare(30 * kMiB, 100);
  ASSERT_TRUE(Pass(PassMode::Write));
  CorruptDataByte(0);             // cluster 0
  CorruptDataByte(2047);          // cluster 0 again
  CorruptDataByte(2048);          // cluster 1
  CorruptDataByte(3 * 2048 + 9);  // cluster 3
  CorruptDataByte(99 * 512);      // the last sector: cluster 24
  ASSERT_TRUE(Pass(PassMode::Verify));
  EXPECT_EQ(bad, (BadClusterList{0, 1, 3, 24}));
  EXPECT_EQ(badBytes, 4u * 2048);
  for (std::uint32_t e : {2u, 3u, 5u, 26u}) EXPECT_EQ(Fat1Entry(e), 0xFFF7) << e;
  EXPECT_EQ(Fat1Entry(4), 0);
}

TEST_P(SurfacePassTest, SpotsBeyondTheFatMarkNothing) {
  // A disk larger than the file system: the 30 MiB layout's FAT has 15360
  // entries, so data-area clusters from 15358 on have none.
  Prepare(30 * kMiB, 15358 * 4 + 64);
  machine->SetLogging(false);
  ASSERT_TRUE(Pass(PassMode::Write));
  CorruptDataByte(15357ull * 2048);  // the last cluster with an entry
  CorruptDataByte(15358ull * 2048);  // no entry
  CorruptDataByte(15359ull * 2048 + 100);
  ASSERT_TRUE(Pass(PassMode::Verify));
  EXPECT_EQ(bad, (BadClusterList{15357, 15358, 15359}));
  EXPECT_EQ(badBytes, 2048u);
  EXPECT_EQ(Fat1Entry(15359), 0xFFF7);
  EXPECT_EQ(Fat2Entry(15359), 0xFFF7);
  // The FATs end where they should: FAT 2 and the root directory untouched.
  std::vector<std::uint8_t> expected = pristine;
  expected[512 + 15359 * 2] = expected[512 + 60 * 512 + 15359 * 2] = 0xF7;
  expected[513 + 15359 * 2] = expected[513 + 60 * 512 + 15359 * 2] = 0xFF;
  EXPECT_EQ(image, expected);
}

TEST_P(SurfacePassTest, SystemAreaThatDoesNotReadBackFails) {
  Prepare(30 * kMiB, 100);
  ASSERT_TRUE(Pass(PassMode::Write));
  machine->Drive('E').corruptOnRead[100 * 512 + 7] = 0x01;
  machine->ClearLog();
  EXPECT_FALSE(Pass(PassMode::Verify));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "System area error!");
  EXPECT_EQ(ui.boxes[0].caption, "Sorry!");
  EXPECT_EQ(ui.boxes[0].type, 0x10u);
  EXPECT_EQ(Chunks(false).size(), 4u);  // stops at the chunk holding sector 100
  EXPECT_EQ(ui.pumps, 4);               // only those of the write pass
  EXPECT_EQ(machine->OpenHandleCount(), 0);
}

TEST_P(SurfacePassTest, StopTakesEffectAtTheFirstDataChunk) {
  // Stop confirmed while the system area was written: the running flag is
  // already clear when the data area begins.
  Prepare(30 * kMiB, 100);
  ui.running = false;
  EXPECT_FALSE(Pass(PassMode::Write));
  EXPECT_EQ(Chunks(true),
            std::vector<Chunk>(kChunks153And100.begin(), kChunks153And100.begin() + 5));
  EXPECT_EQ(ui.pumps, 1);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(ui.statuses.back(), "Write system area: 128(50%)");
  EXPECT_EQ(machine->OpenHandleCount(), 0);
  if (GetParam() == Family::Windows98) {
    EXPECT_EQ(machine->LockCount('E'), 0);
  }
}

TEST_P(SurfacePassTest, StopDuringTheDataArea) {
  Prepare(30 * kMiB, 100);
  ui.stopAtPump = 2;  // the user confirms Stop while the third message is dispatched
  EXPECT_FALSE(Pass(PassMode::Write));
  EXPECT_EQ(Chunks(true).size(), 7u);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(machine->OpenHandleCount(), 0);
}

TEST_P(SurfacePassTest, TransferFailuresEndThePass) {
  Prepare(30 * kMiB, 100);
  machine->Drive('E').failingWrites.push_back(SectorRange{200, 1});
  EXPECT_FALSE(Pass(PassMode::Write));
  EXPECT_EQ(Chunks(true).size(), 7u);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(diskUi.boxes.empty());
  EXPECT_EQ(machine->OpenHandleCount(), 0);
  if (GetParam() == Family::Windows98) {
    EXPECT_EQ(machine->LockCount('E'), 0);
  }

  machine->Drive('E').failingWrites.clear();
  ASSERT_TRUE(Pass(PassMode::Write));
  machine->Drive('E').failingReads.push_back(SectorRange{10, 1});
  EXPECT_FALSE(Pass(PassMode::Verify));
  EXPECT_TRUE(ui.boxes.empty());  // an I/O failure is not a system-area mismatch
  machine->Drive('E').failingReads.clear();
  machine->Drive('E').shortReads.push_back(SectorRange{250, 1});
  EXPECT_FALSE(Pass(PassMode::Verify));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(machine->OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, SurfacePassTest,
                         ::testing::Values(Family::WindowsNT, Family::Windows98),
                         [](const ::testing::TestParamInfo<Family>& info) {
                           return info.param == Family::Windows98 ? "Windows98" : "WindowsNT";
                         });

// --- What differs between the families ---------------------------------------

class SurfacePassFamilyTest : public SurfacePassTest {};

TEST_F(SurfacePassFamilyTest, NtFlushesAfterEveryWriteOnOneVolumeHandle) {
  Prepare(30 * kMiB, 100, Family::WindowsNT);
  ASSERT_TRUE(Pass(PassMode::Write));
  const auto opens = machine->Calls(FakeCall::CreateFile);
  ASSERT_EQ(opens.size(), 2u);  // the VWIN32 probe, then the volume
  EXPECT_FALSE(opens[0].result);
  EXPECT_EQ(opens[1].name, "\\\\.\\E:");
  EXPECT_EQ(opens[1].access, win::GENERIC_READ | win::GENERIC_WRITE);
  EXPECT_EQ(opens[1].share, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
  EXPECT_EQ(opens[1].disposition, win::OPEN_EXISTING);
  std::vector<FakeCall::Kind> transfers;
  for (const FakeCall& c : machine->Log()) {
    if (c.kind == FakeCall::WriteFile || c.kind == FakeCall::FlushFileBuffers) {
      EXPECT_EQ(c.handle, opens[1].handle);
      transfers.push_back(c.kind);
    }
  }
  std::vector<FakeCall::Kind> expected;
  for (int i = 0; i < 9; ++i) {
    expected.push_back(FakeCall::WriteFile);
    expected.push_back(FakeCall::FlushFileBuffers);
  }
  EXPECT_EQ(transfers, expected);
  EXPECT_EQ(machine->Calls(FakeCall::CloseHandle).size(), 1u);

  machine->ClearLog();
  ASSERT_TRUE(Pass(PassMode::Verify));
  EXPECT_TRUE(machine->Calls(FakeCall::FlushFileBuffers).empty());
}

TEST_F(SurfacePassFamilyTest, NtVolumeThatDoesNotOpen) {
  Prepare(30 * kMiB, 100, Family::WindowsNT);
  machine->Drive('E').openRefused = true;
  EXPECT_FALSE(Pass(PassMode::Write));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(ui.statuses.empty());
}

TEST_F(SurfacePassFamilyTest, Windows98LocksOnceAroundThePass) {
  Prepare(30 * kMiB, 100, Family::Windows98);
  ASSERT_TRUE(Pass(PassMode::Write));
  const auto& log = machine->Log();
  std::vector<std::string> order;
  DiskHandle passHandle = kInvalidHandle;
  for (const FakeCall& c : log) {
    if (!c.hasRegs) continue;
    if (c.regsIn.reg_EAX == 0x440D && c.regsIn.reg_ECX == 0x484A) order.push_back("lock");
    if (c.regsIn.reg_EAX == 0x440D && c.regsIn.reg_ECX == 0x486A) order.push_back("unlock");
    if (c.regsIn.reg_EAX == 0x7305) {
      if (order.empty() || order.back() != "transfer") order.push_back("transfer");
      if (passHandle == kInvalidHandle) passHandle = c.handle;
      EXPECT_EQ(c.handle, passHandle);  // every chunk on the one VWIN32 handle
      EXPECT_EQ(c.code, win::VWIN32_DIOC_DOS_DRIVEINFO);
      EXPECT_EQ(c.regsIn.reg_EDX, 5u);
      EXPECT_EQ(c.regsIn.reg_ECX, 0xFFFFFFFFu);
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"lock", "transfer", "unlock"}));
  EXPECT_EQ(machine->LockCount('E'), 0);
  EXPECT_EQ(machine->OpenHandleCount(), 0);
  for (const FakeCall& c : machine->DosCalls(0x7305)) EXPECT_EQ(c.regsIn.reg_ESI, 0x6001u);

  machine->ClearLog();
  ASSERT_TRUE(Pass(PassMode::Verify));
  for (const FakeCall& c : machine->DosCalls(0x7305)) EXPECT_EQ(c.regsIn.reg_ESI, 0u);
  EXPECT_EQ(machine->DosCalls(0x440D, 0x484A).size(), 1u);
}

TEST_F(SurfacePassFamilyTest, Windows98LockRefused) {
  Prepare(30 * kMiB, 100, Family::Windows98);
  machine->Drive('E').lockRefused = true;
  texts.MsgLockFail = "Lock volume error!";
  EXPECT_FALSE(Pass(PassMode::Write));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Lock volume error!");
  EXPECT_EQ(ui.boxes[0].caption, "Sorry!");
  EXPECT_EQ(ui.boxes[0].type, 0x10u);
  EXPECT_TRUE(machine->DosCalls(0x7305).empty());
  EXPECT_TRUE(ui.statuses.empty());
  EXPECT_EQ(machine->OpenHandleCount(), 0);
}

TEST_F(SurfacePassFamilyTest, StartOfALargeDisk) {
  // 1 GiB: A = 545, so the system area ends with a one-sector chunk at 544,
  // and the first data chunk starts at 545 with (545 * 100) / 2097152 = 0%.
  Prepare(1024 * kMiB, 0, Family::WindowsNT);
  ASSERT_EQ(A, 545u);
  B = 2097152 - A;
  machine->Drive('E').sizeBytes = 2097152ull * 512;
  ui.stopAtPump = 1;
  EXPECT_FALSE(Pass(PassMode::Write));
  ASSERT_EQ(ui.statuses.size(), 19u);
  EXPECT_EQ(ui.statuses[16], "Write system area: 512(0%)");
  EXPECT_EQ(ui.statuses[17], "Write system area: 544(0%)");
  EXPECT_EQ(ui.statuses[18], "Write data area: 545(0%)");
  EXPECT_EQ(Chunks(true).back(), (Chunk{545, 32}));
  EXPECT_EQ(Chunks(true)[17], (Chunk{544, 1}));
}

}  // namespace
}  // namespace vornak
