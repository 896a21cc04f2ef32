// ExtractBitstream on arbitrary bytes: no crash, the stream has the size and
// byte order that the layout gives, the notifications come as promised, and
// the source is read at most once.
#include <cstdint>
#include <vector>

#include "fuzz_common.h"
#include "recording.h"

namespace {

struct CountingHooks : lirrow::ExtractionHooks {
  int started = 0, pumps = 0, finished = 0;
  void OnStarted() override { ++started; }
  void OnPump() override {
    FUZZ_CHECK(started == 1 && finished == 0);
    ++pumps;
  }
  void OnFinished() override { ++finished; }
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  FUZZ_CHECK(f != nullptr);
  uint8_t buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(f);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using lirrow_fuzz::ScratchPath;
  static const std::string source = ScratchPath(".rec");
  static const std::string target = ScratchPath(".sbs");
  lirrow_fuzz::WriteFile(source, data, size);

  CountingHooks hooks;
  const int result =
      lirrow::ExtractBitstream(lirrow_fuzz::Wide(source), lirrow_fuzz::Wide(target), hooks);
  const std::vector<uint8_t> out = ReadAll(target);

  const uint8_t first = size ? data[0] : 0;
  int n = 0;
  if (size && (first == 0x80 || first == 0x81)) n = 5;
  if (size && (first == 0x40 || first == 0x41 || first == 0x50)) n = 11;
  if (n == 0) {
    FUZZ_CHECK(result == lirrow::kExtractNotFramed);
    FUZZ_CHECK(out.empty());
    FUZZ_CHECK(hooks.started == 0 && hooks.finished == 0 && hooks.pumps == 0);
    return 0;
  }
  FUZZ_CHECK(result == lirrow::kExtractOk);
  const size_t blocks = size >= 1024 ? (size - 512) / 512 : 0;
  const size_t frames = n == 5 ? 51 : 23;
  const size_t frameSize = 2 * static_cast<size_t>(n);
  FUZZ_CHECK(out.size() == blocks * frames * frameSize);
  FUZZ_CHECK(hooks.started == 1 && hooks.finished == 1);
  FUZZ_CHECK(hooks.pumps == static_cast<int>(n == 5 ? blocks * 255 : 0));
  for (size_t k = 0; k < out.size(); ++k) {
    const size_t block = k / (frames * frameSize);
    const size_t frame = k % (frames * frameSize) / frameSize;
    const size_t j = k % frameSize;
    const size_t from = 512 + 512 * block + frame * frameSize + (j % 2 ? n + j / 2 : j / 2);
    FUZZ_CHECK(out[k] == data[from]);
  }
  return 0;
}
