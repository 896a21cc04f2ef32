#include "duration.h"

#include <cmath>
#include <cstring>

namespace lirrow {

namespace {

constexpr uint32_t kSyncMask = 0xFFE00000u;
constexpr int kMaxRetries = 10000;

// Chunks looked at for a WAV file's "fmt " chunk.
constexpr int kMaxWavChunks = 64;

uint32_t LittleEndian(const unsigned char* b) {
  return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

uint32_t BigEndian(const unsigned char* b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}

// Bitrates in kbit/s by index 0..14 (index 0 is free format).
// MPEG-1 (ISO/IEC 11172-3), Layers I, II, III.
constexpr int kMpeg1Bitrates[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
};
// Lower sampling frequencies (ISO/IEC 13818-3, also used for MPEG-2.5):
// Layer I, and Layers II and III.
constexpr int kLsfBitrates[2][15] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

// Sample rates by version code (1 = MPEG-2.5, 2 = MPEG-2, 3 = MPEG-1) and index.
constexpr int kSampleRates[4][3] = {
    {0, 0, 0},
    {11025, 12000, 8000},
    {22050, 24000, 16000},
    {44100, 48000, 32000},
};

// Header bit patterns to codes: version 11 -> 3, 10 -> 2, 00 -> 1, 01 -> 0;
// layer 11 -> 1, 10 -> 2, 01 -> 3, 00 -> 0.
constexpr int kVersionCode[4] = {1, 0, 2, 3};
constexpr int kLayerCode[4] = {0, 3, 2, 1};

int BitrateKbps(int version, int layer, int index) {
  if (version == 3) return kMpeg1Bitrates[layer - 1][index];
  return kLsfBitrates[layer == 1 ? 0 : 1][index];
}

bool EndsWithWav(const std::wstring& path) {
  if (path.size() < 3) return false;
  const wchar_t* tail = path.c_str() + path.size() - 3;
  auto lower = [](wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
  };
  return lower(tail[0]) == L'w' && lower(tail[1]) == L'a' && lower(tail[2]) == L'v';
}

}  // namespace

bool FindFrameHeader(File& file, long skip, uint32_t& header) {
  header = 0;
  if (skip > 0) file.SeekBy(skip);
  unsigned char window[4];
  bool full = file.Read(window, 4) == 4;
  int retries = 0;
  while (full && (BigEndian(window) & kSyncMask) != kSyncMask) {
    if (++retries > kMaxRetries) break;
    file.SeekBy(-3);
    full = file.Read(window, 4) == 4;
  }
  if (!full) return false;
  header = BigEndian(window);
  return (header & kSyncMask) == kSyncMask;
}

void ProbeMp3(File& file, Mp3Probe& probe) {
  int frames = 0;
  double total = 0.0;
  uint32_t header = 0;
  bool found = FindFrameHeader(file, 0, header);
  while (found) {
    // Index 15 is not a valid bitrate, and no bitrate table applies to the
    // reserved layer as the first frame's (later frames are measured with
    // the first frame's layer, whatever their own bits say): such a header
    // is damaged, or a sync pattern inside the data. It counts no time and
    // fixes no tables. The real header may overlap it (a stray 0xFF in
    // front), so the search goes on from the byte after its first: the
    // position still only moves forward.
    const int bitrateIndex = static_cast<int>((header >> 12) & 15);
    if ((frames == 0 && kLayerCode[(header >> 17) & 3] == 0) || bitrateIndex == 15) {
      file.SeekBy(-3);
      found = FindFrameHeader(file, 0, header);
      continue;
    }
    if (frames == 0) {
      probe.version = kVersionCode[(header >> 19) & 3];
      probe.layer = kLayerCode[(header >> 17) & 3];
    }
    const int bitrate = BitrateKbps(probe.version, probe.layer, bitrateIndex);

    const int rateIndex = static_cast<int>((header >> 10) & 3);
    if (rateIndex != 3 && probe.version != 0)
      probe.sampleRate = kSampleRates[probe.version][rateIndex];
    if (probe.sampleRate == 0) break;

    const long padding = static_cast<long>((header >> 9) & 1);
    const long rate = probe.sampleRate;
    long length;
    if (probe.layer == 1) {
      length = (bitrate * 12000L / rate + padding) * 4;
    } else if (probe.layer == 3 && probe.version != 3) {
      length = bitrate * 72000L / rate + padding;
    } else {
      length = bitrate * 144000L / rate + padding;
    }

    ++frames;
    if (bitrate != 0) total += length * 8.0 / (bitrate * 1000.0);
    found = FindFrameHeader(file, length - 4, header);
  }
  if (frames > 0) probe.duration = total;
}

bool Mp3LengthAgrees(double mp3Seconds, double wavSeconds) {
  return std::fabs(std::trunc(mp3Seconds - wavSeconds)) <= 2.0;
}

uint32_t WavByteRate(const std::wstring& path) {
  File file;
  if (!file.OpenRead(path, File::Share::kReadWrite)) return 0;
  unsigned char head[12];
  if (file.Read(head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0)
    return 0;
  unsigned char chunk[8];
  for (int i = 0; i < kMaxWavChunks && file.Read(chunk, 8) == 8; ++i) {
    const uint32_t size = LittleEndian(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char format[16];
      return size >= 16 && file.Read(format, 16) == 16 ? LittleEndian(format + 8) : 0;
    }
    // Chunks are padded to an even size.
    if (!file.SeekBy(static_cast<int64_t>(size) + (size & 1))) break;
  }
  return 0;
}

double MeasureDuration(const std::wstring& path) {
  File file;
  if (EndsWithWav(path)) {
    if (!file.OpenRead(path, File::Share::kReadWrite)) return 0.0;
    const int64_t size = file.Size();
    return size > 0 ? static_cast<double>(size) / 16000.0 : 0.0;
  }
  if (!file.OpenRead(path, File::Share::kRead)) return 0.0;
  Mp3Probe probe;
  ProbeMp3(file, probe);
  return probe.duration;
}

}  // namespace lirrow
