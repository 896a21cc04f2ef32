// DiskPlatform bound to the Win32 API (windows build only).
#pragma once

#include "disk_platform.h"

namespace vornak {

class Win32DiskPlatform : public DiskPlatform {
 public:
  std::uint32_t GetVersion() override;
  DiskHandle CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                         std::uint32_t disposition, std::uint32_t flags) override;
  bool CloseHandle(DiskHandle h) override;
  bool DeviceIoControl(DiskHandle h, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override;
  std::uint32_t SetFilePointer(DiskHandle h, std::int32_t distance, std::uint32_t method) override;
  bool ReadFile(DiskHandle h, void* buffer, std::uint32_t size, std::uint32_t* done) override;
  bool WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                 std::uint32_t* done) override;
  bool FlushFileBuffers(DiskHandle h) override;
  std::uint32_t GetLastError() override;
  void Sleep(std::uint32_t ms) override;
  std::uint32_t QueryDosDeviceA(const char* device, char* buffer, std::uint32_t max) override;
  std::uint32_t GetLogicalDriveStringsA(std::uint32_t length, char* buffer) override;
  std::uint32_t GetDriveTypeA(const char* root) override;
  bool GetVolumeInformationA(const char* root, char* volumeName, std::uint32_t volumeSize,
                             char* fsName, std::uint32_t fsSize) override;
  std::uint32_t AddressOf(void* p) override;
};

}  // namespace vornak
