// The disk seam of the formatter on Linux: one block device (a whole disk or
// a partition) or one regular image file, presented as the removable drive
// "E:" of a Windows 2000/XP-family system.
//
// DiskAccess then finds what it looks for on that family: \\.\vwin32 does not
// open, \\.\E: opens the target, the geometry answers removable media (or
// fixed media for a block device the kernel does not flag removable), the
// drive's device name is \Device\Harddisk1, and the layout of
// \\.\PHYSICALDRIVE1 gives the target's size as its first partition's length.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <functional>
#include <map>
#include <string>

#include "disk_platform.h"

namespace vornak_cli {

// The drive string under which the target appears.
constexpr const char* kCliDrive = "E:";

// The file the target's checks were made on. Every open of the target must
// reach this same file: a name re-pointed during the run (a symbolic link, a
// device node replaced) is refused rather than followed.
struct TargetIdentity {
  bool known = false;
  bool blockDevice = false;
  dev_t device = 0;  // st_dev
  ino_t inode = 0;   // st_ino
  dev_t rdev = 0;    // st_rdev of a block device
};
TargetIdentity IdentityOf(const struct stat& st);

// A buffer for direct (O_DIRECT) transfers: its start aligned to the page
// and any sector size, grown on demand and kept for the next transfer.
class DirectBuffer {
 public:
  static constexpr std::size_t kAlignment = 4096;  // bytes: page and sector
  // At least `size` bytes; nullptr when they cannot be had.
  unsigned char* Get(std::size_t size);

 private:
  struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
  };
  std::unique_ptr<unsigned char, FreeDeleter> data_;
  std::size_t size_ = 0;
};

class PosixDiskPlatform : public vornak::DiskPlatform {
 public:
  // `removable` is what the geometry reports (media type 11 or 12).
  PosixDiskPlatform(std::string targetPath, bool removable, TargetIdentity identity = {});
  ~PosixDiskPlatform() override;

  PosixDiskPlatform(const PosixDiskPlatform&) = delete;
  PosixDiskPlatform& operator=(const PosixDiskPlatform&) = delete;

  // Handles open now; every operation of DiskAccess closes what it opened.
  std::size_t OpenHandles() const { return handles_.size(); }

  // The first failure of a system call on the target, as "PATH: reason"
  // ("" when none failed). The formatter only learns that a call failed.
  const std::string& FailureText() const { return failure_; }
  // Writes that the system could not put on the disk: a flush or close of a
  // written handle failed, after the formatter had counted them done.
  bool WritesLost() const { return writesLost_; }
  // Shows only the first `bytes` of the target (a whole number of sectors):
  // its size, geometry and layout, and no transfer past them.
  void LimitSize(std::uint64_t bytes) { sizeLimit_ = bytes; }
  // Flushes a written file to its disk (fdatasync); replaceable by tests.
  std::function<int(int)> syncFile;

  std::uint32_t GetVersion() override;
  vornak::DiskHandle CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags) override;
  bool CloseHandle(vornak::DiskHandle h) override;
  bool DeviceIoControl(vornak::DiskHandle h, std::uint32_t code, void* in, std::uint32_t inSize,
                       void* out, std::uint32_t outSize, std::uint32_t* returned) override;
  std::uint32_t SetFilePointer(vornak::DiskHandle h, std::int32_t distance,
                               std::uint32_t method) override;
  bool ReadFile(vornak::DiskHandle h, void* buffer, std::uint32_t size,
                std::uint32_t* done) override;
  bool WriteFile(vornak::DiskHandle h, const void* buffer, std::uint32_t size,
                 std::uint32_t* done) override;
  bool FlushFileBuffers(vornak::DiskHandle h) override;
  std::uint32_t GetLastError() override { return lastError_; }
  void Sleep(std::uint32_t ms) override;
  std::uint32_t QueryDosDeviceA(const char* device, char* buffer, std::uint32_t max) override;
  std::uint32_t GetLogicalDriveStringsA(std::uint32_t length, char* buffer) override;
  std::uint32_t GetDriveTypeA(const char* root) override;
  bool GetVolumeInformationA(const char* root, char* volumeName, std::uint32_t volumeSize,
                             char* fsName, std::uint32_t fsSize) override;
  std::uint32_t AddressOf(void* p) override;

 private:
  struct Open {
    int fd = -1;
    bool blockDevice = false;
    bool direct = false;  // O_DIRECT: transfers go through the aligned buffer
    bool writable = false;
    bool dirty = false;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
  };
  vornak::DiskHandle OpenTarget(bool writable);
  Open* Find(vornak::DiskHandle h);
  void SetErrorFromErrno(int error);
  void NoteFailure(const std::string& what);
  // Flushes a handle that wrote; false (the failure noted) when it fails.
  bool SyncWritten(Open& file);

  // Whether a caller's buffer can be handed to a direct transfer as it is
  // (the device itself refuses a position or length off its sectors); a
  // copy through the bounce buffer costs as much as the transfer from a fast
  // device.
  static bool DirectReady(const void* buffer);

  std::string path_;
  bool removable_;
  DirectBuffer bounce_;  // direct transfers of buffers that are not aligned
  TargetIdentity identity_;
  std::string failure_;
  bool writesLost_ = false;
  std::uint64_t sizeLimit_ = UINT64_MAX;
  std::map<vornak::DiskHandle, Open> handles_;
  vornak::DiskHandle nextHandle_ = 0x100;
  std::uint32_t lastError_ = 0;
};

// Size in bytes of an open block device or regular file; false when it
// cannot be taken.
bool TargetSize(int fd, std::uint64_t& size);

// Reads `length` bytes at byte `offset` of the volume; false when short.
using VolumeReader = std::function<bool(std::uint64_t offset, void* buffer, std::size_t length)>;

// The volume label and file-system name of a FAT12/16 volume, as Windows
// reports them: the label of the root directory's label entry, else the boot
// sector's ("NO NAME" is no label). False when sector 0 is not the boot
// sector of such a volume.
bool ReadFatVolumeInfo(const VolumeReader& read, std::string& label, std::string& fsName);

}  // namespace vornak_cli
