// make_fat_image OUTPUT SIZE [--mbr] [--label TEXT]
// Writes the system area that the formatter builds for a disk of SIZE bytes
// into a sparse file OUTPUT of that size; with --mbr, the file is a whole disk
// with a boot record and the volume as its partition at sector 63.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image_file.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT SIZE [--mbr] [--label TEXT]\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  const unsigned long long size = std::strtoull(argv[2], nullptr, 0);
  bool mbr = false;
  std::string label;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mbr") == 0) {
      mbr = true;
    } else if (std::strcmp(argv[i], "--label") == 0 && i + 1 < argc) {
      label = argv[++i];
    } else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  if (size > 0xFFFFFFFFull) return 2;
  const auto image = vornak::test::BuildImage(static_cast<std::uint32_t>(size), label);
  if (image.empty()) {
    std::fprintf(stderr, "unsupported size %llu\n", size);
    return 1;
  }
  const std::uint64_t offset = mbr ? vornak::test::kPartitionStart * 512ull : 0;
  const std::uint32_t volumeSectors = static_cast<std::uint32_t>(size >> 9);
  if (!vornak::test::WriteImageFile(out, size + offset, image, offset)) {
    std::perror(out.c_str());
    return 1;
  }
  if (mbr) {
    FILE* f = std::fopen(out.c_str(), "r+b");
    const auto record = vornak::test::MakeMbr(volumeSectors);
    const bool ok = f && std::fwrite(record.data(), 1, 512, f) == 512;
    if (!f || std::fclose(f) != 0 || !ok) return 1;
  }
  return 0;
}
