#include "disk_access.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace vornak {

namespace {

constexpr const char* kCaptionSorry = "Sorry!";

// Sector numbers read by the size probe: the total-sector counts of four of
// the supported layouts, smallest first.
constexpr std::uint32_t kProbeSectors[] = {60669, 125181, 254205, 512127};

// Closes a handle when it goes out of scope.
class HandleGuard {
 public:
  HandleGuard(DiskPlatform& p, DiskHandle h) : p_(p), h_(h) {}
  ~HandleGuard() { Close(); }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;
  DiskHandle get() const { return h_; }
  bool valid() const { return h_ != kInvalidHandle; }
  void Close() {
    if (h_ != kInvalidHandle) {
      p_.CloseHandle(h_);
      h_ = kInvalidHandle;
    }
  }

 private:
  DiskPlatform& p_;
  DiskHandle h_;
};

std::string DevicePath(const std::string& drive) { return "\\\\.\\" + drive.substr(0, 2); }

// Byte length of `count` sectors, or false when it does not fit 32 bits.
bool ByteLength(std::uint32_t count, std::uint32_t& bytes) {
  if (count > (0xFFFFFFFFu >> 9)) return false;
  bytes = count << 9;
  return true;
}

// Volume and drive handles do no buffering: Windows refuses a transfer whose
// buffer address is not a multiple of the sector size. A caller's buffer at
// another address goes through a sector-aligned copy.
class AlignedTransfer {
 public:
  AlignedTransfer(const void* buffer, std::uint32_t bytes) : caller_(buffer) {
    if (reinterpret_cast<std::uintptr_t>(buffer) % kSectorSize == 0) {
      data_ = const_cast<void*>(buffer);
      return;
    }
    storage_.reset(new (std::nothrow) std::uint8_t[bytes + kSectorSize]);
    if (!storage_) return;
    const auto at = reinterpret_cast<std::uintptr_t>(storage_.get());
    data_ = storage_.get() + (kSectorSize - at % kSectorSize) % kSectorSize;
  }
  // Null when the copy could not be allocated.
  void* data() const { return data_; }
  void CopyIn(std::uint32_t bytes) {
    if (storage_ && bytes) std::memcpy(data_, caller_, bytes);
  }
  void CopyOut(void* buffer, std::uint32_t bytes) {
    if (storage_ && bytes) std::memcpy(buffer, data_, bytes);
  }

 private:
  const void* caller_;
  std::unique_ptr<std::uint8_t[]> storage_;
  void* data_ = nullptr;
};

}  // namespace

std::string GetOsFamily(DiskPlatform& platform) {
  const auto v = static_cast<std::int32_t>(platform.GetVersion());
  return v < 0 ? kFamilyWindows98 : kFamilyWindows2K;
}

int DriveNumber(const std::string& drive) {
  if (drive.size() < 2 || drive[1] != ':') return 0;
  const unsigned char c = static_cast<unsigned char>(drive[0]);
  if (c > 0x7F || !std::isalpha(c)) return 0;
  return std::toupper(c) - 0x40;
}

DiskAccess::DiskAccess(DiskPlatform& platform, DiskUi& ui, std::string family,
                       const std::string& msgLockFail)
    : platform_(platform), ui_(ui), family_(std::move(family)), msgLockFail_(msgLockFail) {}

DiskHandle DiskAccess::OpenVwin32() {
  return platform_.CreateFileA("\\\\.\\vwin32", 0, 0, 0, win::FILE_FLAG_DELETE_ON_CLOSE);
}

DiskHandle DiskAccess::OpenNtVolume(const std::string& drive) {
  if (DriveNumber(drive) == 0) return kInvalidHandle;
  return platform_.CreateFileA(DevicePath(drive).c_str(), win::GENERIC_READ | win::GENERIC_WRITE,
                               win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0);
}

// 440Dh/0860h into `params`. `callOk` tells whether DeviceIoControl returned
// nonzero; the result is that and carry clear.
bool DiskAccess::DeviceParams(const std::string& drive, DEVICEPARAMS& params, bool& callOk) {
  callOk = false;
  const int number = DriveNumber(drive);
  if (number == 0) return false;
  HandleGuard vwin32(platform_, OpenVwin32());
  if (!vwin32.valid()) return false;
  std::memset(&params, 0, sizeof params);
  params.dpSpecFunc = 0;
  DIOC_REGISTERS r{};
  r.reg_EBX = static_cast<std::uint32_t>(number);
  r.reg_EDX = platform_.AddressOf(&params);
  r.reg_ECX = dos::kGetDeviceParams;
  r.reg_EAX = dos::kIoctl;
  r.reg_Flags = kCarryFlag;
  std::uint32_t returned = 0;
  callOk = platform_.DeviceIoControl(vwin32.get(), win::VWIN32_DIOC_DOS_IOCTL, &r, sizeof r, &r,
                                     sizeof r, &returned);
  return callOk && (r.reg_Flags & kCarryFlag) == 0;
}

bool DiskAccess::IsRemovableDisk(const std::string& drive) {
  if (DriveNumber(drive) == 0) return false;
  if (GetOsFamily(platform_) == kFamilyWindows98) {
    DEVICEPARAMS params;
    bool callOk = false;
    return DeviceParams(drive, params, callOk) && params.dpDevType == dos::kDeviceTypeRemovable;
  }
  HandleGuard volume(platform_, platform_.CreateFileA(DevicePath(drive).c_str(), 0,
                                                      win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                                      win::OPEN_EXISTING, 0));
  if (!volume.valid()) return false;
  unsigned char out[kGeometryBufferSize] = {};
  std::uint32_t returned = 0;
  if (!platform_.DeviceIoControl(volume.get(), win::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, out,
                                 sizeof out, &returned) ||
      returned == 0)
    return false;
  // A short answer that does not reach MediaType is not a removable disk.
  if (returned < offsetof(DISK_GEOMETRY, MediaType) + 4) return false;
  std::uint32_t mediaType;
  std::memcpy(&mediaType, out + offsetof(DISK_GEOMETRY, MediaType), 4);
  return mediaType == kMediaTypeRemovable;
}

bool DiskAccess::VolumeLockCall(const std::string& drive, std::uint32_t minorCode) {
  const int number = DriveNumber(drive);
  if (number == 0) return false;
  HandleGuard vwin32(platform_, OpenVwin32());
  if (!vwin32.valid()) return false;
  DIOC_REGISTERS r{};
  r.reg_EBX = static_cast<std::uint32_t>(number);  // BL = drive, BH = lock level 0
  r.reg_EDX = 0;                                   // permissions
  r.reg_ECX = minorCode;
  r.reg_EAX = dos::kIoctl;
  std::uint32_t returned = 0;
  const bool ok = platform_.DeviceIoControl(vwin32.get(), win::VWIN32_DIOC_DOS_IOCTL, &r, sizeof r,
                                            &r, sizeof r, &returned);
  return ok && (r.reg_Flags & kCarryFlag) == 0;
}

bool DiskAccess::LockVolume(const std::string& drive) {
  return VolumeLockCall(drive, dos::kLockLogicalVolume);
}

bool DiskAccess::UnlockVolume(const std::string& drive) {
  return VolumeLockCall(drive, dos::kUnlockLogicalVolume);
}

std::uint32_t DiskAccess::GetDiskSize(const std::string& drive) {
  if (DriveNumber(drive) == 0) return 0;
  if (family_ == kFamilyWindows98) {
    DEVICEPARAMS params;
    bool callOk = false;
    if (!DeviceParams(drive, params, callOk)) return 0;
    const std::uint32_t sectors = params.dpSectors != 0 ? params.dpSectors : params.dpHugeSectors;
    const std::uint64_t bytes = static_cast<std::uint64_t>(params.dpBytesPerSec) * sectors;
    return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(bytes);
  }

  char name[128] = {};
  const std::uint32_t n = platform_.QueryDosDeviceA(drive.substr(0, 2).c_str(), name, sizeof name);
  if (n == 0) return 0;
  name[sizeof name - 1] = '\0';
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  if (upper.find("HARDDISKVOLUME") != std::string::npos) return ProbeVolumeSize(drive);

  const std::size_t at = upper.find("HARDDISK");
  if (at == std::string::npos) return 0;
  // The whole decimal number after "HARDDISK": \Device\Harddisk12 is disk 12,
  // not disk 1.
  std::size_t pos = at + 8;
  if (pos >= upper.size() || !std::isdigit(static_cast<unsigned char>(upper[pos]))) return 0;
  unsigned long disk = 0;
  while (pos < upper.size() && std::isdigit(static_cast<unsigned char>(upper[pos]))) {
    disk = disk * 10 + static_cast<unsigned long>(upper[pos] - '0');
    if (disk > 9999) return 0;
    ++pos;
  }
  char path[40];
  std::snprintf(path, sizeof path, "\\\\.\\PHYSICALDRIVE%lu", disk);
  HandleGuard physical(platform_,
                       platform_.CreateFileA(path, win::GENERIC_READ, win::FILE_SHARE_READ,
                                             win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL));
  if (!physical.valid()) return 0;
  unsigned char out[kLayoutBufferSize] = {};
  std::uint32_t returned = 0;
  if (!platform_.DeviceIoControl(physical.get(), win::IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, out,
                                 sizeof out, &returned) ||
      returned == 0)
    return 0;
  if (returned < kFirstPartitionLengthOffset + 8) return 0;
  std::uint32_t low, high;
  std::memcpy(&low, out + kFirstPartitionLengthOffset, 4);
  std::memcpy(&high, out + kFirstPartitionLengthOffset + 4, 4);
  // A disk of 4 GiB or more is reported as the largest 32-bit size, which no
  // layout supports, rather than by the low 32 bits of its length.
  return high != 0 ? 0xFFFFFFFFu : low;
}

// A failed read marks the end of the volume. The volume is opened once for
// all the reads: an open that is refused (another program holds the volume
// without sharing writing, the user may not open it) says nothing about its
// size, and must not pass for a volume that ends before the first step.
std::uint32_t DiskAccess::ProbeVolumeSize(const std::string& drive) {
  HandleGuard volume(platform_, OpenNtVolume(drive));
  if (!volume.valid()) return 0;
  unsigned char sector[kSectorSize];
  for (std::uint32_t s : kProbeSectors) {
    if (!NtRead(volume.get(), sector, s, 1)) return s * kSectorSize;
  }
  return 0;
}

bool DiskAccess::Vwin32Transfer(DiskHandle vwin32, const std::string& drive, void* buffer,
                                std::uint32_t first, std::uint32_t count, bool write) {
  const int number = DriveNumber(drive);
  if (number == 0 || count > 0xFFFF || (buffer == nullptr && count != 0)) return false;
  DISKIO packet;
  packet.diStartSector = first;
  packet.diSectors = static_cast<std::uint16_t>(count);
  packet.diBuffer = platform_.AddressOf(buffer);
  DIOC_REGISTERS r{};
  r.reg_EBX = platform_.AddressOf(&packet);
  r.reg_EDX = static_cast<std::uint32_t>(number);
  r.reg_ECX = dos::kPacketCall;
  r.reg_EAX = dos::kExtAbsDiskReadWrite;
  r.reg_ESI = write ? dos::kModeWrite : dos::kModeRead;
  std::uint32_t returned = 0;
  const bool ok = platform_.DeviceIoControl(vwin32, win::VWIN32_DIOC_DOS_DRIVEINFO, &r, sizeof r,
                                            &r, sizeof r, &returned);
  return ok && (r.reg_Flags & kCarryFlag) == 0;
}

// The seek takes no high part, so offsets are limited to 2 GiB (the largest
// disk handled is 1 GiB). A seek that does not land where asked fails the
// transfer rather than moving data at whatever position the handle holds.
bool DiskAccess::Seek(DiskHandle volume, std::uint32_t first) {
  if (first > kMaxNtSector) return false;
  const std::uint32_t offset = first << 9;
  return platform_.SetFilePointer(volume, static_cast<std::int32_t>(offset), win::FILE_BEGIN) ==
         offset;
}

bool DiskAccess::NtRead(DiskHandle volume, void* buffer, std::uint32_t first, std::uint32_t count) {
  std::uint32_t bytes;
  if (!ByteLength(count, bytes) || (buffer == nullptr && count != 0)) return false;
  AlignedTransfer aligned(buffer, bytes);
  if (!aligned.data() || !Seek(volume, first)) return false;
  std::uint32_t done = 0;
  const bool ok = platform_.ReadFile(volume, aligned.data(), bytes, &done);
  aligned.CopyOut(buffer, done);
  return ok && done == bytes;
}

// Vista and later refuse raw writes inside a mounted volume: lock it (other
// programs may hold it open for a moment, so a few tries), then dismount it on
// this handle. The dismount is made even when no lock could be taken: the
// user has confirmed that everything on the disk goes.
bool DiskAccess::NtMakeWritable(DiskHandle volume) {
  std::uint32_t returned = 0;
  for (int attempt = 0; attempt < kNtLockAttempts; ++attempt) {
    if (platform_.DeviceIoControl(volume, win::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0,
                                  &returned))
      break;
    if (attempt + 1 < kNtLockAttempts) platform_.Sleep(kNtLockRetryMs);
  }
  return platform_.DeviceIoControl(volume, win::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0,
                                   &returned);
}

bool DiskAccess::NtWrite(DiskHandle volume, const void* buffer, std::uint32_t first,
                         std::uint32_t count) {
  std::uint32_t bytes;
  if (!ByteLength(count, bytes) || (buffer == nullptr && count != 0)) return false;
  AlignedTransfer aligned(buffer, bytes);
  if (!aligned.data() || !Seek(volume, first)) return false;
  aligned.CopyIn(bytes);
  std::uint32_t done = 0;
  bool ok = platform_.WriteFile(volume, aligned.data(), bytes, &done);
  if (!ok && platform_.GetLastError() == win::ERROR_ACCESS_DENIED) {
    if (!NtMakeWritable(volume) || !Seek(volume, first)) return false;
    done = 0;
    ok = platform_.WriteFile(volume, aligned.data(), bytes, &done);
  }
  if (!ok || done != bytes) return false;
  platform_.FlushFileBuffers(volume);
  return true;
}

bool DiskAccess::ReadSectors(const std::string& drive, void* buffer, std::uint32_t first,
                             std::uint32_t count) {
  if (DriveNumber(drive) == 0 || (buffer == nullptr && count != 0)) return false;
  {
    HandleGuard vwin32(platform_, OpenVwin32());
    if (vwin32.valid()) return Vwin32Transfer(vwin32.get(), drive, buffer, first, count, false);
  }
  HandleGuard volume(platform_, OpenNtVolume(drive));
  if (!volume.valid()) return false;
  return NtRead(volume.get(), buffer, first, count);
}

bool DiskAccess::WriteSectors(const std::string& drive, const void* buffer, std::uint32_t first,
                              std::uint32_t count) {
  if (DriveNumber(drive) == 0 || (buffer == nullptr && count != 0)) return false;
  {
    HandleGuard vwin32(platform_, OpenVwin32());
    if (vwin32.valid()) {
      // The packet field is 16 bits: a larger count would silently write
      // fewer sectors than asked.
      if (count > 0xFFFF) return false;
      if (!LockVolume(drive)) {
        ui_.MessageBoxA(msgLockFail_.c_str(), kCaptionSorry, win::MB_OK | win::MB_ICONHAND);
        return false;
      }
      const bool ok =
          Vwin32Transfer(vwin32.get(), drive, const_cast<void*>(buffer), first, count, true);
      vwin32.Close();
      UnlockVolume(drive);
      return ok;
    }
  }
  HandleGuard volume(platform_, OpenNtVolume(drive));
  if (!volume.valid()) return false;
  return NtWrite(volume.get(), buffer, first, count);
}

}  // namespace vornak
