// The figures of a format run and its results report: the size of the run's
// image buffer, the bytes that the start-up files of a bootable disk take,
// the usable data bytes, and the report text in the dialog's language.
#pragma once

#include <cstdint>
#include <string>

#include "fat_layout.h"

namespace vornak {

// The figures of a run, in bytes.
struct FormatResults {
  std::uint32_t total = 0;    // usable data bytes
  std::uint32_t system = 0;   // bytes taken by the start-up files
  std::uint32_t bad = 0;      // bytes in bad clusters
  std::uint32_t cluster = 0;  // cluster size
};

// Size in bytes of a run's image buffer for a disk of `size` bytes: the
// system area, and for the fixed layouts a few free clusters more.
std::uint32_t ImageBufferSize(const FatLayout& layout, std::uint32_t size);
// Bytes taken by the start-up files of a bootable disk (0 for no cluster size).
std::uint32_t SystemFilesBytes(const FatLayout& layout, std::uint32_t clusterBytes);
// Whole clusters of a disk of `size` bytes after its system area; 0 when the
// disk is no larger than the system area or the cluster size is 0.
std::uint32_t UsableDataBytes(const FatLayout& layout, std::uint32_t size,
                              std::uint32_t clusterBytes);
// Bytes still free for the user's files: total less bad clusters and start-up
// files, never below 0.
std::uint32_t AvailableBytes(const FormatResults& results);
// The results report in the language's code page: GBK for 0x0804, Big5 for
// 0x0404, ASCII (English) for any other id.
std::string ResultsReportText(std::uint16_t languageId, const FormatResults& results);

}  // namespace vornak
