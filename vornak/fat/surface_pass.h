// The Low format's surface passes: write 0xFF over the whole disk, then read
// it back, map what did not read back to clusters and mark those bad in both
// FATs of the system-area image. The dialog's passes move 16 KiB at a time
// and end at the first failed transfer; a front end may ask for larger
// transfers, failed ones tried again piece by piece, and sectors stamped with
// their own numbers so that a disk which answers for one sector with another
// is caught.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fat_layout.h"
#include "format_ui.h"

namespace vornak {

class DiskAccess;

// Cluster indexes, 0 = first cluster of the data area (FAT entry 2).
using BadClusterList = std::vector<std::uint32_t>;

enum class PassMode { Write, Verify };

// Sectors per transfer.
constexpr std::uint32_t kChunkSectors = 32;
constexpr std::uint32_t kChunkBytes = kChunkSectors * 512;

// How a pass moves its data; the defaults are the dialog's passes.
struct SurfaceOptions {
  std::uint32_t chunkSectors = kChunkSectors;  // sectors per transfer, both areas
  // A failed data-area transfer is tried again in halves, down to single
  // sectors; a sector that still fails is bad and the pass goes on. A
  // failure that says the disk is not there, and any failure in the system
  // area, still end the pass.
  bool retrySmaller = false;
  // The write pass stamps every data-area sector with its own number and
  // `salt` (the rest of it 0xFF); the verify pass expects each sector's own
  // stamp. The system area is written with 0xFF either way.
  bool stamped = false;
  std::uint64_t salt = 0;
};

// What the two passes of one run find beyond the bad clusters.
struct SurfaceFindings {
  // Data-area sectors (numbered from the data area's start) whose write
  // failed: the write pass notes them and the verify pass counts them bad,
  // whatever they then read back.
  std::vector<std::uint32_t> unwritten;
  std::uint32_t unreadableSectors = 0;  // reads that failed down to the single sector
  std::uint32_t misplacedSectors = 0;   // sectors holding another sector's stamp
};

// What a pass reads from and writes to the dialog.
struct SurfaceState {
  BadClusterList& badClusters;  // emptied at the start, filled by the verify pass
  std::uint32_t& badBytes;      // set to 0 at the start, one cluster per marked entry
  // Needed by passes with options other than the dialog's; the verify pass
  // resets its counts.
  SurfaceFindings* findings = nullptr;
};

// Bytes of a sector's stamp: the salt (8 bytes), the sector number and its
// complement (4 bytes each), all little-endian.
constexpr std::uint32_t kStampBytes = 16;
// Where in the sector the stamp stands (a multiple of 16, from the salt), so
// that stamps of two runs seldom even overlap.
std::uint32_t StampOffset(std::uint64_t salt);
// The sector number a 512-byte sector's stamp of `salt` names, when the
// sector is such a stamp and 0xFF otherwise; false when it is not.
bool ReadStamp(const std::uint8_t* data, std::uint64_t salt, std::uint32_t& sector);

// One pass over `drive`: the system area (sectors 0 to systemSectors - 1,
// without pumping messages) and the data area (dataSectors more, one pumped
// message and a Stop check per chunk, and per piece of a retried chunk).
// `image` is the system-area image of `layout`, whose FATs get the bad
// clusters found by a verify pass. False on any I/O failure (with
// `retrySmaller`: only in the system area, or one that says the disk is
// gone), a refused Windows 98 lock ("Lock volume error!"), a system area that
// does not read back ("System area error!"), or a Stop.
bool SurfacePass(DiskAccess& disk, FormatUi& ui, const FatTexts& texts, const FatLayout& layout,
                 const std::string& drive, std::uint32_t systemSectors, std::uint32_t dataSectors,
                 std::uint8_t* image, PassMode mode, SurfaceState state,
                 const SurfaceOptions& options = SurfaceOptions());

}  // namespace vornak
