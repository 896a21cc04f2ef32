// The Low surface passes through the fake machine, on both Windows families.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "counterfeit_image.h"
#include "disk_access.h"
#include "fake_machine.h"
#include "fat_layout.h"
#include "fat_test_support.h"
#include "surface_pass.h"
#include "system_area.h"

namespace vornak {
namespace {

using test::DiskImage;
using test::FakeCall;
using test::FakeDrive;
using test::FakeMachine;
using test::Family;
using test::Le16;
using test::MakeCounterfeitImage;
using test::MakeMemoryImage;
using test::PastCapacity;
using test::RecordingFormatUi;
using test::SectorRange;

constexpr std::uint32_t kMiB = 1u << 20;

class SurfacePassTest : public ::testing::TestWithParam<Family> {
 protected:
  // A drive of `systemSectors + dataSectors` sectors and the image of `size`'s layout.
  void Prepare(std::uint32_t layoutSize, std::uint32_t dataSectors, Family family,
               std::shared_ptr<DiskImage> store = nullptr) {
    ASSERT_TRUE(ChooseLayout(layoutSize, layout));
    A = SystemAreaSectors(layout);
    B = dataSectors;
    machine = std::make_unique<FakeMachine>(family);
    FakeDrive d;
    d.letter = 'E';
    d.image = std::move(store);
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

// --- Passes with the front end's options ----------------------------------

class SurfaceOptionsTest : public SurfacePassTest {
 protected:
  // Both passes with `options`; the bad clusters the verify pass found.
  BadClusterList BothPasses(const SurfaceOptions& options) {
    findings = SurfaceFindings();
    EXPECT_TRUE(SurfacePass(*disk, ui, texts, layout, "E:", A, B, image.data(), PassMode::Write,
                            {bad, badBytes, &findings}, options));
    EXPECT_TRUE(SurfacePass(*disk, ui, texts, layout, "E:", A, B, image.data(), PassMode::Verify,
                            {bad, badBytes, &findings}, options));
    return bad;
  }
  static SurfaceOptions Retrying(std::uint32_t chunk, bool stamped = true) {
    SurfaceOptions o;
    o.chunkSectors = chunk;
    o.retrySmaller = true;
    o.stamped = stamped;
    o.salt = 0x5EED5A17C0FFEE01ull;
    return o;
  }
  SurfaceFindings findings;
};

// Failed requests tried again in pieces find exactly the sectors that fail,
// whatever the request size: 1 MiB requests mark what 32-sector ones mark,
// and bytes that read back wrong mark what the dialog's pass marks.
TEST_F(SurfaceOptionsTest, RetriedRequestsOfAnySizeMarkTheSameClusters) {
  Prepare(30 * kMiB, 3 * 2048 + 100, Family::WindowsNT);  // 4-sector clusters
  machine->SetLogging(false);
  FakeDrive& drive = machine->Drive('E');
  CorruptDataByte(7 * 512 + 3);  // cluster 1
  CorruptDataByte(4100 * 512);   // cluster 1025
  const BadClusterList corrupted = {1, 1025};
  EXPECT_EQ(BothPasses(SurfaceOptions()), corrupted);
  EXPECT_EQ(BothPasses(Retrying(32, false)), corrupted);
  EXPECT_EQ(BothPasses(Retrying(2048)), corrupted);
  EXPECT_EQ(badBytes, 2u * 2048);

  for (const auto& r : {SectorRange{A + 5, 1}, SectorRange{A + 3048, 3}, SectorRange{A + 4095, 2}})
    drive.failingReads.push_back(r);  // the last one across a 1 MiB boundary
  for (const auto& r : {SectorRange{A + 300, 1}, SectorRange{A + 6000, 9}})
    drive.failingWrites.push_back(r);
  drive.shortReads.push_back(SectorRange{A + 5000, 1});  // a read that stops before it
  const BadClusterList expected = {1, 75, 762, 1023, 1024, 1025, 1250, 1500, 1501, 1502};
  EXPECT_EQ(BothPasses(Retrying(32)), expected);
  EXPECT_EQ(BothPasses(Retrying(2048)), expected);
  EXPECT_EQ(BothPasses(Retrying(2048, false)), expected)
      << "unwritten sectors count without stamps";
  EXPECT_EQ(findings.unreadableSectors, 7u);
  EXPECT_EQ(findings.misplacedSectors, 0u);
  EXPECT_EQ(badBytes, 10u * 2048);
  EXPECT_EQ(Fat1Entry(1502 + 2), 0xFFF7);
  EXPECT_EQ(Fat2Entry(762 + 2), 0xFFF7);
}

TEST_F(SurfaceOptionsTest, RequestsAreOfTheSizeAskedInBothAreas) {
  Prepare(30 * kMiB, 3000, Family::WindowsNT);
  BothPasses(Retrying(2048));
  const std::vector<Chunk> requests = {{0, 153}, {153, 2048}, {2201, 952}};
  EXPECT_EQ(Chunks(true), requests);
  EXPECT_EQ(Chunks(false), requests);
  EXPECT_EQ(ui.pumps, 4) << "one message per data-area request";
}

// A disk that holds less than it claims passes the dialog's 0xFF passes;
// stamped sectors show every sector past the real capacity bad, and those
// that answer with an earlier sector's data are counted.
TEST_F(SurfaceOptionsTest, StampsCatchADiskThatHoldsLessThanItClaims) {
  // 153 system sectors and 2000 data sectors, of which the disk holds 1000:
  // data sectors 1000 to 1999 (clusters 250 to 499) are not there.
  const std::uint64_t capacity = (153 + 1000) * 512ull;
  BadClusterList missing;
  for (std::uint32_t c = 250; c < 500; ++c) missing.push_back(c);
  struct Case {
    PastCapacity kind;
    std::uint32_t misplaced;
  } cases[] = {{PastCapacity::AliasReads, 1000 - 153}, {PastCapacity::DropAsOnes, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    Prepare(30 * kMiB, 2000, Family::WindowsNT,
            MakeCounterfeitImage(MakeMemoryImage(), capacity, c.kind));
    EXPECT_TRUE(BothPasses(SurfaceOptions()).empty()) << "0xFF cannot tell";
    EXPECT_EQ(BothPasses(Retrying(2048)), missing);
    // The first 153 sectors past the capacity answer with the system area's 0xFF.
    EXPECT_EQ(findings.misplacedSectors, c.misplaced);
    EXPECT_EQ(badBytes, 250u * 2048);
  }
}

// Where writes wrap too, the data area's stamps land on the system area,
// which then fails its check as it must, the stamps there counted.
TEST_F(SurfaceOptionsTest, AWrappingDiskFailsItsSystemAreaWithTheStampsCounted) {
  Prepare(30 * kMiB, 2000, Family::WindowsNT,
          MakeCounterfeitImage(MakeMemoryImage(), (153 + 1000) * 512ull, PastCapacity::Wrap));
  SurfaceState state{bad, badBytes, &findings};
  ASSERT_TRUE(SurfacePass(*disk, ui, texts, layout, "E:", A, B, image.data(), PassMode::Write,
                          state, Retrying(2048)));
  EXPECT_FALSE(SurfacePass(*disk, ui, texts, layout, "E:", A, B, image.data(), PassMode::Verify,
                           state, Retrying(2048)));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "System area error!");
  EXPECT_EQ(findings.misplacedSectors, 153u);
}

// A disk that is gone ends the pass at once instead of being tried again
// sector by sector.
TEST_F(SurfaceOptionsTest, ADiskPulledOutEndsTheRetryingPass) {
  struct PullingUi : RecordingFormatUi {
    FakeMachine* machine = nullptr;
    void PumpOneMessage() override {
      RecordingFormatUi::PumpOneMessage();
      if (pumps == 2) machine->Drive('E').present = false;
    }
  } pulling;
  Prepare(30 * kMiB, 3 * 2048, Family::WindowsNT);
  pulling.machine = machine.get();
  EXPECT_FALSE(SurfacePass(*disk, pulling, texts, layout, "E:", A, B, image.data(), PassMode::Write,
                           {bad, badBytes, &findings}, Retrying(2048)));
  EXPECT_EQ(Chunks(true).size(), 3u) << "the system area, one request, and the failed one";
  EXPECT_EQ(pulling.pumps, 2);
}

}  // namespace
}  // namespace vornak
