#include "image_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "format_ui.h"
#include "system_area.h"

namespace vornak::test {
namespace {

const std::uint8_t kMbr[512] = {
#include "mbr.inc"
};

class SilentUi : public FormatUi {
 public:
  int MessageBoxA(const char*, const char*, std::uint32_t) override { return 1; }
  void PumpOneMessage() override {}
  void ShowPassProgress(const PassProgress&) override {}
  bool IsRunning() override { return true; }
};

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> BuildImage(std::uint32_t size, const std::string& label,
                                     FatLayout* layoutOut) {
  FatLayout layout;
  ChooseLayout(size, layout);
  if (layoutOut) *layoutOut = layout;
  if (layout.kind == LayoutKind::Unsupported) return {};
  std::vector<std::uint8_t> image(SystemAreaBytes(layout));
  bool quick = false;
  std::string text = label;
  std::uint32_t bad = 0;
  SilentUi ui;
  if (!BuildSystemArea(image.data(), static_cast<std::uint32_t>(image.size()), layout,
                       {quick, text, bad}, nullptr, ui, FatTexts{}))
    return {};
  return image;
}

bool WriteImageFile(const std::string& path, std::uint64_t fileSize,
                    const std::vector<std::uint8_t>& image, std::uint64_t offset) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(fileSize)) == 0;
  if (ok) {
    ok = ::pwrite(fd, image.data(), image.size(), static_cast<off_t>(offset)) ==
         static_cast<ssize_t>(image.size());
  }
  return ::close(fd) == 0 && ok;
}

std::vector<std::uint8_t> MakeMbr(std::uint32_t sectors) {
  std::vector<std::uint8_t> mbr(kMbr, kMbr + 512);
  std::uint8_t* e = mbr.data() + 0x1BE;
  e[0] = 0x80;                            // active
  e[1] = 0xFE, e[2] = 0xFF, e[3] = 0xFF;  // CHS not used
  e[4] = sectors < 65536 ? 0x04 : 0x06;   // FAT16
  e[5] = 0xFE, e[6] = 0xFF, e[7] = 0xFF;
  Put32(e + 8, kPartitionStart);
  Put32(e + 12, sectors);
  return mbr;
}

bool ReadFileBytes(const std::string& path, std::uint64_t offset, std::uint32_t size,
                   std::vector<std::uint8_t>& out) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  out.assign(size, 0);
  const bool ok =
      ::pread(fd, out.data(), size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
  ::close(fd);
  return ok;
}

}  // namespace vornak::test
