// The frame walk on arbitrary bytes: no crash or hang, reads bounded by the
// file's size, and a finite duration that the file's size can hold.
#include <cmath>
#include <cstdint>

#include "duration.h"
#include "file.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using lirrow_fuzz::ScratchPath;
  static const std::string mp3 = ScratchPath(".mp3");
  static const std::string wav = ScratchPath(".WAV");
  lirrow_fuzz::WriteFile(mp3, data, size);

  lirrow::File file;
  FUZZ_CHECK(file.OpenRead(lirrow_fuzz::Wide(mp3), lirrow::File::Share::kRead));
  lirrow::Mp3Probe probe;
  lirrow::ProbeMp3(file, probe);

  // Every tried position reads one 4-byte window and positions only grow;
  // the system is asked for each byte about once.
  FUZZ_CHECK(file.BytesDelivered() <= 4 * (static_cast<uint64_t>(size) + 1));
  FUZZ_CHECK(file.BytesFetched() <= 2 * static_cast<uint64_t>(size) + 64);
  // A frame lasts at most 0.15 s and takes at least 4 bytes.
  FUZZ_CHECK(std::isfinite(probe.duration) && probe.duration >= 0.0);
  FUZZ_CHECK(probe.duration <= 0.15 * (static_cast<double>(size) / 4 + 1));
  FUZZ_CHECK(lirrow::MeasureDuration(lirrow_fuzz::Wide(mp3)) == probe.duration);

  // The same bytes under a WAV name are measured by size.
  if (size % 7 == 0) {
    lirrow_fuzz::WriteFile(wav, data, size);
    FUZZ_CHECK(lirrow::MeasureDuration(lirrow_fuzz::Wide(wav)) ==
               static_cast<double>(size) / 16000.0);
  }
  return 0;
}
