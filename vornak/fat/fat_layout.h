// The FAT16 layout of a removable disk: which boot-sector header the formatter
// writes for a disk of a given size, and the values derived from it.
//
// Every volume is FAT16 with one reserved sector, two FATs and a 512-entry root
// directory. The flash-disk capacities the formatter knows get a fixed 48-byte
// header (boot-sector bytes 0x00 to 0x2F); any other size up to 1 GiB gets a
// copy of the last header with the cluster size, FAT size and total sectors
// computed.
#pragma once

#include <array>
#include <cstdint>

namespace vornak {

enum class LayoutKind : int {
  SuperfloppyEven = 0,  // whole-disk file system, even MiB count
  SuperfloppyOdd = 1,   // whole-disk file system, odd MiB count
  PartitionedA = 2,     // volume 63 sectors into a partitioned disk
  PartitionedB = 3,
  Computed = 4,  // parameter block computed from the size
  Unsupported = 5,
};

constexpr std::uint32_t kHeaderRecordSize = 48;
constexpr std::uint32_t kHeaderRecordCount = 15;
using HeaderRecord = std::array<std::uint8_t, kHeaderRecordSize>;

// The fifteen header records in table order; the last one is the base of the
// computed layout.
const std::array<HeaderRecord, kHeaderRecordCount>& HeaderRecords();

struct FatLayout {
  HeaderRecord record{};  // the header written at boot-sector offset 0
  LayoutKind kind = LayoutKind::Unsupported;
  int index = 0;                       // the record's index within its kind (0 to 3)
  std::uint32_t fatSectors = 0;        // F
  std::uint8_t sectorsPerCluster = 0;  // kind 4 only (the computed value)
  std::uint32_t totalSectors = 0;      // kind 4 only (the computed value)
};

// Smallest cluster count of a FAT16 volume: below it every reader takes the
// volume for FAT12.
constexpr std::uint32_t kMinFat16Clusters = 4085;

// Chooses the layout for a disk of `size` bytes. Always true. Kind 5 for a
// size of 0, above 1 GiB, or where the computed layout would have fewer than
// kMinFat16Clusters clusters.
bool ChooseLayout(std::uint32_t size, FatLayout& layout);

// Sectors of the system area: boot sector, two FATs, 32 root-directory sectors.
std::uint32_t SystemAreaSectors(const FatLayout& layout);
// The same in bytes: F * 1024 + 0x4200.
std::uint32_t SystemAreaBytes(const FatLayout& layout);
// Sectors per cluster as written in the boot sector.
std::uint32_t SectorsPerCluster(const FatLayout& layout);
// Cluster size in bytes (2048, 4096, or the computed one).
std::uint32_t ClusterBytes(const FatLayout& layout);
// Only the partitioned and computed layouts may be made bootable.
bool IsBootableAllowed(const FatLayout& layout);

}  // namespace vornak
