// Writing formatted volumes to image files, for checks by independent tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fat_layout.h"

namespace vornak::test {

constexpr std::uint32_t kPartitionStart = 63;

// The system-area image of a disk of `size` bytes with `label` (Full mode),
// or empty when the layout is unsupported.
std::vector<std::uint8_t> BuildImage(std::uint32_t size, const std::string& label,
                                     FatLayout* layoutOut = nullptr);

// Writes `image` at `offset` into a sparse file of `fileSize` bytes (created
// or truncated).
bool WriteImageFile(const std::string& path, std::uint64_t fileSize,
                    const std::vector<std::uint8_t>& image, std::uint64_t offset);

// A master boot record: a small program that boots the active partition, and
// one active FAT16 partition of `sectors` sectors starting at sector 63.
std::vector<std::uint8_t> MakeMbr(std::uint32_t sectors);

bool ReadFileBytes(const std::string& path, std::uint64_t offset, std::uint32_t size,
                   std::vector<std::uint8_t>& out);

}  // namespace vornak::test
