#include "posix_disk_platform.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "disk_structs.h"

namespace vornak_cli {

using vornak::DiskHandle;
using vornak::kInvalidHandle;
namespace win = vornak::win;

namespace {

// The Windows error codes the seam reports.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotReady = 21;
constexpr std::uint32_t kErrorSectorNotFound = 27;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorDiskFull = 112;

constexpr std::uint32_t kDriveFixed = 3;
constexpr std::uint32_t kFileCurrent = 1;
constexpr std::uint32_t kFileEnd = 2;

// The one physical drive behind E:.
constexpr const char* kDosDeviceName = "\\Device\\Harddisk1";
constexpr const char* kVolumePath = "\\\\.\\E:";
constexpr const char* kPhysicalPath = "\\\\.\\PHYSICALDRIVE1";

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return *a == *b;
}

std::uint16_t Get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::string TrimmedField(const unsigned char* p, std::size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

TargetIdentity IdentityOf(const struct stat& st) {
  TargetIdentity id;
  id.known = true;
  id.blockDevice = S_ISBLK(st.st_mode);
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.rdev = id.blockDevice ? st.st_rdev : 0;
  return id;
}

bool TargetSize(int fd, std::uint64_t& size) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  if (S_ISREG(st.st_mode)) {
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }
  if (S_ISBLK(st.st_mode)) {
    std::uint64_t bytes = 0;
    if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) return false;
    size = bytes;
    return true;
  }
  return false;
}

bool ReadFatVolumeInfo(const VolumeReader& read, std::string& label, std::string& fsName) {
  unsigned char boot[512];
  if (!read(0, boot, sizeof boot)) return false;
  if (boot[510] != 0x55 || boot[511] != 0xAA) return false;
  const std::uint16_t bytesPerSector = Get16(boot + 0x0B);
  const unsigned sectorsPerCluster = boot[0x0D];
  const std::uint16_t reserved = Get16(boot + 0x0E);
  const unsigned fats = boot[0x10];
  const std::uint16_t rootEntries = Get16(boot + 0x11);
  const std::uint16_t fatSectors = Get16(boot + 0x16);
  if ((bytesPerSector != 512 && bytesPerSector != 1024 && bytesPerSector != 2048 &&
       bytesPerSector != 4096) ||
      sectorsPerCluster == 0 || (sectorsPerCluster & (sectorsPerCluster - 1)) != 0 ||
      reserved == 0 || fats == 0 || rootEntries == 0 || fatSectors == 0)
    return false;  // not FAT12/16 (FAT32 keeps its root directory in clusters)

  const bool extended = boot[0x26] == 0x29;
  fsName = extended ? TrimmedField(boot + 0x36, 8) : std::string("FAT");
  if (fsName.compare(0, 3, "FAT") != 0) fsName = "FAT";
  label = extended ? TrimmedField(boot + 0x2B, 11) : std::string();

  const std::uint64_t rootOffset =
      (static_cast<std::uint64_t>(reserved) + std::uint64_t{fats} * fatSectors) * bytesPerSector;
  std::vector<unsigned char> root(static_cast<std::size_t>(rootEntries) * 32);
  if (read(rootOffset, root.data(), root.size())) {
    for (std::size_t at = 0; at < root.size(); at += 32) {
      const unsigned char* e = root.data() + at;
      if (e[0] == 0x00) break;
      if (e[0] == 0xE5) continue;
      const unsigned char attributes = e[11];
      if ((attributes & 0x0F) == 0x0F) continue;  // long-name piece
      if (attributes & 0x08) {
        label = TrimmedField(e, 11);
        break;
      }
    }
  }
  if (label == "NO NAME") label.clear();
  return true;
}

PosixDiskPlatform::PosixDiskPlatform(std::string targetPath, bool removable,
                                     TargetIdentity identity)
    : syncFile(::fdatasync),
      path_(std::move(targetPath)),
      removable_(removable),
      identity_(identity) {}

PosixDiskPlatform::~PosixDiskPlatform() {
  for (auto& entry : handles_) {
    SyncWritten(entry.second);
    ::close(entry.second.fd);
  }
}

void PosixDiskPlatform::NoteFailure(const std::string& what) {
  if (failure_.empty()) failure_ = path_ + ": " + what;
}

bool PosixDiskPlatform::SyncWritten(Open& file) {
  if (!file.dirty) return true;
  file.dirty = false;
  if (syncFile(file.fd) == 0) return true;
  const int error = errno;
  writesLost_ = true;
  NoteFailure(std::strerror(error));
  SetErrorFromErrno(error);
  return false;
}

void PosixDiskPlatform::SetErrorFromErrno(int error) {
  NoteFailure(std::strerror(error));
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV: lastError_ = kErrorFileNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS: lastError_ = kErrorAccessDenied; break;
    case EBUSY: lastError_ = kErrorSharingViolation; break;
    case ENOSPC: lastError_ = kErrorDiskFull; break;
    case ENOMEDIUM: lastError_ = kErrorNotReady; break;
    default: lastError_ = kErrorGenFailure; break;
  }
}

std::uint32_t PosixDiskPlatform::GetVersion() {
  return 0x0A280105u;  // Windows XP (5.1, build 2600): top bit clear
}

DiskHandle PosixDiskPlatform::OpenTarget(bool writable) {
  int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  bool blockDevice = identity_.blockDevice;
  if (!identity_.known) {
    struct stat st {};
    blockDevice = stat(path_.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
  }
  // A block device opened for writing is opened exclusively: the kernel
  // refuses it while a file system on it is mounted or another program holds
  // it the same way. Its transfers bypass the page cache (O_DIRECT), so that
  // a write returns when the device has it and fails where the device fails.
  if (writable && blockDevice) flags |= O_EXCL;
  int fd = blockDevice && writable ? ::open(path_.c_str(), flags | O_DIRECT) : -1;
  bool direct = fd >= 0;
  if (!direct) fd = ::open(path_.c_str(), flags);
  if (fd < 0) {
    SetErrorFromErrno(errno);
    return kInvalidHandle;
  }
  struct stat st {};
  const bool same =
      fstat(fd, &st) == 0 &&
      (!identity_.known ? true
       : identity_.blockDevice
           ? S_ISBLK(st.st_mode) && st.st_rdev == identity_.rdev
           : S_ISREG(st.st_mode) && st.st_dev == identity_.device && st.st_ino == identity_.inode);
  if (!same) {
    ::close(fd);
    NoteFailure("no longer the file that was checked (its name was re-pointed); not opened again");
    lastError_ = kErrorFileNotFound;
    return kInvalidHandle;
  }
  // Direct transfers need the device's logical sectors to be the formatter's.
  int logical = 0;
  if (direct && (ioctl(fd, BLKSSZGET, &logical) != 0 || logical != 512)) {
    ::close(fd);
    direct = false;
    fd = ::open(path_.c_str(), flags);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode) || st.st_rdev != identity_.rdev) {
      if (fd >= 0) ::close(fd);
      SetErrorFromErrno(fd < 0 ? errno : ENODEV);
      return kInvalidHandle;
    }
  }
  Open file;
  file.fd = fd;
  file.blockDevice = blockDevice;
  file.direct = direct;
  file.writable = writable;
  if (!TargetSize(fd, file.size)) {
    ::close(fd);
    lastError_ = kErrorInvalidFunction;
    return kInvalidHandle;
  }
  if (file.size > sizeLimit_) file.size = sizeLimit_;
  const DiskHandle h = nextHandle_++;
  handles_[h] = file;
  return h;
}

bool PosixDiskPlatform::DirectReady(const void* buffer) {
  return reinterpret_cast<std::uintptr_t>(buffer) % DirectBuffer::kAlignment == 0;
}

unsigned char* DirectBuffer::Get(std::size_t size) {
  if (size > size_) {
    void* p = nullptr;
    if (posix_memalign(&p, kAlignment, size) != 0) return nullptr;
    data_.reset(static_cast<unsigned char*>(p));
    size_ = size;
  }
  return data_.get();
}

PosixDiskPlatform::Open* PosixDiskPlatform::Find(DiskHandle h) {
  auto it = handles_.find(h);
  if (it == handles_.end()) {
    lastError_ = kErrorInvalidHandle;
    return nullptr;
  }
  return &it->second;
}

DiskHandle PosixDiskPlatform::CreateFileA(const char* name, std::uint32_t access,
                                          std::uint32_t share, std::uint32_t disposition,
                                          std::uint32_t flags) {
  (void)share;
  (void)flags;
  if (name == nullptr || disposition != win::OPEN_EXISTING) {
    // Among them \\.\vwin32 (opened with disposition 0): no Windows 98 here.
    lastError_ = kErrorFileNotFound;
    return kInvalidHandle;
  }
  if (SameNameIgnoringCase(name, kVolumePath))
    return OpenTarget((access & win::GENERIC_WRITE) != 0);
  if (SameNameIgnoringCase(name, kPhysicalPath)) {
    if (access & win::GENERIC_WRITE) {
      lastError_ = kErrorAccessDenied;
      return kInvalidHandle;
    }
    return OpenTarget(false);
  }
  lastError_ = kErrorFileNotFound;
  return kInvalidHandle;
}

bool PosixDiskPlatform::CloseHandle(DiskHandle h) {
  Open* file = Find(h);
  if (!file) return false;
  // What a handle wrote is made durable once, when it closes (for a device
  // that is the end of a surface pass or of an image write). A failure here
  // means writes counted as done are not on the disk: it fails the run.
  bool ok = SyncWritten(*file);
  if (::close(file->fd) != 0) {
    if (file->writable) writesLost_ = true;
    NoteFailure(std::strerror(errno));
    ok = false;
  }
  handles_.erase(h);
  return ok;
}

bool PosixDiskPlatform::DeviceIoControl(DiskHandle h, std::uint32_t code, void* in,
                                        std::uint32_t inSize, void* out, std::uint32_t outSize,
                                        std::uint32_t* returned) {
  (void)in;
  (void)inSize;
  if (returned) *returned = 0;
  Open* file = Find(h);
  if (!file) return false;
  if (code == win::IOCTL_DISK_GET_DRIVE_GEOMETRY) {
    vornak::DISK_GEOMETRY g{};
    if (out == nullptr || outSize < sizeof g) {
      lastError_ = kErrorInsufficientBuffer;
      return false;
    }
    constexpr std::uint64_t kHeads = 255, kSectorsPerTrack = 63;
    g.Cylinders = static_cast<std::int64_t>(file->size / (512 * kHeads * kSectorsPerTrack));
    g.MediaType = removable_ ? vornak::kMediaTypeRemovable : vornak::kMediaTypeFixed;
    g.TracksPerCylinder = static_cast<std::uint32_t>(kHeads);
    g.SectorsPerTrack = static_cast<std::uint32_t>(kSectorsPerTrack);
    g.BytesPerSector = 512;
    std::memcpy(out, &g, sizeof g);
    if (returned) *returned = sizeof g;
    return true;
  }
  if (code == win::IOCTL_DISK_GET_DRIVE_LAYOUT) {
    vornak::DRIVE_LAYOUT_INFORMATION layout{};
    if (out == nullptr || outSize < sizeof layout) {
      lastError_ = kErrorInsufficientBuffer;
      return false;
    }
    layout.PartitionCount = 1;
    layout.PartitionEntry[0].StartingOffset = 0;
    // The formatter reads the low 32 bits of the length. A target of 4 GiB or
    // more would wrap to a small size and be formatted as a small disk; it is
    // reported as 4 GiB - 1 instead, which no layout supports.
    const std::uint64_t length = file->size > 0xFFFFFFFFu ? 0xFFFFFFFFu : file->size;
    layout.PartitionEntry[0].PartitionLength = static_cast<std::int64_t>(length);
    layout.PartitionEntry[0].PartitionNumber = 1;
    layout.PartitionEntry[0].RecognizedPartition = 1;
    std::memcpy(out, &layout, sizeof layout);
    if (returned) *returned = sizeof layout;
    return true;
  }
  // No volume lock or dismount: exclusivity comes from the exclusive open.
  lastError_ = kErrorInvalidFunction;
  return false;
}

std::uint32_t PosixDiskPlatform::SetFilePointer(DiskHandle h, std::int32_t distance,
                                                std::uint32_t method) {
  Open* file = Find(h);
  if (!file) return 0xFFFFFFFFu;
  std::int64_t base = 0;
  if (method == kFileCurrent)
    base = static_cast<std::int64_t>(file->position);
  else if (method == kFileEnd)
    base = static_cast<std::int64_t>(file->size);
  const std::int64_t target = base + distance;
  if (target < 0) {
    lastError_ = 131;  // ERROR_NEGATIVE_SEEK
    return 0xFFFFFFFFu;
  }
  file->position = static_cast<std::uint64_t>(target);
  return static_cast<std::uint32_t>(file->position);
}

bool PosixDiskPlatform::ReadFile(DiskHandle h, void* buffer, std::uint32_t size,
                                 std::uint32_t* done) {
  if (done) *done = 0;
  Open* file = Find(h);
  if (!file) return false;
  // Like a device, nothing is delivered past the end of the volume.
  std::uint64_t want = size;
  if (file->position >= file->size)
    want = 0;
  else if (want > file->size - file->position)
    want = file->size - file->position;
  std::uint64_t got = 0;
  auto* p = static_cast<unsigned char*>(buffer);
  unsigned char* direct = nullptr;
  if (file->direct && want > 0 && !DirectReady(buffer)) {
    if (file->position % 512 != 0 || want % 512 != 0 || !(direct = bounce_.Get(want))) {
      SetErrorFromErrno(EINVAL);
      return false;
    }
    p = direct;
  }
  while (got < want) {
    const ssize_t n = pread(file->fd, p + got, static_cast<std::size_t>(want - got),
                            static_cast<off_t>(file->position + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      SetErrorFromErrno(errno);
      file->position += got;
      if (done) *done = static_cast<std::uint32_t>(got);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::uint64_t>(n);
  }
  if (direct) std::memcpy(buffer, direct, static_cast<std::size_t>(got));
  file->position += got;
  if (done) *done = static_cast<std::uint32_t>(got);
  if (got < size) lastError_ = kErrorSectorNotFound;
  return true;
}

bool PosixDiskPlatform::WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                                  std::uint32_t* done) {
  if (done) *done = 0;
  Open* file = Find(h);
  if (!file) return false;
  if (!file->writable) {
    lastError_ = kErrorAccessDenied;
    return false;
  }
  // A write that would run past the end of the volume fails as a whole; an
  // image file never grows behind the formatter's back.
  if (file->position > file->size || size > file->size - file->position) {
    lastError_ = kErrorSectorNotFound;
    return false;
  }
  std::uint64_t put = 0;
  const auto* p = static_cast<const unsigned char*>(buffer);
  if (file->direct && size > 0 && !DirectReady(buffer)) {
    unsigned char* direct = nullptr;
    if (file->position % 512 != 0 || size % 512 != 0 || !(direct = bounce_.Get(size))) {
      SetErrorFromErrno(EINVAL);
      return false;
    }
    std::memcpy(direct, buffer, size);
    p = direct;
  }
  while (put < size) {
    const ssize_t n = pwrite(file->fd, p + put, static_cast<std::size_t>(size - put),
                             static_cast<off_t>(file->position + put));
    if (n < 0) {
      if (errno == EINTR) continue;
      SetErrorFromErrno(errno);
      file->position += put;
      if (done) *done = static_cast<std::uint32_t>(put);
      return false;
    }
    put += static_cast<std::uint64_t>(n);
  }
  file->position += put;
  file->dirty = true;
  if (done) *done = static_cast<std::uint32_t>(put);
  return true;
}

bool PosixDiskPlatform::FlushFileBuffers(DiskHandle h) {
  Open* file = Find(h);
  if (!file) return false;
  // The formatter flushes after every write. A device written directly has
  // each write on the device when the write returns, and an image file's
  // writes are in the page cache: both are made durable once, when the
  // handle closes (the end of a surface pass or of an image write); a
  // failure there fails the run. A device written through the page cache
  // is flushed at once, so that a failing disk shows up where it fails.
  if (!file->blockDevice || file->direct) return true;
  return SyncWritten(*file);
}

void PosixDiskPlatform::Sleep(std::uint32_t ms) { usleep(static_cast<useconds_t>(ms) * 1000u); }

std::uint32_t PosixDiskPlatform::QueryDosDeviceA(const char* device, char* buffer,
                                                 std::uint32_t max) {
  if (device == nullptr || !SameNameIgnoringCase(device, kCliDrive)) {
    lastError_ = kErrorFileNotFound;
    return 0;
  }
  const std::size_t n = std::strlen(kDosDeviceName);
  if (buffer == nullptr || max < n + 2) {
    lastError_ = kErrorInsufficientBuffer;
    return 0;
  }
  std::memcpy(buffer, kDosDeviceName, n + 1);
  buffer[n + 1] = '\0';  // the list ends with an empty string
  return static_cast<std::uint32_t>(n + 2);
}

std::uint32_t PosixDiskPlatform::GetLogicalDriveStringsA(std::uint32_t length, char* buffer) {
  static const char kList[] = "E:\\\0";  // "E:\", then the empty string
  if (buffer == nullptr || length < sizeof kList) return sizeof kList;
  std::memcpy(buffer, kList, sizeof kList);
  return sizeof kList - 1;
}

std::uint32_t PosixDiskPlatform::GetDriveTypeA(const char* root) {
  if (root == nullptr || std::strncmp(root, "E:", 2) != 0) return 1;  // DRIVE_NO_ROOT_DIR
  return removable_ ? win::DRIVE_REMOVABLE : kDriveFixed;
}

bool PosixDiskPlatform::GetVolumeInformationA(const char* root, char* volumeName,
                                              std::uint32_t volumeSize, char* fsName,
                                              std::uint32_t fsSize) {
  if (root == nullptr || !SameNameIgnoringCase(root, "E:\\")) {
    lastError_ = kErrorFileNotFound;
    return false;
  }
  const DiskHandle h = OpenTarget(false);
  if (h == kInvalidHandle) return false;
  const VolumeReader read = [this, h](std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > 0x7FFFFFFFu || length > 0xFFFFFFFFu) return false;
    SetFilePointer(h, static_cast<std::int32_t>(offset), win::FILE_BEGIN);
    std::uint32_t done = 0;
    return ReadFile(h, buffer, static_cast<std::uint32_t>(length), &done) && done == length;
  };
  std::string label, fs;
  const bool ok = ReadFatVolumeInfo(read, label, fs);
  CloseHandle(h);
  if (!ok) {
    lastError_ = 1005;  // ERROR_UNRECOGNIZED_VOLUME
    return false;
  }
  if (volumeName && volumeSize) {
    std::strncpy(volumeName, label.c_str(), volumeSize - 1);
    volumeName[volumeSize - 1] = '\0';
  }
  if (fsName && fsSize) {
    std::strncpy(fsName, fs.c_str(), fsSize - 1);
    fsName[fsSize - 1] = '\0';
  }
  return true;
}

std::uint32_t PosixDiskPlatform::AddressOf(void* p) {
  // Only the Windows 98 register blocks carry addresses, and VWIN32 never
  // opens here.
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

}  // namespace vornak_cli
