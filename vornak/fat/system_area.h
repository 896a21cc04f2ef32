// The system-area image that a format run writes from sector 0: boot sector,
// FAT 1, FAT 2 and the 32-sector root directory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "fat_layout.h"
#include "format_ui.h"

namespace vornak {

constexpr std::uint32_t kBootSectorSize = 512;
constexpr std::uint32_t kRootDirBytes = 512 * 32;

// The boot-sector template: bytes 0x30 to 0x1FF of it end up on the disk (the
// tail of "NO NAME    ", "FAT16   ", the boot program and 55 AA).
const std::uint8_t* BootSectorTemplate();

// The volume-label entry written to root-directory entry 0.
constexpr std::uint8_t kLabelAttribute = 0x28;  // volume label | archive
constexpr std::uint16_t kLabelTime = 0x7AE1;    // 15:23:02
constexpr std::uint16_t kLabelDate = 0x2D73;    // 19 November 2002

// Reads `count` sectors from `first` of the drive being formatted into
// `buffer` (the dialog's ReadSectors on the selected drive).
using SectorReader = std::function<bool(void* buffer, std::uint32_t first, std::uint32_t count)>;

// Whether a byte starts a double-byte character in the system code page
// (IsDBCSLeadByte on Windows). Empty: a single-byte code page.
using LeadByteTest = std::function<bool(unsigned char)>;

// True for the empty text; false for more than 11 bytes; otherwise true only
// when every character is printable and none of  "*+,./:;<=>?[\]| and blank.
// Bytes above 0x7F are accepted; where `isLeadByte` says so, a lead byte and
// the byte after it are one character and the second is not checked. A lead
// byte at the end, or before a byte below 0x40, is refused.
bool IsValidVolumeLabel(const std::string& text, const LeadByteTest& isLeadByte = nullptr);

// What BuildSystemArea reads from and writes to the dialog.
struct SystemAreaState {
  bool& quick;                        // Quick flag: cleared when the old FAT cannot be read
  std::string& label;                 // label text: upper-cased, or emptied when invalid
  std::uint32_t& badBytes;            // the run's bad-bytes figure: old bad clusters are added
  LeadByteTest isLeadByte = nullptr;  // the system code page's double-byte characters
};

// Fills `image` (at least SystemAreaBytes(layout) long; the rest of it is
// zeroed) from the layout, the Quick flag and the label. In Quick mode the old
// first FAT is read through `readSectors` so that entries marked 0xFFF7 stay
// bad, when the old sector 0 is a FAT16 boot sector (otherwise no mark is
// kept). An invalid label is reported once ("Ignore!") and dropped. False only
// when the layout is unsupported or the buffer is too short.
bool BuildSystemArea(std::uint8_t* image, std::uint32_t imageSize, const FatLayout& layout,
                     SystemAreaState state, const SectorReader& readSectors, FormatUi& ui,
                     const FatTexts& texts);

}  // namespace vornak
