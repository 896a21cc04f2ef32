// The Low format's surface passes: write 0xFF over the whole disk, then read
// it back, map what did not read back to clusters and mark those bad in both
// FATs of the system-area image.
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

// What a pass reads from and writes to the dialog.
struct SurfaceState {
  BadClusterList& badClusters;  // emptied at the start, filled by the verify pass
  std::uint32_t& badBytes;      // set to 0 at the start, one cluster per marked entry
};

// One pass over `drive`: the system area (sectors 0 to systemSectors - 1,
// without pumping messages) and the data area (dataSectors more, one pumped
// message and a Stop check per chunk). `image` is the system-area image of
// `layout`, whose FATs get the bad clusters found by a verify pass. False on
// any I/O failure, a refused Windows 98 lock ("Lock volume error!"), a system
// area that does not read back ("System area error!"), or a Stop.
bool SurfacePass(DiskAccess& disk, FormatUi& ui, const FatTexts& texts, const FatLayout& layout,
                 const std::string& drive, std::uint32_t systemSectors, std::uint32_t dataSectors,
                 std::uint8_t* image, PassMode mode, SurfaceState state);

}  // namespace vornak
