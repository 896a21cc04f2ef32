// The platform calls that disk access makes, behind one narrow interface.
//
// DiskAccess (and the Low surface pass) talk to the system only through
// DiskPlatform. The programs bind it to the Win32 API (disk_platform_win32.cpp);
// the tests bind it to a fake machine that emulates either Windows family over
// disk-image files.
//
// The methods keep the Win32 names, argument order and meaning, so the
// algorithms read like the Win32 code they are, and the Win32 binding is a
// one-line forward per call.
#pragma once

#include <cstdint>

namespace vornak {

// An opaque handle value. kInvalidHandle is INVALID_HANDLE_VALUE.
using DiskHandle = std::uintptr_t;
constexpr DiskHandle kInvalidHandle = ~static_cast<DiskHandle>(0);

// These names are macros once <windows.h> is in: keep them out of the way
// while the constants are declared, and bring them back afterwards.
#include "disk_win32_names_begin.h"
// Win32 constants used by the disk calls, with their Windows values.
namespace win {
constexpr std::uint32_t GENERIC_READ = 0x80000000u;
constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
constexpr std::uint32_t FILE_SHARE_READ = 0x00000001u;
constexpr std::uint32_t FILE_SHARE_WRITE = 0x00000002u;
constexpr std::uint32_t OPEN_EXISTING = 3u;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x00000080u;
constexpr std::uint32_t FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u;
constexpr std::uint32_t FILE_BEGIN = 0u;
constexpr std::uint32_t DRIVE_REMOVABLE = 2u;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5u;

constexpr std::uint32_t IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x00070000u;
constexpr std::uint32_t IOCTL_DISK_GET_DRIVE_LAYOUT = 0x0007400Cu;
constexpr std::uint32_t FSCTL_LOCK_VOLUME = 0x00090018u;
constexpr std::uint32_t FSCTL_DISMOUNT_VOLUME = 0x00090020u;

constexpr std::uint32_t VWIN32_DIOC_DOS_IOCTL = 1u;      // INT 21h 44xxh
constexpr std::uint32_t VWIN32_DIOC_DOS_DRIVEINFO = 6u;  // INT 21h 73xxh

constexpr std::uint32_t MB_OK = 0x00000000u;
constexpr std::uint32_t MB_ICONHAND = 0x00000010u;
}  // namespace win
#include "disk_win32_names_end.h"

class DiskPlatform {
 public:
  virtual ~DiskPlatform() = default;

  virtual std::uint32_t GetVersion() = 0;

  // CreateFileA without security attributes and template.
  virtual DiskHandle CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags) = 0;
  virtual bool CloseHandle(DiskHandle h) = 0;

  virtual bool DeviceIoControl(DiskHandle h, std::uint32_t code, void* in, std::uint32_t inSize,
                               void* out, std::uint32_t outSize, std::uint32_t* returned) = 0;

  // SetFilePointer with no high part; returns the new low position.
  virtual std::uint32_t SetFilePointer(DiskHandle h, std::int32_t distance,
                                       std::uint32_t method) = 0;
  virtual bool ReadFile(DiskHandle h, void* buffer, std::uint32_t size, std::uint32_t* done) = 0;
  virtual bool WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                         std::uint32_t* done) = 0;
  virtual bool FlushFileBuffers(DiskHandle h) = 0;
  virtual std::uint32_t GetLastError() = 0;
  virtual void Sleep(std::uint32_t ms) = 0;

  virtual std::uint32_t QueryDosDeviceA(const char* device, char* buffer, std::uint32_t max) = 0;
  virtual std::uint32_t GetLogicalDriveStringsA(std::uint32_t length, char* buffer) = 0;
  virtual std::uint32_t GetDriveTypeA(const char* root) = 0;
  // Volume name and file-system name only; the other outputs are not used.
  virtual bool GetVolumeInformationA(const char* root, char* volumeName, std::uint32_t volumeSize,
                                     char* fsName, std::uint32_t fsSize) = 0;

  // The 32-bit value that a Windows 98 register block carries for a buffer
  // (EDX of 440Dh, EBX of 7305h, the buffer field of DISKIO). On Win32 it is
  // the address itself; the fake hands out tokens that it maps back, so the
  // same code runs in 64-bit native tests.
  virtual std::uint32_t AddressOf(void* p) = 0;
};

}  // namespace vornak
