#include "format_results.h"

#include <cstdio>

namespace vornak {

namespace {

// The language ids of the Chinese reports.
constexpr std::uint16_t kLangSimplifiedChinese = 0x0804;
constexpr std::uint16_t kLangTraditionalChinese = 0x0404;

}  // namespace

std::uint32_t ImageBufferSize(const FatLayout& layout, std::uint32_t size) {
  if (layout.kind == LayoutKind::Computed) return layout.fatSectors * 1024u + 0x4200u;
  const std::uint32_t mib = size >> 20;
  return (mib / 32u) * 65536u + 80384u;
}

std::uint32_t SystemFilesBytes(const FatLayout& layout, std::uint32_t clusterBytes) {
  const std::uint32_t s = clusterBytes / 512u;
  if (s == 0) return 0;
  const std::uint32_t q = layout.index < 3 ? (s + 2910u) / s : (s + 2959u) / s + 1u;
  return s * q * 512u;
}

std::uint32_t UsableDataBytes(const FatLayout& layout, std::uint32_t size,
                              std::uint32_t clusterBytes) {
  const std::uint32_t systemBytes = SystemAreaBytes(layout);
  if (clusterBytes == 0 || size <= systemBytes) return 0;
  return clusterBytes * ((size - systemBytes) / clusterBytes);
}

std::uint32_t AvailableBytes(const FormatResults& r) {
  // Available space leaves out the bad clusters and the start-up files alike;
  // on a mostly unreadable bootable disk they can exceed the total.
  const std::uint64_t taken = static_cast<std::uint64_t>(r.bad) + r.system;
  return taken >= r.total ? 0 : static_cast<std::uint32_t>(r.total - taken);
}

std::string ResultsReportText(std::uint16_t languageId, const FormatResults& r) {
  const std::uint32_t available = AvailableBytes(r);
  const std::uint32_t units = r.cluster ? r.total / r.cluster : 0;
  const char* format;
  switch (languageId) {
    case kLangSimplifiedChinese:
      // GBK
      format =
          "\xb4\xc5\xc5\xcc\xbf\xd5\xbc\xe4\xb9\xb2: %u bytes\n\n"
          "\xcf\xb5\xcd\xb3\xce\xc4\xbc\xfe\xca\xb9\xd3\xc3: %u bytes\n\n"
          "\xbb\xb5\xc9\xc8\xc7\xf8\xb9\xb2: %u bytes\n\n"
          "\xbf\xc9\xd3\xc3\xb4\xc5\xc5\xcc\xbf\xd5\xbc\xe4: %u bytes\n\n\n\n"
          "\xc3\xbf\xb8\xf6\xb7\xd6\xc5\xe4\xb5\xa5\xd4\xaa\xb9\xb2\xd3\xd0: %u bytes\n\n"
          "\xb4\xc5\xc5\xcc\xb7\xd6\xc5\xe4\xb5\xa5\xd4\xaa\xd7\xdc\xca\xfd: %u\n";
      break;
    case kLangTraditionalChinese:
      // Big5
      format =
          "\xba\xcf\xba\xd0\xaa\xc5\xb6\xa1\xa6@: %u bytes\n\n"
          "\xa8t\xb2\xce\xa4\xe5\xa5\xf3\xa8\xcf\xa5\xce: %u bytes\n\n"
          "\xc3"
          "a\xae\xb0\xb0\xcf\xa6@: %u bytes\n\n"
          "\xa5i\xa5\xce\xba\xcf\xba\xd0\xaa\xc5\xb6\xa1: %u bytes\n\n\n\n"
          "\xa8"
          "C\xad\xd3\xa4\xc0\xb0t\xb3\xe6\xa4\xb8\xa6@\xa6\xb3: %u bytes\n\n"
          "\xba\xcf\xba\xd0\xa4\xc0\xb0t\xb3\xe6\xa4\xb8\xc1`\xbc\xc6: %u\n";
      break;
    default:
      format =
          "total disk space: %u bytes\n\n"
          "system files use: %u\n\n"
          "bad sectors: %u bytes\n\n"
          "available on disk: %u bytes\n\n\n\n"
          "each allocation unit: %u bytes\n\n"
          "total allocation units: %u\n";
      break;
  }
  char buffer[512];
  int n = std::snprintf(buffer, sizeof buffer, format, r.total, r.system, r.bad, available,
                        r.cluster, units);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace vornak
