#include "disk_platform_win32.h"

#include <windows.h>

namespace vornak {

namespace {
HANDLE H(DiskHandle h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

static_assert(sizeof(DiskHandle) == sizeof(HANDLE), "a DiskHandle holds a HANDLE");

std::uint32_t Win32DiskPlatform::GetVersion() { return ::GetVersion(); }

DiskHandle Win32DiskPlatform::CreateFileA(const char* name, std::uint32_t access,
                                          std::uint32_t share, std::uint32_t disposition,
                                          std::uint32_t flags) {
  HANDLE h = ::CreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
  return reinterpret_cast<DiskHandle>(h);
}

bool Win32DiskPlatform::CloseHandle(DiskHandle h) { return ::CloseHandle(H(h)) != 0; }

bool Win32DiskPlatform::DeviceIoControl(DiskHandle h, std::uint32_t code, void* in,
                                        std::uint32_t inSize, void* out, std::uint32_t outSize,
                                        std::uint32_t* returned) {
  DWORD n = 0;
  const BOOL ok = ::DeviceIoControl(H(h), code, in, inSize, out, outSize, &n, nullptr);
  if (returned) *returned = n;
  return ok != 0;
}

std::uint32_t Win32DiskPlatform::SetFilePointer(DiskHandle h, std::int32_t distance,
                                                std::uint32_t method) {
  return ::SetFilePointer(H(h), distance, nullptr, method);
}

bool Win32DiskPlatform::ReadFile(DiskHandle h, void* buffer, std::uint32_t size,
                                 std::uint32_t* done) {
  DWORD n = 0;
  const BOOL ok = ::ReadFile(H(h), buffer, size, &n, nullptr);
  if (done) *done = n;
  return ok != 0;
}

bool Win32DiskPlatform::WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                                  std::uint32_t* done) {
  DWORD n = 0;
  const BOOL ok = ::WriteFile(H(h), buffer, size, &n, nullptr);
  if (done) *done = n;
  return ok != 0;
}

bool Win32DiskPlatform::FlushFileBuffers(DiskHandle h) { return ::FlushFileBuffers(H(h)) != 0; }

std::uint32_t Win32DiskPlatform::GetLastError() { return ::GetLastError(); }

void Win32DiskPlatform::Sleep(std::uint32_t ms) { ::Sleep(ms); }

std::uint32_t Win32DiskPlatform::QueryDosDeviceA(const char* device, char* buffer,
                                                 std::uint32_t max) {
  return ::QueryDosDeviceA(device, buffer, max);
}

std::uint32_t Win32DiskPlatform::GetLogicalDriveStringsA(std::uint32_t length, char* buffer) {
  return ::GetLogicalDriveStringsA(length, buffer);
}

std::uint32_t Win32DiskPlatform::GetDriveTypeA(const char* root) { return ::GetDriveTypeA(root); }

bool Win32DiskPlatform::GetVolumeInformationA(const char* root, char* volumeName,
                                              std::uint32_t volumeSize, char* fsName,
                                              std::uint32_t fsSize) {
  return ::GetVolumeInformationA(root, volumeName, volumeSize, nullptr, nullptr, nullptr, fsName,
                                 fsSize) != 0;
}

// On 32-bit Windows a register block carries the address itself.
std::uint32_t Win32DiskPlatform::AddressOf(void* p) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

}  // namespace vornak
