// A DiskPlatform over one regular file presented as the NT volume \\.\E:
// (VWIN32 does not open), for measuring the surface passes on Linux.
#pragma once

#include <string>

#include "disk_platform.h"

namespace vornak::bench {

class PosixFilePlatform : public DiskPlatform {
 public:
  // `flush`: FlushFileBuffers is fdatasync (as on the device); otherwise it
  // does nothing, to see what the flush costs.
  PosixFilePlatform(std::string path, bool flush) : path_(std::move(path)), flush_(flush) {}

  std::uint32_t GetVersion() override { return 0x0A280105; }
  DiskHandle CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                         std::uint32_t disposition, std::uint32_t flags) override;
  bool CloseHandle(DiskHandle h) override;
  bool DeviceIoControl(DiskHandle, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t,
                       std::uint32_t*) override {
    return false;
  }
  std::uint32_t SetFilePointer(DiskHandle h, std::int32_t distance, std::uint32_t method) override;
  bool ReadFile(DiskHandle h, void* buffer, std::uint32_t size, std::uint32_t* done) override;
  bool WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                 std::uint32_t* done) override;
  bool FlushFileBuffers(DiskHandle h) override;
  std::uint32_t GetLastError() override { return lastError_; }
  void Sleep(std::uint32_t) override {}
  std::uint32_t QueryDosDeviceA(const char*, char*, std::uint32_t) override { return 0; }
  std::uint32_t GetLogicalDriveStringsA(std::uint32_t, char*) override { return 0; }
  std::uint32_t GetDriveTypeA(const char*) override { return 0; }
  bool GetVolumeInformationA(const char*, char*, std::uint32_t, char*, std::uint32_t) override {
    return false;
  }
  std::uint32_t AddressOf(void* p) override {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
  }

  long long Flushes() const { return flushes_; }

 private:
  std::string path_;
  bool flush_;
  std::uint32_t lastError_ = 0;
  long long flushes_ = 0;
};

}  // namespace vornak::bench
