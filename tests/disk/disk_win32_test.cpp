// The Win32 binding of the disk seam against the real API (under Wine here):
// file calls on an ordinary file, the drive queries, and, when a test script
// provides a drive letter over an image file, sector I/O through \\.\X:.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk_access.h"
#include "disk_platform_win32.h"

namespace vornak {
namespace {

class RecordingUi : public DiskUi {
 public:
  int boxes = 0;
  int MessageBoxA(const char*, const char*, std::uint32_t) override { return ++boxes, 1; }
};

std::string TempFile(std::uint32_t size) {
  char dir[MAX_PATH], path[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  GetTempFileNameA(dir, "vdk", 0, path);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  std::vector<char> zeros(size, 0);
  f.write(zeros.data(), size);
  return path;
}

std::vector<std::uint8_t> Pattern(std::uint32_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> v(size);
  for (std::uint32_t i = 0; i < size; ++i)
    v[i] = static_cast<std::uint8_t>(seed ^ (i * 31 + i / 512));
  return v;
}

TEST(Win32DiskPlatform, TransfersOnAnOrdinaryFile) {
  Win32DiskPlatform p;
  RecordingUi ui;
  const std::string lock = "Lock volume error!";
  DiskAccess disk(p, ui, GetOsFamily(p), lock);
  const std::string path = TempFile(64 * 512);
  DiskHandle h = p.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  ASSERT_NE(kInvalidHandle, h);
  const auto data = Pattern(8 * 512, 0x5A);
  ASSERT_TRUE(disk.NtWrite(h, data.data(), 10, 8));
  std::vector<std::uint8_t> back(8 * 512);
  ASSERT_TRUE(disk.NtRead(h, back.data(), 10, 8));
  EXPECT_EQ(data, back);
  // Reading past the end of the file is a short read, hence a failure.
  EXPECT_FALSE(disk.NtRead(h, back.data(), 60, 8));
  EXPECT_EQ(512u * 3, p.SetFilePointer(h, 512 * 3, FILE_BEGIN));
  ASSERT_TRUE(p.CloseHandle(h));

  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(64u * 512, bytes.size());
  EXPECT_EQ(0, std::memcmp(bytes.data() + 10 * 512, data.data(), data.size()));
  f.close();
  DeleteFileA(path.c_str());
  EXPECT_EQ(0, ui.boxes);
}

TEST(Win32DiskPlatform, SystemQueries) {
  Win32DiskPlatform p;
  EXPECT_EQ(::GetVersion(), p.GetVersion());
  EXPECT_EQ("Windows2K", GetOsFamily(p));  // Wine presents an NT system

  char roots[150] = {};
  const std::uint32_t n = p.GetLogicalDriveStringsA(sizeof roots, roots);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, sizeof roots);
  EXPECT_NE(std::string::npos, std::string(roots, n).find(std::string("C:\\\0", 4)));
  EXPECT_EQ(3u, p.GetDriveTypeA("C:\\"));  // DRIVE_FIXED
  char device[128] = {};
  EXPECT_GT(p.QueryDosDeviceA("C:", device, sizeof device), 0u);
  char label[64], fs[64];
  EXPECT_TRUE(p.GetVolumeInformationA("C:\\", label, sizeof label, fs, sizeof fs));

  // No VWIN32 device on NT: the open fails with INVALID_HANDLE_VALUE.
  DiskHandle v = p.CreateFileA("\\\\.\\vwin32", 0, 0, 0, FILE_FLAG_DELETE_ON_CLOSE);
  EXPECT_EQ(kInvalidHandle, v);
  if (v != kInvalidHandle) p.CloseHandle(v);

  int local = 0;
  EXPECT_EQ(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&local)),
            p.AddressOf(&local));
}

// Sector I/O on a drive letter mapped to an image file by the test script
// (VORNAK_WINE_DRIVE=Y:). The script checks the image from outside.
TEST(Win32WineDrive, SectorsThroughTheVolumeDevice) {
  const char* drive = std::getenv("VORNAK_WINE_DRIVE");
  if (!drive) GTEST_SKIP() << "run by disk_wine_drive.sh";
  Win32DiskPlatform p;
  RecordingUi ui;
  const std::string lock = "Lock volume error!";
  DiskAccess disk(p, ui, GetOsFamily(p), lock);

  // Sector 7 was filled by the script with "SECTOR7." repeated.
  std::vector<std::uint8_t> buf(512);
  ASSERT_TRUE(disk.ReadSectors(drive, buf.data(), 7, 1));
  EXPECT_EQ(0, std::memcmp(buf.data(), "SECTOR7.SECTOR7.", 16));

  // Sectors 100..131 get a pattern the script looks for.
  std::vector<std::uint8_t> data(32 * 512);
  for (std::size_t i = 0; i < data.size(); i += 8) std::memcpy(&data[i], "WRITTEN!", 8);
  ASSERT_TRUE(disk.WriteSectors(drive, data.data(), 100, 32));
  std::vector<std::uint8_t> back(32 * 512);
  ASSERT_TRUE(disk.ReadSectors(drive, back.data(), 100, 32));
  EXPECT_EQ(data, back);

  // The image holds 2048 sectors: the last reads, the one after fails.
  EXPECT_TRUE(disk.ReadSectors(drive, buf.data(), 2047, 1));
  EXPECT_FALSE(disk.ReadSectors(drive, buf.data(), 2048, 1));
  EXPECT_EQ(0, ui.boxes);
}

}  // namespace
}  // namespace vornak
