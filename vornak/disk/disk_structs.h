// The records exchanged with the disk devices of both Windows families.
//
// They are defined here rather than taken from the Windows headers so that the
// same code compiles natively and on Windows; the static checks pin every size
// and offset that the devices rely on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vornak {

constexpr std::uint32_t kSectorSize = 512;

// Windows 98: the register block passed to VWIN32 with DeviceIoControl, both as
// input and as output. Bit 0 of reg_Flags is the carry flag (set on failure).
struct DIOC_REGISTERS {
  std::uint32_t reg_EBX;
  std::uint32_t reg_EDX;
  std::uint32_t reg_ECX;
  std::uint32_t reg_EAX;
  std::uint32_t reg_EDI;
  std::uint32_t reg_ESI;
  std::uint32_t reg_Flags;
};
static_assert(sizeof(DIOC_REGISTERS) == 28, "DIOC_REGISTERS is seven 32-bit registers");
static_assert(offsetof(DIOC_REGISTERS, reg_Flags) == 24, "reg_Flags is the last register");

constexpr std::uint32_t kCarryFlag = 1u;

// Windows 98: the packet of INT 21h 7305h (extended absolute disk read/write).
#pragma pack(push, 1)
struct DISKIO {
  std::uint32_t diStartSector;
  std::uint16_t diSectors;
  std::uint32_t diBuffer;
};
#pragma pack(pop)
static_assert(sizeof(DISKIO) == 10, "DISKIO is packed without padding");
static_assert(offsetof(DISKIO, diSectors) == 4 && offsetof(DISKIO, diBuffer) == 6,
              "DISKIO field offsets");

// The INT 21h functions and their register values.
namespace dos {
constexpr std::uint32_t kIoctl = 0x440D;                // EAX: generic IOCTL for block devices
constexpr std::uint32_t kGetDeviceParams = 0x0860;      // ECX: category 08h, minor 60h
constexpr std::uint32_t kLockLogicalVolume = 0x484A;    // ECX: category 48h, minor 4Ah
constexpr std::uint32_t kUnlockLogicalVolume = 0x486A;  // ECX: category 48h, minor 6Ah
constexpr std::uint32_t kExtAbsDiskReadWrite = 0x7305;  // EAX
constexpr std::uint32_t kPacketCall = 0xFFFFFFFFu;      // ECX of 7305h
constexpr std::uint32_t kModeRead = 0x0000;             // ESI of 7305h
constexpr std::uint32_t kModeWrite = 0x6001;            // ESI: write, normal file data
constexpr std::uint8_t kDeviceTypeRemovable = 5;        // DEVICEPARAMS device type
}  // namespace dos

// Windows 98: the device parameters returned by 440Dh/0860h (the part that is read).
#pragma pack(push, 1)
struct DEVICEPARAMS {
  std::uint8_t dpSpecFunc;
  std::uint8_t dpDevType;
  std::uint16_t dpDevAttr;
  std::uint16_t dpCylinders;
  std::uint8_t dpMediaType;
  // BIOS parameter block
  std::uint16_t dpBytesPerSec;
  std::uint8_t dpSecPerClust;
  std::uint16_t dpResSectors;
  std::uint8_t dpFATs;
  std::uint16_t dpRootDirEnts;
  std::uint16_t dpSectors;
  std::uint8_t dpMedia;
  std::uint16_t dpFATsecs;
  std::uint16_t dpSecPerTrack;
  std::uint16_t dpHeads;
  std::uint32_t dpHiddenSecs;
  std::uint32_t dpHugeSectors;
  std::uint8_t dpReserved[224];  // extended BPB, reserved bytes and track layout
};
#pragma pack(pop)
static_assert(offsetof(DEVICEPARAMS, dpDevType) == 1, "device type at offset 1");
static_assert(offsetof(DEVICEPARAMS, dpBytesPerSec) == 7, "bytes per sector at offset 7");
static_assert(offsetof(DEVICEPARAMS, dpSectors) == 15, "16-bit total sectors at offset 15");
static_assert(offsetof(DEVICEPARAMS, dpHugeSectors) == 28, "32-bit total sectors at offset 28");
static_assert(sizeof(DEVICEPARAMS) == 256, "DEVICEPARAMS buffer size");

// Windows 2000/XP: the output of IOCTL_DISK_GET_DRIVE_GEOMETRY.
struct DISK_GEOMETRY {
  std::int64_t Cylinders;
  std::uint32_t MediaType;
  std::uint32_t TracksPerCylinder;
  std::uint32_t SectorsPerTrack;
  std::uint32_t BytesPerSector;
};
static_assert(offsetof(DISK_GEOMETRY, MediaType) == 8, "MediaType at offset 8");
static_assert(sizeof(DISK_GEOMETRY) == 24, "DISK_GEOMETRY size");
constexpr std::uint32_t kGeometryBufferSize = 480;
constexpr std::uint32_t kMediaTypeRemovable = 11;  // RemovableMedia
constexpr std::uint32_t kMediaTypeFixed = 12;      // FixedMedia

// Windows 2000/XP: the output of IOCTL_DISK_GET_DRIVE_LAYOUT (its first entry).
struct PARTITION_INFORMATION {
  std::int64_t StartingOffset;
  std::int64_t PartitionLength;
  std::uint32_t HiddenSectors;
  std::uint32_t PartitionNumber;
  std::uint8_t PartitionType;
  std::uint8_t BootIndicator;
  std::uint8_t RecognizedPartition;
  std::uint8_t RewritePartition;
};
static_assert(sizeof(PARTITION_INFORMATION) == 32, "PARTITION_INFORMATION size");

struct DRIVE_LAYOUT_INFORMATION {
  std::uint32_t PartitionCount;
  std::uint32_t Signature;
  PARTITION_INFORMATION PartitionEntry[1];
};
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry) +
                      offsetof(PARTITION_INFORMATION, PartitionLength) ==
                  16,
              "first PartitionLength at offset 16");
constexpr std::uint32_t kLayoutBufferSize = 800;
constexpr std::uint32_t kFirstPartitionLengthOffset = 16;

static_assert(sizeof(DISK_GEOMETRY) <= kGeometryBufferSize, "geometry fits its buffer");
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION) <= kLayoutBufferSize, "layout fits its buffer");

}  // namespace vornak
