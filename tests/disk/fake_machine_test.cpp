// The fake machine's own behaviour that other tests rely on: file-backed
// images, alignment checks, drive listing and injected corruption.
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
  std::vector<std::uint8_t> buf(1024);
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
  std::vector<std::uint8_t> buf(1024);
  std::uint32_t done = 0;
  EXPECT_FALSE(m.ReadFile(h, buf.data(), 100, &done));
  m.SetFilePointer(h, 10, win::FILE_BEGIN);
  EXPECT_FALSE(m.WriteFile(h, buf.data(), 512, &done));
  EXPECT_EQ(87u, m.GetLastError());
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
