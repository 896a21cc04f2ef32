#include "system_area.h"

#include <cstring>
#include <new>
#include <vector>

namespace vornak {
namespace {

const std::uint8_t kTemplate[kBootSectorSize] = {
#include "boot_sector.inc"
};

constexpr std::uint32_t kLabelLength = 11;

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

bool IsForbiddenLabelChar(unsigned char c) {
  return std::strchr(" \"*+,./:;<=>?[\\]|", c) != nullptr;
}

}  // namespace

const std::uint8_t* BootSectorTemplate() { return kTemplate; }

namespace {

// On a double-byte code page (GBK, Big5) a lead byte and the byte after it
// are one character; its second byte may look like an ASCII letter or a
// backslash and is neither checked nor upper-cased. On a single-byte code
// page there are no such pairs.
bool IsDoubleBytePair(const std::string& text, std::size_t i, const LeadByteTest& isLeadByte) {
  return isLeadByte && i + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[i])) &&
         static_cast<unsigned char>(text[i + 1]) >= 0x40;
}

}  // namespace

bool IsValidVolumeLabel(const std::string& text, const LeadByteTest& isLeadByte) {
  if (text.size() > kLabelLength) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsDoubleBytePair(text, i, isLeadByte)) {
      ++i;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // A lead byte without a second byte that may follow it is half a
    // character; padded with a blank it would become another one.
    if (isLeadByte && isLeadByte(c)) return false;
    if (c < 0x20 || c == 0x7F || c == 0xFF) return false;
    if (c < 0x80 && IsForbiddenLabelChar(c)) return false;
  }
  return true;
}

namespace {

// Whether the old sector 0 is the boot sector of a FAT16 volume of the kind
// the formatter writes (signature 55 AA, 512-byte sectors, two FATs, the type
// "FAT16") and of the new layout's geometry: the same sectors per cluster,
// reserved sectors, root entries and sectors per FAT. Only then does entry n
// of its first FAT name the cluster that entry n of the new FAT names.
bool OldVolumeMatches(const SectorReader& readSectors, const FatLayout& layout) {
  std::uint8_t boot[kBootSectorSize];
  if (!readSectors(boot, 0, 1)) return false;
  const std::uint8_t* now = layout.record.data();
  const bool fat16 = boot[0x1FE] == 0x55 && boot[0x1FF] == 0xAA && boot[0x0B] == 0x00 &&
                     boot[0x0C] == 0x02 && boot[0x10] == 2 &&
                     std::memcmp(boot + 0x36, "FAT16", 5) == 0;
  return fat16 && boot[0x0D] == now[0x0D] && std::memcmp(boot + 0x0E, now + 0x0E, 2) == 0 &&
         std::memcmp(boot + 0x11, now + 0x11, 2) == 0 &&
         std::memcmp(boot + 0x16, now + 0x16, 2) == 0;
}

void UpperCaseLabel(std::string& text, const LeadByteTest& isLeadByte) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsDoubleBytePair(text, i, isLeadByte)) {
      ++i;
      continue;
    }
    char& c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

}  // namespace

bool BuildSystemArea(std::uint8_t* image, std::uint32_t imageSize, const FatLayout& layout,
                     SystemAreaState state, const SectorReader& readSectors, FormatUi& ui,
                     const FatTexts& texts) {
  if (layout.kind == LayoutKind::Unsupported || layout.fatSectors == 0) return false;
  const std::uint32_t fatBytes = layout.fatSectors * 512;
  if (image == nullptr || imageSize < SystemAreaBytes(layout)) return false;

  // Sectors past the system area (the buffer may be larger) start free clusters.
  std::memset(image, 0, imageSize);

  std::uint8_t* boot = image;
  std::memcpy(boot, kTemplate, kBootSectorSize);
  std::memcpy(boot, layout.record.data(), kHeaderRecordSize);

  std::uint8_t* fat1 = image + kBootSectorSize;
  std::uint8_t* fat2 = fat1 + fatBytes;
  std::uint8_t* root = fat2 + fatBytes;

  // Quick mode keeps the clusters that the old FAT marks bad.
  std::vector<std::uint8_t> oldFat;
  if (state.quick) {
    bool ok = false;
    try {
      oldFat.resize(fatBytes);
      ok = readSectors && readSectors(oldFat.data(), 1, layout.fatSectors);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    if (!ok) {
      // Without the old FAT the run goes on as a Full one.
      state.quick = false;
      oldFat.clear();
    } else if (!OldVolumeMatches(readSectors, layout)) {
      // F7 FF is a bad mark only in a FAT16 FAT of the same geometry: no
      // marks are taken from any other volume (the Quick flag stays, the
      // system format stays quick).
      oldFat.clear();
    }
  }

  fat1[0] = 0xF8;
  fat1[1] = 0xFF;
  fat1[2] = 0xFF;
  fat1[3] = 0xFF;
  const std::uint32_t clusterBytes = ClusterBytes(layout);
  for (std::uint32_t off = 4; off + 1 < fatBytes; off += 2) {
    if (!oldFat.empty() && oldFat[off] == 0xF7 && oldFat[off + 1] == 0xFF) {
      fat1[off] = 0xF7;
      fat1[off + 1] = 0xFF;
      state.badBytes += clusterBytes;
    }
  }
  std::memcpy(fat2, fat1, fatBytes);

  if (!state.label.empty()) {
    if (!IsValidVolumeLabel(state.label, state.isLeadByte)) {
      ui.MessageBoxA(texts.MsgInvalidVol.c_str(), "Ignore!", mb::MB_ICONASTERISK);
      state.label.clear();
    } else {
      UpperCaseLabel(state.label, state.isLeadByte);
      char name[kLabelLength];
      std::memset(name, ' ', kLabelLength);
      std::memcpy(name, state.label.data(), state.label.size());
      std::memcpy(boot + 0x2B, name, kLabelLength);
      std::memcpy(root, name, kLabelLength);
      // A directory entry starting with 0xE5 reads as deleted; 0x05 stands for it.
      if (root[0] == 0xE5) root[0] = 0x05;
      root[11] = kLabelAttribute;
      Put16(root + 22, kLabelTime);
      Put16(root + 24, kLabelDate);
    }
  }
  return true;
}

}  // namespace vornak
