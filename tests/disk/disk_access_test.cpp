// Disk access through the fake machine, on both Windows families.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "disk_access.h"
#include "disk_structs.h"
#include "fake_machine.h"

namespace vornak {
namespace {

using test::FakeCall;
using test::FakeDrive;
using test::FakeMachine;
using test::Family;
using test::NtDeviceStyle;

constexpr std::uint32_t kMiB = 1024 * 1024;

std::vector<std::uint8_t> Pattern(std::uint32_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> v(size);
  for (std::uint32_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 512);
  return v;
}

// A machine with one removable drive E: and the disk access of a dialog.
struct Rig {
  explicit Rig(Family family, FakeDrive drive = FakeDrive{})
      : machine(family),
        disk(machine, ui, family == Family::Windows98 ? kFamilyWindows98 : kFamilyWindows2K,
             lockText) {
    machine.AddDrive(drive);
  }
  FakeMachine machine;
  test::FakeDiskUi ui;
  std::string lockText = "Lock volume error!";
  DiskAccess disk;
};

FakeDrive Drive(char letter, std::uint64_t size) {
  FakeDrive d;
  d.letter = letter;
  d.sizeBytes = size;
  return d;
}

void ExpectVwin32Opens(const FakeMachine& m) {
  const auto opens = m.Calls(FakeCall::CreateFile);
  ASSERT_FALSE(opens.empty());
  for (const auto& o : opens) {
    EXPECT_STRCASEEQ("\\\\.\\vwin32", o.name.c_str());
    EXPECT_EQ(0u, o.access);
    EXPECT_EQ(0u, o.share);
    EXPECT_EQ(0u, o.disposition);
    EXPECT_EQ(win::FILE_FLAG_DELETE_ON_CLOSE, o.flags);
  }
}

TEST(OsFamily, TopBitOfVersionMeansWindows98) {
  FakeMachine m;
  m.SetVersion(0x80000000u);
  EXPECT_EQ("Windows98", GetOsFamily(m));
  m.SetVersion(0xC0000A04u);
  EXPECT_EQ("Windows98", GetOsFamily(m));
  m.SetVersion(0x7FFFFFFFu);
  EXPECT_EQ("Windows2K", GetOsFamily(m));
  m.SetVersion(0x0A280105u);
  EXPECT_EQ("Windows2K", GetOsFamily(m));
}

TEST(DriveStrings, OnlyALetterAndAColonAreDrives) {
  EXPECT_EQ(5, DriveNumber("E:"));
  EXPECT_EQ(5, DriveNumber("e:"));
  EXPECT_EQ(1, DriveNumber("A:"));
  EXPECT_EQ(26, DriveNumber("Z:\\"));
  for (const char* bad : {"", "E", "1:", "EE", ":", "@:", "[:", "\xC5:"})
    EXPECT_EQ(0, DriveNumber(bad)) << bad;
}

TEST(BadInput, MalformedDrivesTouchNoDeviceOnEitherFamily) {
  for (Family f : {Family::Windows98, Family::WindowsNT}) {
    Rig r(f);
    std::vector<std::uint8_t> buf(512, 0xAA);
    for (const char* bad : {"", "E", "1:", "EE"}) {
      EXPECT_FALSE(r.disk.IsRemovableDisk(bad));
      EXPECT_FALSE(r.disk.LockVolume(bad));
      EXPECT_EQ(0u, r.disk.GetDiskSize(bad));
      EXPECT_FALSE(r.disk.ReadSectors(bad, buf.data(), 0, 1));
      EXPECT_FALSE(r.disk.WriteSectors(bad, buf.data(), 0, 1));
    }
    EXPECT_TRUE(r.machine.Calls(FakeCall::CreateFile).empty());
    EXPECT_EQ(0u, r.machine.BytesWritten());
    EXPECT_FALSE(r.disk.WriteSectors("E:", nullptr, 0, 1));
    EXPECT_EQ(0u, r.machine.BytesWritten());
  }
}

// --- Windows 98 -------------------------------------------------------------

TEST(Windows98Removable, DeviceType5IsOfferedWithTheDeviceParameterCall) {
  Rig r(Family::Windows98);
  EXPECT_TRUE(r.disk.IsRemovableDisk("E:"));
  ExpectVwin32Opens(r.machine);
  const auto calls = r.machine.DosCalls(0x440D, 0x0860);
  ASSERT_EQ(1u, calls.size());
  const FakeCall& c = calls[0];
  EXPECT_EQ(win::VWIN32_DIOC_DOS_IOCTL, c.code);
  EXPECT_EQ(28u, c.inSize);
  EXPECT_EQ(28u, c.outSize);
  EXPECT_EQ(5u, c.regsIn.reg_EBX);
  EXPECT_EQ(0x0860u, c.regsIn.reg_ECX);
  EXPECT_EQ(1u, c.regsIn.reg_Flags);  // carry preset
  EXPECT_NE(0u, c.regsIn.reg_EDX);
  EXPECT_EQ(0, c.specialFunctions);
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(Windows98Removable, OtherDevicesAndFailuresAreNotOffered) {
  FakeDrive floppy = Drive('A', 1474560);
  floppy.deviceType = 7;
  Rig r(Family::Windows98, floppy);
  EXPECT_FALSE(r.disk.IsRemovableDisk("A:"));
  EXPECT_FALSE(r.disk.IsRemovableDisk("F:"));  // no such drive: carry set
  r.machine.AddDrive(Drive('E', 64 * kMiB));
  r.machine.SetVwin32OpenRefused(true);
  EXPECT_FALSE(r.disk.IsRemovableDisk("E:"));
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(Windows98Lock, LockAndUnlockRegisters) {
  Rig r(Family::Windows98);
  ASSERT_TRUE(r.disk.LockVolume("E:"));
  EXPECT_EQ(1, r.machine.LockCount('E'));
  ASSERT_TRUE(r.disk.UnlockVolume("E:"));
  EXPECT_EQ(0, r.machine.LockCount('E'));
  const auto lock = r.machine.DosCalls(0x440D, 0x484A);
  const auto unlock = r.machine.DosCalls(0x440D, 0x486A);
  ASSERT_EQ(1u, lock.size());
  ASSERT_EQ(1u, unlock.size());
  for (const auto& c : {lock[0], unlock[0]}) {
    EXPECT_EQ(win::VWIN32_DIOC_DOS_IOCTL, c.code);
    EXPECT_EQ(5u, c.regsIn.reg_EBX);  // BL drive, BH level 0
    EXPECT_EQ(0u, c.regsIn.reg_EDX);
  }
  ExpectVwin32Opens(r.machine);
  EXPECT_EQ(0, r.machine.OpenHandleCount());

  r.machine.Drive('E').lockRefused = true;
  EXPECT_FALSE(r.disk.LockVolume("E:"));
  EXPECT_FALSE(r.disk.UnlockVolume("E:"));  // nothing is locked
}

TEST(Windows98Size, FromTheSixteenOrThirtyTwoBitTotal) {
  Rig r(Family::Windows98, Drive('E', 60669ull * 512));
  EXPECT_EQ(60669u * 512, r.disk.GetDiskSize("E:"));

  r.machine.Drive('E').only32BitTotal = true;  // 16-bit field 0
  EXPECT_EQ(60669u * 512, r.disk.GetDiskSize("E:"));

  r.machine.AddDrive(Drive('F', 254205ull * 512));  // too many for 16 bits
  EXPECT_EQ(254205u * 512, r.disk.GetDiskSize("F:"));

  FakeDrive big = Drive('G', 8 * kMiB);
  big.bytesPerSector = 1024;
  r.machine.AddDrive(big);
  EXPECT_EQ(8 * kMiB, r.disk.GetDiskSize("G:"));

  // 5 GiB does not wrap round to 1 GiB (a supported size): it is too large.
  r.machine.AddDrive(Drive('I', 5ull << 30));
  EXPECT_EQ(0xFFFFFFFFu, r.disk.GetDiskSize("I:"));

  EXPECT_EQ(0u, r.disk.GetDiskSize("H:"));  // carry
  r.machine.SetVwin32OpenRefused(true);
  EXPECT_EQ(0u, r.disk.GetDiskSize("E:"));
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(Windows98Sectors, ReadIsOne7305hCallWithoutLock) {
  Rig r(Family::Windows98);
  const auto data = Pattern(3 * 512, 1);
  r.machine.Poke('E', 100 * 512, data);
  std::vector<std::uint8_t> buf(3 * 512);
  ASSERT_TRUE(r.disk.ReadSectors("E:", buf.data(), 100, 3));
  EXPECT_EQ(data, buf);
  const auto calls = r.machine.DosCalls(0x7305);
  ASSERT_EQ(1u, calls.size());
  const FakeCall& c = calls[0];
  EXPECT_EQ(win::VWIN32_DIOC_DOS_DRIVEINFO, c.code);
  EXPECT_EQ(28u, c.inSize);
  EXPECT_EQ(5u, c.regsIn.reg_EDX);
  EXPECT_EQ(0xFFFFFFFFu, c.regsIn.reg_ECX);
  EXPECT_EQ(0u, c.regsIn.reg_ESI);
  ASSERT_TRUE(c.hasPacket);
  EXPECT_EQ(100u, c.packetFirst);
  EXPECT_EQ(3u, c.packetCount);
  EXPECT_EQ(r.machine.AddressOf(buf.data()), c.packetBuffer);
  EXPECT_TRUE(r.machine.DosCalls(0x440D).empty());
  EXPECT_TRUE(r.machine.Calls(FakeCall::ReadFile).empty());
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(Windows98Sectors, ReadFailures) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.failingReads.push_back({10, 2});
  Rig r(Family::Windows98, d);
  std::vector<std::uint8_t> buf(70000 * 512ull);
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 9, 2));
  EXPECT_TRUE(r.disk.ReadSectors("E:", buf.data(), 12, 2));
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 8192, 1));  // past the end
  // The packet's count is 16 bits: a larger count is refused, not cut.
  r.machine.ClearLog();
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 0, 70000));
  EXPECT_TRUE(r.machine.DosCalls(0x7305).empty());
}

TEST(Windows98Sectors, WriteLocksAroundOneTransfer) {
  Rig r(Family::Windows98);
  const auto data = Pattern(4 * 512, 9);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 32, 4));
  EXPECT_EQ(data, r.machine.Peek('E', 32 * 512, 4 * 512));
  EXPECT_EQ(0, r.machine.LockCount('E'));
  EXPECT_EQ(0, r.machine.OpenHandleCount());
  EXPECT_TRUE(r.ui.boxes.empty());

  // Order: lock, transfer, the transfer's VWIN32 handle closed, then unlock.
  std::vector<std::string> steps;
  DiskHandle transferHandle = kInvalidHandle;
  for (const auto& c : r.machine.Log()) {
    if (c.kind == FakeCall::DeviceIoControl && c.hasRegs) {
      if (c.regsIn.reg_ECX == 0x484A) steps.push_back("lock");
      if (c.regsIn.reg_ECX == 0x486A) steps.push_back("unlock");
      if (c.regsIn.reg_EAX == 0x7305) {
        steps.push_back("write");
        transferHandle = c.handle;
        EXPECT_EQ(0x6001u, c.regsIn.reg_ESI);
        EXPECT_EQ(32u, c.packetFirst);
        EXPECT_EQ(4u, c.packetCount);
        EXPECT_EQ(0xFFFFFFFFu, c.regsIn.reg_ECX);
        EXPECT_EQ(5u, c.regsIn.reg_EDX);
      }
    }
    if (c.kind == FakeCall::CloseHandle && c.handle == transferHandle) steps.push_back("close");
  }
  EXPECT_EQ((std::vector<std::string>{"lock", "write", "close", "unlock"}), steps);
  ExpectVwin32Opens(r.machine);
}

TEST(Windows98Sectors, RefusedLockShowsOneBoxAndWritesNothing) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.lockRefused = true;
  Rig r(Family::Windows98, d);
  r.lockText = "Verrou refuse";  // the dialog's current text is shown
  const auto data = Pattern(512, 3);
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 0, 1));
  ASSERT_EQ(1u, r.ui.boxes.size());
  EXPECT_EQ("Verrou refuse", r.ui.boxes[0].text);
  EXPECT_EQ("Sorry!", r.ui.boxes[0].caption);
  EXPECT_EQ(0x10u, r.ui.boxes[0].type);
  EXPECT_TRUE(r.machine.DosCalls(0x7305).empty());
  EXPECT_EQ(0u, r.machine.BytesWritten());
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(Windows98Sectors, RefusedLockIsNotUnlocked) {
  // Unlocking a lock this program never took could release another's lock.
  FakeDrive d = Drive('E', 4 * kMiB);
  d.lockRefused = true;
  Rig r(Family::Windows98, d);
  const auto data = Pattern(512, 3);
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 0, 1));
  EXPECT_EQ(1u, r.machine.DosCalls(0x440D, 0x484A).size());
  EXPECT_TRUE(r.machine.DosCalls(0x440D, 0x486A).empty());
}

TEST(Windows98Sectors, FailedWriteStillUnlocks) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.failingWrites.push_back({5, 1});
  Rig r(Family::Windows98, d);
  const auto data = Pattern(8 * 512, 3);
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 0, 8));
  EXPECT_EQ(0, r.machine.LockCount('E'));
  EXPECT_EQ(1u, r.machine.DosCalls(0x440D, 0x486A).size());
  EXPECT_TRUE(r.ui.boxes.empty());
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(Windows98Sectors, FallsBackToTheNtPathWhenVwin32DoesNotOpen) {
  // The sector I/O decides by the device, not by the family string.
  Rig r(Family::WindowsNT);
  const std::string family98 = kFamilyWindows98;
  r.disk.SetFamily(family98);
  const auto data = Pattern(512, 4);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 1, 1));
  EXPECT_EQ(data, r.machine.Peek('E', 512, 512));
  EXPECT_EQ(1u, r.machine.Calls(FakeCall::WriteFile).size());
}

TEST(Windows98Sectors, Vwin32DecidesEvenWhenTheFamilyStringSaysWindows2K) {
  Rig r(Family::Windows98);
  const std::string family2k = kFamilyWindows2K;
  r.disk.SetFamily(family2k);
  const auto data = Pattern(2 * 512, 15);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 7, 2));
  std::vector<std::uint8_t> buf(2 * 512);
  ASSERT_TRUE(r.disk.ReadSectors("E:", buf.data(), 7, 2));
  EXPECT_EQ(data, buf);
  EXPECT_EQ(data, r.machine.Peek('E', 7 * 512, 2 * 512));
  EXPECT_EQ(2u, r.machine.DosCalls(0x7305).size());
  EXPECT_EQ(1u, r.machine.DosCalls(0x440D, 0x484A).size());
  EXPECT_TRUE(r.machine.Calls(FakeCall::WriteFile).empty());
  EXPECT_TRUE(r.machine.Calls(FakeCall::ReadFile).empty());
}

TEST(Windows98Sectors, ReadFallsBackToTheNtPathWhenVwin32DoesNotOpen) {
  Rig r(Family::WindowsNT);
  const std::string family98 = kFamilyWindows98;
  r.disk.SetFamily(family98);
  const auto data = Pattern(512, 16);
  r.machine.Poke('E', 3 * 512, data);
  std::vector<std::uint8_t> buf(512);
  ASSERT_TRUE(r.disk.ReadSectors("E:", buf.data(), 3, 1));
  EXPECT_EQ(data, buf);
  EXPECT_EQ(1u, r.machine.Calls(FakeCall::ReadFile).size());
}

// --- Windows 2000/XP ----------------------------------------------------------

TEST(NtRemovable, MediaTypeDecides) {
  Rig r(Family::WindowsNT);
  EXPECT_TRUE(r.disk.IsRemovableDisk("E:"));
  const auto opens = r.machine.Calls(FakeCall::CreateFile);
  ASSERT_EQ(1u, opens.size());  // no VWIN32 probe on this family
  EXPECT_EQ("\\\\.\\E:", opens[0].name);
  EXPECT_EQ(0u, opens[0].access);
  EXPECT_EQ(3u, opens[0].share);
  EXPECT_EQ(3u, opens[0].disposition);
  EXPECT_EQ(0u, opens[0].flags);
  const auto io = r.machine.Calls(FakeCall::DeviceIoControl);
  ASSERT_EQ(1u, io.size());
  EXPECT_EQ(0x00070000u, io[0].code);
  EXPECT_EQ(480u, io[0].outSize);
  EXPECT_EQ(0, r.machine.OpenHandleCount());

  r.machine.Drive('E').mediaType = 12;  // fixed disk
  EXPECT_FALSE(r.disk.IsRemovableDisk("E:"));
  r.machine.Drive('E').mediaType = 11;
  r.machine.Drive('E').geometryFails = true;
  EXPECT_FALSE(r.disk.IsRemovableDisk("E:"));
  r.machine.Drive('E').geometryFails = false;
  // An answer that stops before the media type, or holds nothing, is not a
  // removable disk; one that just reaches it is.
  const int mediaTypeEnd = static_cast<int>(offsetof(vornak::DISK_GEOMETRY, MediaType)) + 4;
  for (int bytes : {0, mediaTypeEnd - 1}) {
    r.machine.Drive('E').geometryBytes = bytes;
    EXPECT_FALSE(r.disk.IsRemovableDisk("E:")) << bytes << " bytes of geometry";
  }
  r.machine.Drive('E').geometryBytes = mediaTypeEnd;
  EXPECT_TRUE(r.disk.IsRemovableDisk("E:"));
  r.machine.Drive('E').geometryBytes = -1;
  r.machine.Drive('E').openRefused = true;
  EXPECT_FALSE(r.disk.IsRemovableDisk("E:"));
  r.machine.Drive('E').openRefused = false;
  r.machine.RemoveDrive('E');
  EXPECT_FALSE(r.disk.IsRemovableDisk("E:"));
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(NtSize, PhysicalDriveLayoutGivesThePartitionLength) {
  FakeDrive d = Drive('E', 64 * kMiB);
  d.ntDeviceNumber = 1;
  d.partitionLength = 62 * kMiB + 512;  // differs from the volume size on purpose
  Rig r(Family::WindowsNT, d);
  EXPECT_EQ(62 * kMiB + 512, r.disk.GetDiskSize("E:"));
  const auto opens = r.machine.Calls(FakeCall::CreateFile);
  ASSERT_EQ(1u, opens.size());
  EXPECT_EQ("\\\\.\\PHYSICALDRIVE1", opens[0].name);
  EXPECT_EQ(win::GENERIC_READ, opens[0].access);
  EXPECT_EQ(win::FILE_SHARE_READ, opens[0].share);
  EXPECT_EQ(win::OPEN_EXISTING, opens[0].disposition);
  EXPECT_EQ(win::FILE_ATTRIBUTE_NORMAL, opens[0].flags);
  const auto io = r.machine.Calls(FakeCall::DeviceIoControl);
  ASSERT_EQ(1u, io.size());
  EXPECT_EQ(0x0007400Cu, io[0].code);
  EXPECT_EQ(800u, io[0].outSize);
  EXPECT_EQ(0, r.machine.OpenHandleCount());

  // A disk of 4 GiB or more is too large, not its length modulo 4 GiB: a
  // 30,943,995,904-byte stick must not be offered an 838 MiB layout.
  for (std::uint64_t length : {(1ull << 32) + 4096, 30943995904ull, 1ull << 32}) {
    SCOPED_TRACE(length);
    r.machine.Drive('E').partitionLength = length;
    EXPECT_EQ(0xFFFFFFFFu, r.disk.GetDiskSize("E:"));
  }
  r.machine.Drive('E').partitionLength = 0xFFFFFE00u;
  EXPECT_EQ(0xFFFFFE00u, r.disk.GetDiskSize("E:"));
}

TEST(NtSize, TwoDigitDiskNumberIsReadWhole) {
  Rig r(Family::WindowsNT, Drive('E', 32 * kMiB));  // \Device\Harddisk1
  FakeDrive g = Drive('G', 128 * kMiB);
  g.ntDeviceNumber = 12;
  r.machine.AddDrive(g);
  EXPECT_EQ(128 * kMiB, r.disk.GetDiskSize("G:"));
  EXPECT_EQ("\\\\.\\PHYSICALDRIVE12", r.machine.Calls(FakeCall::CreateFile)[0].name);
}

TEST(NtSize, DeviceNamesWithoutASizeGiveZero) {
  FakeDrive d = Drive('E', 64 * kMiB);
  d.ntDeviceName = "\\device\\harddisk3\\dp(1)0-0+5";  // upper-cased before matching
  d.ntDeviceNumber = 3;
  Rig r(Family::WindowsNT, d);
  EXPECT_EQ(64 * kMiB, r.disk.GetDiskSize("E:"));

  r.machine.Drive('E').ntDeviceName = "\\Device\\Harddisk\\DR1";  // no number
  EXPECT_EQ(0u, r.disk.GetDiskSize("E:"));
  r.machine.Drive('E').ntDeviceName = "";
  r.machine.Drive('E').ntStyle = NtDeviceStyle::Other;
  EXPECT_EQ(0u, r.disk.GetDiskSize("E:"));
  r.machine.Drive('E').ntStyle = NtDeviceStyle::Harddisk;
  r.machine.Drive('E').physicalOpenRefused = true;
  EXPECT_EQ(0u, r.disk.GetDiskSize("E:"));
  r.machine.Drive('E').physicalOpenRefused = false;
  r.machine.RemoveDrive('E');
  EXPECT_EQ(0u, r.disk.GetDiskSize("E:"));
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(NtSize, DeviceNameFillingTheWholeBufferIsReadAndALongerOneIsNot) {
  // The answer and its two ending NULs fit the 128-byte buffer exactly.
  std::string name = "\\Device\\Harddisk1\\";
  name.resize(126, 'x');
  FakeDrive d = Drive('E', 64 * kMiB);
  d.ntDeviceName = name;
  Rig r(Family::WindowsNT, d);
  EXPECT_EQ(64 * kMiB, r.disk.GetDiskSize("E:"));

  r.machine.Drive('E').ntDeviceName = name + "x";  // one byte too many: the call fails
  EXPECT_EQ(0u, r.disk.GetDiskSize("E:"));
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

struct ProbeCase {
  std::uint64_t sectors;
  std::uint32_t expected;
  std::vector<std::uint32_t> reads;
};

TEST(NtSize, HarddiskVolumeIsSizedByTheProbe) {
  const ProbeCase cases[] = {
      {60000, 60669u * 512, {60669}},
      {60669, 60669u * 512, {60669}},
      {125181, 125181u * 512, {60669, 125181}},
      {200000, 254205u * 512, {60669, 125181, 254205}},
      {512127, 512127u * 512, {60669, 125181, 254205, 512127}},
      {2097152, 0, {60669, 125181, 254205, 512127}},  // 1 GiB: past the last step
  };
  for (const auto& pc : cases) {
    FakeDrive d = Drive('E', pc.sectors * 512);
    d.ntStyle = NtDeviceStyle::HarddiskVolume;
    Rig r(Family::WindowsNT, d);
    EXPECT_EQ(pc.expected, r.disk.GetDiskSize("E:")) << pc.sectors;
    std::vector<std::uint32_t> reads;
    for (const auto& c : r.machine.Calls(FakeCall::SetFilePointer))
      reads.push_back(static_cast<std::uint32_t>(c.distance / 512));
    EXPECT_EQ(pc.reads, reads) << pc.sectors;
    for (const auto& c : r.machine.Calls(FakeCall::ReadFile)) EXPECT_EQ(512u, c.size);
    // The physical drive is never asked.
    for (const auto& c : r.machine.Calls(FakeCall::CreateFile))
      EXPECT_EQ(std::string::npos, c.name.find("PHYSICALDRIVE"));
    EXPECT_EQ(0, r.machine.OpenHandleCount());
  }
}

// A volume that cannot be opened at all (another program holds it without
// write sharing; a user without the rights to raw access) has no size: the
// probe must not take the refused open for the end of a 30 MiB volume.
TEST(NtSize, AVolumeThatCannotBeOpenedIsNotSizedByTheProbe) {
  for (int refusal = 0; refusal < 2; ++refusal) {
    SCOPED_TRACE(refusal);
    FakeDrive d = Drive('E', 254205ull * 512);
    d.ntStyle = NtDeviceStyle::HarddiskVolume;
    if (refusal == 0)
      d.volumeHeldByOthers = {{win::GENERIC_READ, win::FILE_SHARE_READ}};
    else
      d.openRefused = true;
    Rig r(Family::WindowsNT, d);
    EXPECT_EQ(0u, r.disk.GetDiskSize("E:"));
    EXPECT_TRUE(r.machine.Calls(FakeCall::ReadFile).empty());
    EXPECT_EQ(0, r.machine.OpenHandleCount());
    // Once it opens, the probe sizes it.
    r.machine.Drive('E').volumeHeldByOthers.clear();
    r.machine.Drive('E').openRefused = false;
    EXPECT_EQ(254205u * 512, r.disk.GetDiskSize("E:"));
  }
}

TEST(NtSectors, ReadOpensSeeksReadsAndCloses) {
  Rig r(Family::WindowsNT);
  const auto data = Pattern(32 * 512, 5);
  r.machine.Poke('E', 2048ull * 512, data);
  std::vector<std::uint8_t> buf(32 * 512);
  ASSERT_TRUE(r.disk.ReadSectors("E:", buf.data(), 2048, 32));
  EXPECT_EQ(data, buf);
  const auto opens = r.machine.Calls(FakeCall::CreateFile);
  ASSERT_EQ(2u, opens.size());
  EXPECT_STRCASEEQ("\\\\.\\vwin32", opens[0].name.c_str());
  EXPECT_FALSE(opens[0].result);
  EXPECT_EQ("\\\\.\\E:", opens[1].name);
  EXPECT_EQ(win::GENERIC_READ | win::GENERIC_WRITE, opens[1].access);
  EXPECT_EQ(3u, opens[1].share);
  EXPECT_EQ(3u, opens[1].disposition);
  EXPECT_EQ(0u, opens[1].flags);
  const auto seeks = r.machine.Calls(FakeCall::SetFilePointer);
  ASSERT_EQ(1u, seeks.size());
  EXPECT_EQ(2048 * 512, seeks[0].distance);
  EXPECT_EQ(win::FILE_BEGIN, seeks[0].method);
  const auto reads = r.machine.Calls(FakeCall::ReadFile);
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ(32u * 512, reads[0].size);
  EXPECT_EQ(0, r.machine.OpenHandleCount());
  EXPECT_TRUE(r.machine.Calls(FakeCall::FlushFileBuffers).empty());
}

TEST(NtSectors, ShortFailedAndOutOfRangeReadsFail) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.shortReads.push_back({20, 1});
  d.failingReads.push_back({40, 1});
  Rig r(Family::WindowsNT, d);
  std::vector<std::uint8_t> buf(16 * 512);
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 16, 8));  // returns fewer bytes
  EXPECT_EQ(4u * 512, r.machine.Calls(FakeCall::ReadFile).back().done);
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 36, 8));
  EXPECT_TRUE(r.disk.ReadSectors("E:", buf.data(), 0, 16));
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 8192, 1));  // at the end
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 8190, 4));  // runs past it
  r.machine.Drive('E').openRefused = true;
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 0, 1));
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(NtSectors, WriteFlushesBeforeClosing) {
  Rig r(Family::WindowsNT);
  const auto data = Pattern(64 * 512, 6);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 0, 64));
  EXPECT_EQ(data, r.machine.Peek('E', 0, 64 * 512));
  std::vector<FakeCall::Kind> kinds;
  for (const auto& c : r.machine.Log())
    if (c.kind == FakeCall::WriteFile || c.kind == FakeCall::FlushFileBuffers ||
        c.kind == FakeCall::CloseHandle || c.kind == FakeCall::DeviceIoControl)
      kinds.push_back(c.kind);
  EXPECT_EQ((std::vector<FakeCall::Kind>{FakeCall::WriteFile, FakeCall::FlushFileBuffers,
                                         FakeCall::CloseHandle}),
            kinds);
  EXPECT_EQ(64u * 512, r.machine.Calls(FakeCall::WriteFile)[0].size);
  EXPECT_TRUE(r.ui.boxes.empty());
}

TEST(NtSectors, ZeroSectorWriteSucceeds) {
  Rig r(Family::WindowsNT);
  const std::uint8_t byte = 0;
  EXPECT_TRUE(r.disk.WriteSectors("E:", &byte, 10, 0));
  const auto writes = r.machine.Calls(FakeCall::WriteFile);
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ(0u, writes[0].size);
  EXPECT_EQ(0u, r.machine.BytesWritten());
}

TEST(NtSectors, ShortOrFailedWritesFailWithoutFlush) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.shortWrites.push_back({3, 1});
  d.failingWrites.push_back({100, 1});
  Rig r(Family::WindowsNT, d);
  const auto data = Pattern(8 * 512, 7);
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 0, 8));
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 96, 8));
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 8190, 8));  // past the end
  EXPECT_TRUE(r.machine.Calls(FakeCall::FlushFileBuffers).empty());
  // Not an access-denied failure: no lock or dismount is tried.
  EXPECT_TRUE(r.machine.Calls(FakeCall::DeviceIoControl).empty());
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(NtSectors, FailedSeekFailsTheTransferInsteadOfUsingTheOldPosition) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.seeksBeforeFailure = 0;
  Rig r(Family::WindowsNT, d);
  const auto data = Pattern(512, 17);
  r.machine.Poke('E', 0, data);
  std::vector<std::uint8_t> buf(512);
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 100, 1));
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 100, 1));
  EXPECT_TRUE(r.machine.Calls(FakeCall::ReadFile).empty());
  EXPECT_TRUE(r.machine.Calls(FakeCall::WriteFile).empty());
  EXPECT_EQ(0u, r.machine.BytesWritten());
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(NtSectors, OffsetsBeyondTwoGibAreRefusedNotWrappedToSectorZero) {
  Rig r(Family::WindowsNT, Drive('E', 8ull << 30));
  const auto data = Pattern(512, 8);
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 4194304, 1));
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 8388608, 1));  // would wrap to 0
  EXPECT_EQ(0u, r.machine.BytesWritten());
  EXPECT_TRUE(r.machine.Calls(FakeCall::WriteFile).empty());
  EXPECT_TRUE(r.disk.WriteSectors("E:", data.data(), 4194303, 1));
  EXPECT_EQ(data, r.machine.Peek('E', 4194303ull * 512, 512));
}

// Vista and later: a mounted volume refuses raw writes until it is dismounted.
TEST(NtMountedVolume, AccessDeniedWriteLocksDismountsAndRetries) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.ntWriteNeedsDismount = true;
  Rig r(Family::WindowsNT, d);
  const auto data = Pattern(4 * 512, 11);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 8, 4));
  EXPECT_EQ(data, r.machine.Peek('E', 8 * 512, 4 * 512));

  const auto io = r.machine.Calls(FakeCall::DeviceIoControl);
  ASSERT_EQ(2u, io.size());
  EXPECT_EQ(win::FSCTL_LOCK_VOLUME, io[0].code);
  EXPECT_EQ(win::FSCTL_DISMOUNT_VOLUME, io[1].code);
  const auto writes = r.machine.Calls(FakeCall::WriteFile);
  ASSERT_EQ(2u, writes.size());
  EXPECT_FALSE(writes[0].result);
  EXPECT_TRUE(writes[1].result);
  EXPECT_EQ(io[0].handle, writes[1].handle);  // on the same handle
  EXPECT_EQ(8u * 512, writes[1].position);    // sought again before the retry
  EXPECT_EQ(1u, r.machine.Calls(FakeCall::FlushFileBuffers).size());
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(NtMountedVolume, RetryIsSoughtAfterTheDismount) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.ntWriteNeedsDismount = true;
  Rig r(Family::WindowsNT, d);
  const auto data = Pattern(512, 18);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 8, 1));
  std::vector<std::string> steps;
  for (const auto& c : r.machine.Log()) {
    if (c.kind == FakeCall::SetFilePointer) steps.push_back("seek " + std::to_string(c.distance));
    if (c.kind == FakeCall::WriteFile) steps.push_back(c.result ? "write" : "denied");
    if (c.kind == FakeCall::DeviceIoControl && c.code == win::FSCTL_DISMOUNT_VOLUME)
      steps.push_back("dismount");
  }
  EXPECT_EQ((std::vector<std::string>{"seek 4096", "denied", "dismount", "seek 4096", "write"}),
            steps);
}

TEST(NtMountedVolume, FailedSeekBeforeTheRetryWritesNothing) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.ntWriteNeedsDismount = true;
  d.seeksBeforeFailure = 1;
  Rig r(Family::WindowsNT, d);
  const auto data = Pattern(512, 19);
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 8, 1));
  EXPECT_EQ(1u, r.machine.Calls(FakeCall::WriteFile).size());
  EXPECT_EQ(0u, r.machine.BytesWritten());
}

TEST(NtMountedVolume, FailedDismountFailsTheWriteWithoutARetry) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.ntWriteNeedsDismount = true;
  d.dismountFails = true;
  Rig r(Family::WindowsNT, d);
  const auto data = Pattern(512, 20);
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 8, 1));
  EXPECT_EQ(1u, r.machine.Calls(FakeCall::WriteFile).size());
  EXPECT_TRUE(r.machine.Calls(FakeCall::FlushFileBuffers).empty());
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(NtMountedVolume, BusyVolumeLockIsRetriedThenDismounted) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.ntWriteNeedsDismount = true;
  d.ntLockFailures = 2;
  Rig r(Family::WindowsNT, d);
  const auto data = Pattern(512, 12);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 0, 1));
  int locks = 0;
  for (const auto& c : r.machine.Calls(FakeCall::DeviceIoControl))
    if (c.code == win::FSCTL_LOCK_VOLUME) ++locks;
  EXPECT_EQ(3, locks);
  EXPECT_EQ(2u, r.machine.Calls(FakeCall::Sleep).size());

  // A lock that never comes: bounded tries (about a second), then dismount.
  r.machine.ClearLog();
  r.machine.Drive('E').lockRefused = true;
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 1, 1));
  locks = 0;
  for (const auto& c : r.machine.Calls(FakeCall::DeviceIoControl))
    if (c.code == win::FSCTL_LOCK_VOLUME) ++locks;
  EXPECT_EQ(DiskAccess::kNtLockAttempts, locks);
  EXPECT_LE(r.machine.SleptMs(), 2000u);
  EXPECT_EQ(win::FSCTL_DISMOUNT_VOLUME, r.machine.Calls(FakeCall::DeviceIoControl).back().code);
}

// Another program (Explorer, a scanner) with the volume open: sharing reading
// and writing, it only keeps the lock from being taken; sharing reading only,
// the volume cannot be opened to write, and nothing is written.
TEST(NtMountedVolume, AnotherProgramsHandleOnTheVolume) {
  FakeDrive d = Drive('E', 4 * kMiB);
  d.ntWriteNeedsDismount = true;
  d.volumeHeldByOthers = {{win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE}};
  Rig r(Family::WindowsNT, d);
  const auto data = Pattern(512, 31);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 3, 1));
  EXPECT_EQ(data, r.machine.Peek('E', 3 * 512, 512));
  int locks = 0;
  for (const auto& c : r.machine.Calls(FakeCall::DeviceIoControl))
    if (c.code == win::FSCTL_LOCK_VOLUME) ++locks;
  EXPECT_EQ(DiskAccess::kNtLockAttempts, locks);

  r.machine.ClearLog();
  r.machine.Drive('E').volumeHeldByOthers = {{win::GENERIC_READ, win::FILE_SHARE_READ}};
  const std::uint64_t before = r.machine.BytesWritten();
  EXPECT_FALSE(r.disk.WriteSectors("E:", data.data(), 4, 1));
  std::vector<std::uint8_t> buf(512);
  EXPECT_FALSE(r.disk.ReadSectors("E:", buf.data(), 3, 1));  // the open asks for writing too
  EXPECT_EQ(before, r.machine.BytesWritten());
  EXPECT_TRUE(r.machine.Calls(FakeCall::WriteFile).empty());
  EXPECT_EQ(0, r.machine.OpenHandleCount());
  // The removable-disk test opens without access and is not concerned.
  EXPECT_TRUE(r.disk.IsRemovableDisk("E:"));
}

TEST(NtMountedVolume, WindowsXpWritesNeedNoVolumeControl) {
  Rig r(Family::WindowsNT);
  const auto data = Pattern(512, 13);
  ASSERT_TRUE(r.disk.WriteSectors("E:", data.data(), 0, 1));
  EXPECT_TRUE(r.machine.Calls(FakeCall::DeviceIoControl).empty());
}

// --- Building blocks used by the surface pass ---------------------------------

// Volume handles move data only through buffers at sector-aligned addresses;
// the callers' buffers (vectors, arrays on the stack) are not.
TEST(NtSectors, BuffersAtAnyAddressAreReadAndWritten) {
  Rig r(Family::WindowsNT);
  const auto data = Pattern(8 * 512, 21);
  std::vector<std::uint8_t> storage(9 * 512 + 3);
  for (std::size_t offset : {std::size_t{1}, std::size_t{16}, std::size_t{3}}) {
    SCOPED_TRACE(offset);
    std::uint8_t* odd = storage.data() + offset;
    if (reinterpret_cast<std::uintptr_t>(odd) % 512 == 0) ++odd;
    std::memcpy(odd, data.data(), data.size());
    ASSERT_TRUE(r.disk.WriteSectors("E:", odd, 100, 8));
    EXPECT_EQ(data, r.machine.Peek('E', 100 * 512, 8 * 512));
    std::memset(odd, 0, data.size());
    ASSERT_TRUE(r.disk.ReadSectors("E:", odd, 100, 8));
    EXPECT_EQ(0, std::memcmp(odd, data.data(), data.size()));
  }
  // A write refused until the volume is dismounted goes through as well.
  r.machine.Drive('E').ntWriteNeedsDismount = true;
  ASSERT_TRUE(r.disk.WriteSectors("E:", storage.data() + 1, 7, 2));
  EXPECT_EQ(0, std::memcmp(storage.data() + 1, r.machine.Peek('E', 7 * 512, 1024).data(), 1024));
  EXPECT_EQ(0, r.machine.OpenHandleCount());
}

TEST(InlineTransfers, OneHandleManyChunks) {
  Rig r(Family::WindowsNT);
  DiskHandle v = r.disk.OpenNtVolume("E:");
  ASSERT_NE(kInvalidHandle, v);
  const auto data = Pattern(32 * 512, 14);
  for (std::uint32_t chunk = 0; chunk < 4; ++chunk)
    ASSERT_TRUE(r.disk.NtWrite(v, data.data(), chunk * 32, 32));
  std::vector<std::uint8_t> buf(32 * 512);
  ASSERT_TRUE(r.disk.NtRead(v, buf.data(), 96, 32));
  EXPECT_EQ(data, buf);
  EXPECT_EQ(4u, r.machine.Calls(FakeCall::FlushFileBuffers).size());
  r.machine.CloseHandle(v);
  EXPECT_EQ(0, r.machine.OpenHandleCount());
  EXPECT_EQ(kInvalidHandle, r.disk.OpenNtVolume("bad"));

  Rig r98(Family::Windows98);
  DiskHandle w = r98.disk.OpenVwin32();
  ASSERT_NE(kInvalidHandle, w);
  ASSERT_TRUE(r98.disk.LockVolume("E:"));
  ASSERT_TRUE(
      r98.disk.Vwin32Transfer(w, "E:", const_cast<std::uint8_t*>(data.data()), 64, 32, true));
  ASSERT_TRUE(r98.disk.Vwin32Transfer(w, "E:", buf.data(), 64, 32, false));
  ASSERT_TRUE(r98.disk.UnlockVolume("E:"));
  EXPECT_EQ(data, buf);
  EXPECT_FALSE(r98.disk.Vwin32Transfer(w, "E:", buf.data(), 0, 65536, false));
  // Without the lock the system refuses the write.
  EXPECT_FALSE(r98.disk.Vwin32Transfer(w, "E:", buf.data(), 64, 1, true));
  r98.machine.CloseHandle(w);
}

}  // namespace
}  // namespace vornak
