// Disk access on both Windows families: the operating-system family, the
// removable-disk test, the disk size, the Windows 98 volume lock, and raw
// sector reads and writes.
//
// Windows 98/ME goes through the VWIN32 device (INT 21h 440Dh and 7305h
// register blocks); Windows 2000/XP and later through \\.\X: volume handles and
// \\.\PHYSICALDRIVEn. Every operation opens and closes its own handles and
// reports failure only through its result; the only message it ever shows is
// the lock failure of a Windows 98 write.
#pragma once

#include <cstdint>
#include <string>

#include "disk_platform.h"
#include "disk_structs.h"

namespace vornak {

// The one message box that disk access shows (a refused Windows 98 lock).
class DiskUi {
 public:
  virtual ~DiskUi() = default;
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;
};

// GetDiskSize's answer for a disk of 4 GiB or more.
constexpr std::uint32_t kDiskTooLarge = 0xFFFFFFFFu;

constexpr const char* kFamilyWindows98 = "Windows98";
constexpr const char* kFamilyWindows2K = "Windows2K";

// "Windows98" when GetVersion has its top bit set, else "Windows2K".
std::string GetOsFamily(DiskPlatform& platform);

// The INT 21h drive number of a drive string ("E:" -> 5), or 0 when the string
// is not an upper- or lower-case letter followed by a colon.
int DriveNumber(const std::string& drive);

class DiskAccess {
 public:
  // `msgLockFail` is referenced, not copied: it is the dialog's text field,
  // which may change after construction (fmt.ini is read when the dialog
  // initialises).
  DiskAccess(DiskPlatform& platform, DiskUi& ui, std::string family,
             const std::string& msgLockFail);

  DiskPlatform& Platform() { return platform_; }
  const std::string& Family() const { return family_; }
  void SetFamily(const std::string& family) { family_ = family; }

  // --- Volume access and locking -------------------------------------------

  // True for a removable disk that may be offered for formatting. Works out
  // the family itself (GetOsFamily), not from Family().
  bool IsRemovableDisk(const std::string& drive);
  // Windows 98 logical-volume lock (level 0) and unlock.
  bool LockVolume(const std::string& drive);
  bool UnlockVolume(const std::string& drive);
  // Size of the disk in bytes, 0 when it cannot be found, kDiskTooLarge (no
  // layout takes it) for a disk of 4 GiB or more. Uses Family().
  std::uint32_t GetDiskSize(const std::string& drive);
  // Size of a volume that answers no size query, found by reading at the
  // total-sector counts of the supported layouts; 0 past the largest one and
  // when the volume cannot be opened.
  std::uint32_t ProbeVolumeSize(const std::string& drive);

  // --- Sector I/O ----------------------------------------------------------
  // The mechanism is chosen by whether VWIN32 opens, not by Family().

  bool ReadSectors(const std::string& drive, void* buffer, std::uint32_t first,
                   std::uint32_t count);
  // On Windows 98 shows the MsgLockFail box ("Sorry!", stop icon) when the lock
  // is refused.
  bool WriteSectors(const std::string& drive, const void* buffer, std::uint32_t first,
                    std::uint32_t count);

  // --- Building blocks for callers that transfer inline (the surface pass) --

  // \\.\vwin32 with access 0, share 0, disposition 0, FILE_FLAG_DELETE_ON_CLOSE.
  DiskHandle OpenVwin32();
  // One INT 21h 7305h transfer on an open VWIN32 handle (control code 6).
  // `count` must fit the 16-bit packet field. True on a nonzero return with
  // carry clear.
  bool Vwin32Transfer(DiskHandle vwin32, const std::string& drive, void* buffer,
                      std::uint32_t first, std::uint32_t count, bool write);
  // \\.\X: with GENERIC_READ|GENERIC_WRITE, share read and write, OPEN_EXISTING.
  DiskHandle OpenNtVolume(const std::string& drive);
  // Seek to first*512 and read count*512 bytes; true only for a full transfer.
  bool NtRead(DiskHandle volume, void* buffer, std::uint32_t first, std::uint32_t count);
  // Seek, write count*512 bytes and flush; true only for a full transfer. A
  // write refused with access denied (a mounted volume on Vista and later) is
  // repeated once after locking and dismounting the volume on this handle.
  bool NtWrite(DiskHandle volume, const void* buffer, std::uint32_t first, std::uint32_t count);

  // Number of lock attempts and the pause between them before a dismount.
  static constexpr int kNtLockAttempts = 5;
  static constexpr std::uint32_t kNtLockRetryMs = 200;
  // The last sector an NT transfer can start at (byte offsets below 2 GiB).
  static constexpr std::uint32_t kMaxNtSector = 0x7FFFFFFFu >> 9;

 private:
  bool VolumeLockCall(const std::string& drive, std::uint32_t minorCode);
  bool DeviceParams(const std::string& drive, DEVICEPARAMS& params, bool& callOk);
  bool NtMakeWritable(DiskHandle volume);
  bool Seek(DiskHandle volume, std::uint32_t first);

  DiskPlatform& platform_;
  DiskUi& ui_;
  std::string family_;
  const std::string& msgLockFail_;
};

}  // namespace vornak
