#include "fat_layout.h"

#include <cstring>

namespace vornak {
namespace {

struct RecordFields {
  std::uint8_t jump1;  // second jump byte: 0x3E (to 0x40) or 0x3C (to 0x3E)
  std::uint8_t oem[8];
  std::uint8_t sectorsPerCluster;
  std::uint16_t total16;
  std::uint32_t total32;
  std::uint16_t fatSectors;
  std::uint16_t sectorsPerTrack;
  std::uint16_t heads;
  std::uint32_t hidden;
  std::uint32_t serial;
};

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

std::uint32_t Get16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

HeaderRecord MakeRecord(const RecordFields& f) {
  HeaderRecord r{};
  std::uint8_t* p = r.data();
  p[0x00] = 0xEB;
  p[0x01] = f.jump1;
  p[0x02] = 0x90;
  std::memcpy(p + 0x03, f.oem, 8);
  Put16(p + 0x0B, 512);
  p[0x0D] = f.sectorsPerCluster;
  Put16(p + 0x0E, 1);
  p[0x10] = 2;
  Put16(p + 0x11, 512);
  Put16(p + 0x13, f.total16);
  p[0x15] = 0xF8;
  Put16(p + 0x16, f.fatSectors);
  Put16(p + 0x18, f.sectorsPerTrack);
  Put16(p + 0x1A, f.heads);
  Put32(p + 0x1C, f.hidden);
  Put32(p + 0x20, f.total32);
  p[0x24] = 0x80;
  p[0x25] = 0;
  p[0x26] = 0x29;
  Put32(p + 0x27, f.serial);
  std::memcpy(p + 0x2B, "NO NA", 5);
  return r;
}

#define OEM(a, b, c, d, e, f, g, h) \
  { 0x##a, 0x##b, 0x##c, 0x##d, 0x##e, 0x##f, 0x##g, 0x##h }

// In table order: kinds 0/1 by MiB (30, 31, 62, 63, 94, 95, 126, 127), kind 2
// by sectors (60669, 125181, 254205, 512127), kind 3 by sectors (249921,
// 507717), and the base of the computed layout.
const RecordFields kFields[kHeaderRecordCount] = {
    {0x3E, OEM(2A, 79, 5A, 68, 63, 49, 48, 43), 4, 61440, 0, 60, 32, 64, 0, 0x1206124C},
    {0x3E, OEM(2A, 67, 34, 75, 38, 49, 48, 43), 4, 63488, 0, 62, 32, 64, 0, 0x15F02014},
    {0x3E, OEM(2A, 6A, 22, 69, 2B, 49, 48, 43), 4, 0, 126976, 124, 32, 64, 0, 0x17ED1611},
    {0x3E, OEM(2A, 6A, 22, 69, 2B, 49, 48, 43), 4, 0, 129024, 126, 32, 64, 0, 0x17ED1611},
    {0x3E, OEM(2A, 69, 2E, 5E, 33, 49, 48, 43), 4, 0, 192512, 188, 32, 64, 0, 0x17F43719},
    {0x3E, OEM(2A, 69, 2E, 5E, 33, 49, 48, 43), 4, 0, 194560, 190, 32, 64, 0, 0x17F43719},
    {0x3E, OEM(2A, 68, 6F, 3C, 55, 49, 48, 43), 4, 0, 258048, 252, 32, 64, 0, 0x17F91561},
    {0x3E, OEM(2A, 68, 6F, 3C, 55, 49, 48, 43), 4, 0, 260096, 254, 32, 64, 0, 0x17F91561},
    {0x3C, OEM(4D, 53, 57, 49, 4E, 34, 2E, 31), 4, 60669, 0, 60, 63, 32, 63, 0x110E3D24},
    {0x3C, OEM(2B, 25, 41, 55, 51, 49, 48, 43), 4, 0, 125181, 122, 63, 32, 63, 0x18F82362},
    {0x3C, OEM(2B, 26, 37, 69, 48, 49, 48, 43), 4, 0, 254205, 248, 63, 32, 63, 0x18FD1624},
    {0x3C, OEM(2B, 26, 22, 5C, 4C, 49, 48, 43), 8, 0, 512127, 250, 63, 32, 63, 0x19002D67},
    {0x3C, OEM(2B, 24, 6D, 69, 46, 49, 48, 43), 4, 0, 249921, 244, 63, 32, 63, 0x12D53058},
    {0x3C, OEM(2B, 24, 6D, 69, 46, 49, 48, 43), 8, 0, 507717, 248, 63, 32, 63, 0x12D53058},
    {0x3C, OEM(2B, 24, 6D, 69, 46, 49, 48, 43), 0, 0, 0, 0, 63, 32, 63, 0x12D53058},
};
#undef OEM

constexpr int kFirstSectorRecord = 8;  // kind 2 starts here
constexpr int kFirstKind3Record = 12;
constexpr int kComputedRecord = 14;

const std::uint32_t kMiBSizes[8] = {30, 31, 62, 63, 94, 95, 126, 127};
const std::uint32_t kSectorSizes[6] = {60669, 125181, 254205, 512127, 249921, 507717};

void Take(FatLayout& layout, int record, LayoutKind kind, int index) {
  layout.record = HeaderRecords()[record];
  layout.kind = kind;
  layout.index = index;
  layout.fatSectors = Get16(layout.record.data() + 0x16);
  layout.sectorsPerCluster = 0;
  layout.totalSectors = 0;
}

void SetUnsupported(FatLayout& layout) {
  layout = FatLayout{};
  layout.kind = LayoutKind::Unsupported;
}

}  // namespace

const std::array<HeaderRecord, kHeaderRecordCount>& HeaderRecords() {
  static const std::array<HeaderRecord, kHeaderRecordCount> records = [] {
    std::array<HeaderRecord, kHeaderRecordCount> r{};
    for (std::uint32_t i = 0; i < kHeaderRecordCount; ++i) r[i] = MakeRecord(kFields[i]);
    return r;
  }();
  return records;
}

bool ChooseLayout(std::uint32_t size, FatLayout& layout) {
  if (size == 0) {
    SetUnsupported(layout);
    return true;
  }

  const std::uint32_t mib = size >> 20;
  for (int i = 0; i < 8; ++i) {
    if (mib == kMiBSizes[i]) {
      Take(layout, i, (mib & 1) ? LayoutKind::SuperfloppyOdd : LayoutKind::SuperfloppyEven, i / 2);
      return true;
    }
  }

  const std::uint32_t sectors = size >> 9;
  for (int i = 0; i < 6; ++i) {
    if (sectors == kSectorSizes[i]) {
      const int record = kFirstSectorRecord + i;
      if (record < kFirstKind3Record)
        Take(layout, record, LayoutKind::PartitionedA, i);
      else
        Take(layout, record, LayoutKind::PartitionedB, 2 + (record - kFirstKind3Record));
      return true;
    }
  }

  std::uint32_t cluster;
  if (size <= 0x8000000u)
    cluster = 4;
  else if (size <= 0x10000000u)
    cluster = 8;
  else if (size <= 0x20000000u)
    cluster = 16;
  else if (size <= 0x40000000u)
    cluster = 32;
  else {
    SetUnsupported(layout);
    return true;
  }

  // One FAT sector holds 256 entries; the system area is not subtracted.
  const std::uint32_t perFatSector = cluster * 256;
  const std::uint32_t fat = (sectors + perFatSector - 1) / perFatSector;

  // A FAT16 volume needs at least 4085 clusters; fewer (disks below about
  // 8 MiB) would be read as FAT12 by every other system and corrupted.
  const std::uint32_t systemArea = 1 + 2 * fat + 32;
  if (sectors <= systemArea || (sectors - systemArea) / cluster < kMinFat16Clusters) {
    SetUnsupported(layout);
    return true;
  }

  Take(layout, kComputedRecord, LayoutKind::Computed, 0);
  std::uint8_t* p = layout.record.data();
  p[0x0D] = static_cast<std::uint8_t>(cluster);
  Put16(p + 0x16, fat);
  if (sectors < 65536) {
    Put16(p + 0x13, sectors);
    Put32(p + 0x20, 0);
  } else {
    Put16(p + 0x13, 0);
    Put32(p + 0x20, sectors);
  }
  layout.fatSectors = fat;
  layout.sectorsPerCluster = static_cast<std::uint8_t>(cluster);
  layout.totalSectors = sectors;
  return true;
}

std::uint32_t SystemAreaSectors(const FatLayout& layout) { return 1 + 2 * layout.fatSectors + 32; }

std::uint32_t SystemAreaBytes(const FatLayout& layout) { return layout.fatSectors * 1024 + 0x4200; }

std::uint32_t SectorsPerCluster(const FatLayout& layout) {
  if (layout.kind == LayoutKind::Computed) return layout.sectorsPerCluster;
  return layout.record[0x0D];
}

std::uint32_t ClusterBytes(const FatLayout& layout) {
  switch (layout.kind) {
    case LayoutKind::PartitionedA:
    case LayoutKind::PartitionedB: return layout.index == 3 ? 4096 : 2048;
    case LayoutKind::Computed: return layout.sectorsPerCluster * 512u;
    default: return 2048;
  }
}

bool IsBootableAllowed(const FatLayout& layout) {
  return layout.kind == LayoutKind::PartitionedA || layout.kind == LayoutKind::PartitionedB ||
         layout.kind == LayoutKind::Computed;
}

}  // namespace vornak
