// Image-backed removable test drives for the end-to-end tests (windows build
// only).
//
// Wine can present a disk-image file as drive E: (sector I/O through \\.\E:
// reaches the image) but cannot answer the geometry ioctl or the drive's size.
// TestDiskBinding is a DiskPlatform decorator that answers those for the
// drives named in a configuration file and forwards every other call to the
// real binding. The program installs it only when the environment variable
// VORNAK_TEST_DRIVES names that file; without the variable nothing changes.
//
// The file is read again on every drive scan (GetLogicalDriveStringsA), so a
// test plugs and unplugs drives by editing it and broadcasting
// WM_DEVICECHANGE. One drive per line, '#' starts a comment:
//
//   E: Z:\tmp\e.img                   plugged in, backed by that image file
//   F: Z:\tmp\f.img unplugged         configured but pulled out
//   G: Z:\tmp\g.img bad=2000+8,40961  sectors that read back wrong
//
// A configured drive reports DRIVE_REMOVABLE (DRIVE_NO_ROOT_DIR and no volume
// when unplugged), removable media (type 11) in its geometry, and the image
// file's size through QueryDosDeviceA and the physical drive's layout ioctl.
// Reads of listed bad sectors return their bytes inverted.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disk_platform.h"

namespace vornak {

struct TestDrive {
  char letter = 0;
  std::string image;  // Windows path of the image file
  bool plugged = true;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> bad;  // first sector, count
};

// Parses the configuration text; malformed lines are skipped.
std::vector<TestDrive> ParseTestDrives(const std::string& text);

class TestDiskBinding : public DiskPlatform {
 public:
  TestDiskBinding(DiskPlatform& real, std::string configPath);

  // The binding the environment asks for, or null.
  static std::unique_ptr<TestDiskBinding> FromEnvironment(DiskPlatform& real);

  std::uint32_t GetVersion() override { return real_.GetVersion(); }
  DiskHandle CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                         std::uint32_t disposition, std::uint32_t flags) override;
  bool CloseHandle(DiskHandle h) override;
  bool DeviceIoControl(DiskHandle h, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override;
  std::uint32_t SetFilePointer(DiskHandle h, std::int32_t distance, std::uint32_t method) override;
  bool ReadFile(DiskHandle h, void* buffer, std::uint32_t size, std::uint32_t* done) override;
  bool WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                 std::uint32_t* done) override;
  bool FlushFileBuffers(DiskHandle h) override { return real_.FlushFileBuffers(h); }
  std::uint32_t GetLastError() override;
  void Sleep(std::uint32_t ms) override { real_.Sleep(ms); }
  std::uint32_t QueryDosDeviceA(const char* device, char* buffer, std::uint32_t max) override;
  std::uint32_t GetLogicalDriveStringsA(std::uint32_t length, char* buffer) override;
  std::uint32_t GetDriveTypeA(const char* root) override;
  bool GetVolumeInformationA(const char* root, char* volumeName, std::uint32_t volumeSize,
                             char* fsName, std::uint32_t fsSize) override;
  std::uint32_t AddressOf(void* p) override { return real_.AddressOf(p); }

 private:
  void Reload();
  const TestDrive* Find(char letter) const;
  std::uint64_t ImageSize(const TestDrive& drive);

  struct Open {
    char letter = 0;
    bool physical = false;  // a pseudo handle of \\.\PHYSICALDRIVEn
    std::uint64_t position = 0;
  };

  DiskPlatform& real_;
  std::string configPath_;
  std::vector<TestDrive> drives_;
  std::map<DiskHandle, Open> open_;
  DiskHandle nextPseudo_ = 0x7E000000u;
  std::uint32_t lastError_ = 0;
  bool ownError_ = false;
};

}  // namespace vornak
