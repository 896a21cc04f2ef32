// A fake machine behind DiskPlatform that emulates either Windows family over
// disk images (in memory, allocated lazily, or a real file so that tools such
// as fsck.fat can check the result).
//
// Windows 98 mode: \\.\VWIN32 opens and answers INT 21h 440Dh (0860h device
// parameters, 484Ah lock, 486Ah unlock) and 7305h (absolute read/write) register
// blocks, setting carry on failure. A 7305h write is refused unless the volume
// is locked, as the real system does.
// NT mode: VWIN32 does not open; \\.\X: volumes answer the geometry ioctl and
// sector I/O with 512-byte alignment checks of offset, length and buffer
// address; opens are refused by the share modes of the handles already open; \\.\PHYSICALDRIVEn
// answers the layout ioctl for drives named \Device\HarddiskN; drives named \Device\HarddiskVolumeN
// can only be sized by probing reads.
//
// Faults can be injected per drive, and every call is logged with its
// arguments decoded so that tests can assert register values and offsets.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disk_access.h"
#include "disk_platform.h"
#include "disk_structs.h"
#include "file_sharing.h"

namespace vornak::test {

enum class Family { Windows98, WindowsNT };

// How QueryDosDeviceA names the drive's device on the NT family.
enum class NtDeviceStyle {
  Harddisk,        // "\Device\Harddisk<N>\DP(1)0-0+4": sized by the physical-drive layout
  HarddiskVolume,  // "\Device\HarddiskVolume<N>": sized only by the probe
  Other,           // "\Device\Floppy0" (or `ntDeviceName` when set)
};

// A backing store for a drive's bytes.
class DiskImage {
 public:
  virtual ~DiskImage() = default;
  // Reads outside the stored bytes give zeros; both return false on I/O errors.
  virtual bool Read(std::uint64_t offset, void* out, std::uint32_t size) = 0;
  virtual bool Write(std::uint64_t offset, const void* in, std::uint32_t size) = 0;
};

// In memory, in 64 KiB chunks allocated on first write (unwritten bytes are 0).
std::unique_ptr<DiskImage> MakeMemoryImage();
// In memory, starting from the given bytes.
std::unique_ptr<DiskImage> MakeMemoryImage(const std::vector<std::uint8_t>& bytes);
// Over an existing file, read and written in place (the file is not resized).
std::unique_ptr<DiskImage> MakeFileImage(const std::string& path);

// A range of sectors [first, first+count).
struct SectorRange {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
  bool Overlaps(std::uint32_t f, std::uint32_t n) const {
    return n != 0 && count != 0 && f < first + count && first < f + n;
  }
};

struct FakeDrive {
  char letter = 'E';
  std::uint64_t sizeBytes = 64ull << 20;
  std::uint32_t driveType = win::DRIVE_REMOVABLE;
  std::string volumeLabel;
  std::string fsName = "FAT";

  // Windows 98 device parameters.
  std::uint8_t deviceType = dos::kDeviceTypeRemovable;
  std::uint16_t bytesPerSector = 512;
  bool only32BitTotal = false;  // the 16-bit total-sectors field reads 0

  // NT answers.
  std::uint32_t mediaType = kMediaTypeRemovable;
  NtDeviceStyle ntStyle = NtDeviceStyle::Harddisk;
  int ntDeviceNumber = 1;             // N of HarddiskN / HarddiskVolumeN
  std::string ntDeviceName;           // when not empty, QueryDosDeviceA returns exactly this
  std::uint64_t partitionLength = 0;  // layout answer; 0 means sizeBytes
  bool geometryFails = false;         // IOCTL_DISK_GET_DRIVE_GEOMETRY fails (as under Wine)
  // IOCTL_DISK_GET_DRIVE_GEOMETRY succeeds but fills only this many bytes of
  // its answer, and says so (-1: the whole DISK_GEOMETRY).
  int geometryBytes = -1;

  // Faults.
  bool present = true;       // false: removed (not listed, no root, nothing opens)
  bool openRefused = false;  // \\.\X: does not open
  bool physicalOpenRefused = false;
  bool lockRefused = false;           // Windows 98 484Ah sets carry; NT FSCTL_LOCK_VOLUME fails
  int ntLockFailures = 0;             // NT: this many FSCTL_LOCK_VOLUME calls fail first
  bool ntWriteNeedsDismount = false;  // NT: writes fail with access denied until the
                                      // handle has dismounted the volume (Vista and later)
  bool dismountFails = false;         // NT: FSCTL_DISMOUNT_VOLUME fails
  // NT: handles that other programs (Explorer, a virus scanner) hold open on
  // \\.\X:. Their share modes refuse conflicting opens, and the volume lock
  // fails while any is open.
  std::vector<fakes::OpenMode> volumeHeldByOthers;
  int seeksBeforeFailure = -1;             // NT: after this many seeks on the volume, every
                                           // SetFilePointer fails (-1: never)
  std::vector<SectorRange> failingReads;   // reads touching these fail outright
  std::vector<SectorRange> failingWrites;  // writes touching these fail outright
  std::vector<SectorRange> shortReads;     // reads touching these stop before the range
  std::vector<SectorRange> shortWrites;    // writes touching these stop before the range
  // Bytes (by offset from the volume start) that read back changed: the stored
  // value XOR the mask.
  std::map<std::uint64_t, std::uint8_t> corruptOnRead;

  std::shared_ptr<DiskImage> image;  // none: an in-memory image is made on AddDrive
};

// One logged platform call. Only the fields that mean something for its kind
// are set.
struct FakeCall {
  enum Kind {
    GetVersion,
    CreateFile,
    CloseHandle,
    DeviceIoControl,
    SetFilePointer,
    ReadFile,
    WriteFile,
    FlushFileBuffers,
    GetLastError,
    Sleep,
    QueryDosDevice,
    GetLogicalDriveStrings,
    GetDriveType,
    GetVolumeInformation
  };
  FakeCall() = default;
  explicit FakeCall(Kind k) : kind(k) {}
  Kind kind = GetVersion;
  bool result = false;  // BOOL results; for CreateFile: opened
  std::string name;     // CreateFile name, root, QueryDosDevice device
  std::uint32_t access = 0, share = 0, disposition = 0, flags = 0;
  DiskHandle handle = kInvalidHandle;
  std::uint32_t code = 0;  // DeviceIoControl code; Sleep ms; GetLastError value
  std::uint32_t inSize = 0, outSize = 0, returned = 0;
  // VWIN32 calls: the register block as given and as returned.
  bool hasRegs = false;
  DIOC_REGISTERS regsIn{}, regsOut{};
  // 7305h packets decoded.
  bool hasPacket = false;
  std::uint32_t packetFirst = 0;
  std::uint16_t packetCount = 0;
  std::uint32_t packetBuffer = 0;
  std::uint8_t specialFunctions = 0xFF;  // 440Dh/0860h: DEVICEPARAMS byte 0 as given
  // SetFilePointer: distance and method; Read/WriteFile: size and bytes done.
  std::int64_t distance = 0;
  std::uint32_t method = 0;
  std::uint32_t size = 0, done = 0;
  std::uint64_t position = 0;  // Read/WriteFile: the handle's byte position before
};

class FakeMachine : public DiskPlatform {
 public:
  explicit FakeMachine(Family family = Family::WindowsNT);
  ~FakeMachine() override;

  Family family() const { return family_; }
  void SetFamily(Family f) { family_ = f; }
  // What GetVersion returns; defaults suit the family (0xC0000A04 / 0x0A280105).
  void SetVersion(std::uint32_t v) {
    version_ = v;
    versionSet_ = true;
  }
  // Makes \\.\VWIN32 refuse to open even on Windows 98.
  void SetVwin32OpenRefused(bool refused) { vwin32Refused_ = refused; }

  // Adds (or replaces) the drive with `d.letter` (upper-cased).
  FakeDrive& AddDrive(FakeDrive d);
  // Drive records stay valid (and editable) while the machine lives.
  FakeDrive& Drive(char letter);
  bool HasDrive(char letter) const;
  void RemoveDrive(char letter) { Drive(letter).present = false; }
  void PlugDrive(char letter) { Drive(letter).present = true; }

  // Direct access to a drive's bytes, bypassing faults and the log.
  std::vector<std::uint8_t> Peek(char letter, std::uint64_t offset, std::uint32_t size);
  void Poke(char letter, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);

  // Windows 98 lock state: the number of outstanding 484Ah locks of a drive.
  int LockCount(char letter) const;
  // Handles currently open.
  int OpenHandleCount() const { return static_cast<int>(handles_.size()); }

  const std::vector<FakeCall>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  // Logged calls of one kind, in order.
  std::vector<FakeCall> Calls(FakeCall::Kind kind) const;
  // Logged VWIN32 calls whose EAX (and, when not 0, ECX) match.
  std::vector<FakeCall> DosCalls(std::uint32_t eax, std::uint32_t ecx = 0) const;
  // Bytes written by WriteFile and 7305h writes.
  std::uint64_t BytesWritten() const { return bytesWritten_; }
  // Turn logging off for long runs (the counters above still count).
  void SetLogging(bool on) { logging_ = on; }

  // DiskPlatform
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

  // Total milliseconds passed to Sleep.
  std::uint64_t SleptMs() const { return sleptMs_; }

 private:
  struct Handle;
  struct DriveState;

  DriveState* FindDrive(char letter);
  const DriveState* FindDrive(char letter) const;
  DriveState* PresentDrive(int driveNumber);
  Handle* FindHandle(DiskHandle h);
  bool SharingAllowsOpen(const Handle& opening, std::uint32_t access, std::uint32_t share) const;
  void* Resolve(std::uint32_t address);
  void Record(const FakeCall& c);
  bool DosCall(std::uint32_t code, DIOC_REGISTERS& r, FakeCall& c);
  bool Transfer(DriveState& d, std::uint64_t offset, void* buffer, std::uint32_t size, bool write,
                std::uint32_t* done);

  Family family_;
  std::uint32_t version_ = 0;
  bool versionSet_ = false;
  bool vwin32Refused_ = false;
  bool logging_ = true;
  std::map<char, std::unique_ptr<DriveState>> drives_;
  std::map<DiskHandle, std::unique_ptr<Handle>> handles_;
  DiskHandle nextHandle_ = 0x100;
  std::vector<void*> addresses_;
  std::map<void*, std::uint32_t> tokens_;
  std::vector<FakeCall> log_;
  std::uint32_t lastError_ = 0;
  std::uint64_t bytesWritten_ = 0;
  std::uint64_t sleptMs_ = 0;
};

// A DiskUi that records the boxes it is shown and answers them with `answer`.
class FakeDiskUi : public DiskUi {
 public:
  struct Box {
    std::string text, caption;
    std::uint32_t type;
  };
  int answer = 1;  // IDOK
  std::vector<Box> boxes;
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override {
    boxes.push_back({text ? text : "", caption ? caption : "", type});
    return answer;
  }
};

}  // namespace vornak::test
