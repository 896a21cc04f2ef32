// The fake machine's own behaviour that other tests rely on: file-backed
// images, alignment checks, share modes, drive listing and injected
// corruption.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk_access.h"
#include "fake_machine.h"

namespace vornak::test {
namespace {

std::string TempImage(std::uint64_t size) {
  const std::string path = ::testing::TempDir() + "fake_machine_test.img";
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.seekp(static_cast<std::streamoff>(size - 1));
  f.put('\0');
  return path;
}

// Room for `size` bytes at a sector-aligned address.
class SectorBuffer {
 public:
  explicit SectorBuffer(std::size_t size) : storage_(size + 512) {
    const auto at = reinterpret_cast<std::uintptr_t>(storage_.data());
    data_ = storage_.data() + (512 - at % 512) % 512;
  }
  std::uint8_t* data() { return data_; }
  std::uint8_t& operator[](std::size_t i) { return data_[i]; }

 private:
  std::vector<std::uint8_t> storage_;
  std::uint8_t* data_;
};

TEST(FakeMachineImages, FileBackedDriveWritesTheFileInPlace) {
  const std::string path = TempImage(1 << 20);
  FakeMachine m;
  FakeDrive d;
  d.sizeBytes = 1 << 20;
  d.image = MakeFileImage(path);
  m.AddDrive(d);
  FakeDiskUi ui;
  const std::string lock = "x";
  DiskAccess disk(m, ui, kFamilyWindows2K, lock);
  std::vector<std::uint8_t> data(1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 1);
  ASSERT_TRUE(disk.WriteSectors("E:", data.data(), 2047, 1));  // the last sector
  ASSERT_TRUE(disk.WriteSectors("E:", data.data(), 3, 2));
  m.Drive('E').image.reset();  // closes the file

  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(static_cast<std::size_t>(1 << 20), bytes.size());  // not resized
  EXPECT_EQ(0, std::memcmp(bytes.data() + 3 * 512, data.data(), 1024));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 2047 * 512, data.data(), 512));
  EXPECT_EQ(0, bytes[5 * 512]);
  std::remove(path.c_str());
}

TEST(FakeMachineImages, CorruptBytesReadBackChanged) {
  FakeMachine m;
  FakeDrive d;
  d.corruptOnRead[1000] = 0x01;
  m.AddDrive(d);
  m.Poke('E', 512, std::vector<std::uint8_t>(1024, 0x55));
  DiskHandle h = m.CreateFileA("\\\\.\\E:", win::GENERIC_READ, 3, win::OPEN_EXISTING, 0);
  SectorBuffer buf(1024);
  std::uint32_t done = 0;
  m.SetFilePointer(h, 512, win::FILE_BEGIN);
  ASSERT_TRUE(m.ReadFile(h, buf.data(), 1024, &done));
  EXPECT_EQ(0x54, buf[1000 - 512]);
  EXPECT_EQ(0x55, buf[999 - 512]);
  EXPECT_EQ(0x55, m.Peek('E', 1000, 1)[0]);  // the stored byte is intact
  m.CloseHandle(h);
}

TEST(FakeMachineVolumes, RawIoIsWholeSectorsOnly) {
  FakeMachine m;
  m.AddDrive(FakeDrive{});
  DiskHandle h =
      m.CreateFileA("\\\\.\\E:", win::GENERIC_READ | win::GENERIC_WRITE, 3, win::OPEN_EXISTING, 0);
  SectorBuffer buf(1024);
  std::uint32_t done = 0;
  EXPECT_FALSE(m.ReadFile(h, buf.data(), 100, &done));
  m.SetFilePointer(h, 10, win::FILE_BEGIN);
  EXPECT_FALSE(m.WriteFile(h, buf.data(), 512, &done));
  EXPECT_EQ(87u, m.GetLastError());
  // Whole sectors at a sector offset, but from a buffer that is not at a
  // multiple of the sector size in memory.
  m.SetFilePointer(h, 512, win::FILE_BEGIN);
  for (std::size_t misalignment : {1u, 4u, 16u, 256u}) {
    EXPECT_FALSE(m.ReadFile(h, buf.data() + misalignment, 512, &done)) << misalignment;
    EXPECT_EQ(87u, m.GetLastError());
    EXPECT_FALSE(m.WriteFile(h, buf.data() + misalignment, 512, &done)) << misalignment;
    EXPECT_EQ(87u, m.GetLastError());
  }
  EXPECT_EQ(0u, m.BytesWritten());
  EXPECT_TRUE(m.WriteFile(h, buf.data(), 512, &done));
  EXPECT_TRUE(m.ReadFile(h, buf.data(), 512, &done));
  m.CloseHandle(h);
  // A handle opened without access cannot move data.
  h = m.CreateFileA("\\\\.\\E:", 0, 3, win::OPEN_EXISTING, 0);
  EXPECT_FALSE(m.ReadFile(h, buf.data(), 512, &done));
  EXPECT_EQ(5u, m.GetLastError());
  m.CloseHandle(h);
}

// FSCTL_LOCK_VOLUME fails while any other handle is open on the volume.
TEST(FakeMachineVolumes, LockFailsWhileAnotherHandleIsOpen) {
  FakeMachine m;
  m.AddDrive(FakeDrive{});
  const std::uint32_t rw = win::GENERIC_READ | win::GENERIC_WRITE;
  DiskHandle a = m.CreateFileA("\\\\.\\E:", rw, 3, win::OPEN_EXISTING, 0);
  DiskHandle b = m.CreateFileA("\\\\.\\E:", rw, 3, win::OPEN_EXISTING, 0);
  std::uint32_t returned = 0;
  EXPECT_FALSE(m.DeviceIoControl(a, win::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(5u, m.GetLastError());
  m.CloseHandle(b);
  EXPECT_TRUE(m.DeviceIoControl(a, win::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned));
  m.CloseHandle(a);
}

// A second open must allow the access of the handles already open and ask
// only for what their share modes allow.
TEST(FakeMachineVolumes, OpensThatConflictWithOpenHandlesAreSharingViolations) {
  FakeMachine m;
  m.AddDrive(FakeDrive{});
  FakeDrive f;
  f.letter = 'F';
  m.AddDrive(f);
  const std::uint32_t rw = win::GENERIC_READ | win::GENERIC_WRITE;
  const char* e = "\\\\.\\E:";
  struct Case {
    std::uint32_t firstAccess, firstShare, access, share;
    bool opens;
  };
  for (const Case& c : {
           // Both share reading and writing.
           Case{rw, 3, rw, 3, true},
           // The first shares only reading: the second may not write.
           Case{rw, 1, rw, 3, false},
           Case{rw, 1, win::GENERIC_READ, 3, true},
           Case{win::GENERIC_READ, 1, win::GENERIC_WRITE, 3, false},
           // The second would not share the writing the first already does.
           Case{rw, 3, win::GENERIC_READ, 1, false},
           Case{win::GENERIC_READ, 1, win::GENERIC_READ, 1, true},
           // No sharing at all.
           Case{win::GENERIC_READ, 0, win::GENERIC_READ, 3, false},
           // An open without access (a device query) takes no part.
           Case{0, 0, rw, 3, true},
           Case{rw, 0, 0, 0, true},
       }) {
    SCOPED_TRACE(testing::Message() << std::hex << c.firstAccess << "/" << c.firstShare << " then "
                                    << c.access << "/" << c.share);
    const DiskHandle first = m.CreateFileA(e, c.firstAccess, c.firstShare, win::OPEN_EXISTING, 0);
    ASSERT_NE(kInvalidHandle, first);
    const DiskHandle second = m.CreateFileA(e, c.access, c.share, win::OPEN_EXISTING, 0);
    EXPECT_EQ(c.opens, second != kInvalidHandle);
    if (!c.opens) {
      EXPECT_EQ(32u, m.GetLastError());
    }
    // Another volume is not concerned.
    const DiskHandle other = m.CreateFileA("\\\\.\\F:", c.access, c.share, win::OPEN_EXISTING, 0);
    EXPECT_NE(kInvalidHandle, other);
    for (DiskHandle h : {first, second, other})
      if (h != kInvalidHandle) m.CloseHandle(h);
  }
  // Once the first handle is closed, the open succeeds.
  const DiskHandle only = m.CreateFileA(e, rw, 0, win::OPEN_EXISTING, 0);
  EXPECT_EQ(kInvalidHandle, m.CreateFileA(e, rw, 3, win::OPEN_EXISTING, 0));
  m.CloseHandle(only);
  const DiskHandle again = m.CreateFileA(e, rw, 3, win::OPEN_EXISTING, 0);
  EXPECT_NE(kInvalidHandle, again);
  m.CloseHandle(again);
  EXPECT_EQ(0, m.OpenHandleCount());
}

TEST(FakeMachineVolumes, AnotherProgramsHandleRefusesConflictingOpensAndTheLock) {
  FakeMachine m;
  FakeDrive d;
  d.volumeHeldByOthers = {{win::GENERIC_READ, win::FILE_SHARE_READ}};
  m.AddDrive(d);
  const std::uint32_t rw = win::GENERIC_READ | win::GENERIC_WRITE;
  EXPECT_EQ(kInvalidHandle, m.CreateFileA("\\\\.\\E:", rw, 3, win::OPEN_EXISTING, 0));
  EXPECT_EQ(32u, m.GetLastError());
  m.Drive('E').volumeHeldByOthers = {{win::GENERIC_READ, 3}};
  const DiskHandle h = m.CreateFileA("\\\\.\\E:", rw, 3, win::OPEN_EXISTING, 0);
  ASSERT_NE(kInvalidHandle, h);
  std::uint32_t returned = 0;
  EXPECT_FALSE(m.DeviceIoControl(h, win::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(5u, m.GetLastError());
  m.Drive('E').volumeHeldByOthers.clear();
  EXPECT_TRUE(m.DeviceIoControl(h, win::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned));
  m.CloseHandle(h);
}

TEST(FakeMachineDrives, ListsPresentDrivesInLetterOrder) {
  FakeMachine m;
  for (char c : {'G', 'C', 'E'}) {
    FakeDrive d;
    d.letter = c;
    d.driveType = c == 'C' ? 3u : win::DRIVE_REMOVABLE;
    d.volumeLabel = std::string("VOL") + c;
    m.AddDrive(d);
  }
  char buf[150];
  ASSERT_EQ(12u, m.GetLogicalDriveStringsA(sizeof buf, buf));
  EXPECT_EQ(std::string("C:\\\0E:\\\0G:\\\0", 13), std::string(buf, 13));
  EXPECT_EQ(13u, m.GetLogicalDriveStringsA(5, buf));  // too small: the size needed
  m.RemoveDrive('E');
  ASSERT_EQ(8u, m.GetLogicalDriveStringsA(sizeof buf, buf));
  EXPECT_EQ(1u, m.GetDriveTypeA("E:\\"));
  EXPECT_EQ(3u, m.GetDriveTypeA("C:\\"));
  EXPECT_EQ(kInvalidHandle, m.CreateFileA("\\\\.\\E:", 0, 3, win::OPEN_EXISTING, 0));
  char label[32], fs[32];
  ASSERT_TRUE(m.GetVolumeInformationA("G:\\", label, sizeof label, fs, sizeof fs));
  EXPECT_STREQ("VOLG", label);
  EXPECT_FALSE(m.GetVolumeInformationA("E:\\", label, sizeof label, fs, sizeof fs));
}

}  // namespace
}  // namespace vornak::test
