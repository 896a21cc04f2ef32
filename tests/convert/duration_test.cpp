// Duration of WAV files by size and of MPEG audio by its frame headers, on
// streams built here from known frame sizes.
#include "duration.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "temp_files.h"

namespace {

using lirrow::MeasureDuration;
using namespace lirrow_test;

// Appends one frame: the header word big-endian, then `length - 4` zero bytes.
void AddFrame(Bytes& out, uint32_t header, size_t length) {
  out.push_back(static_cast<unsigned char>(header >> 24));
  out.push_back(static_cast<unsigned char>(header >> 16));
  out.push_back(static_cast<unsigned char>(header >> 8));
  out.push_back(static_cast<unsigned char>(header));
  out.insert(out.end(), length - 4, 0);
}

void AddFrames(Bytes& out, uint32_t header, size_t length, int count) {
  for (int i = 0; i < count; ++i) AddFrame(out, header, length);
}

// Headers: sync, version, layer, protection bit set (no CRC), then bitrate
// index, rate index and padding in the third byte.
constexpr uint32_t kMpeg1L3_128k_44100 = 0xFFFB9000;      // 417 bytes, 1152 samples
constexpr uint32_t kMpeg1L3_128k_44100_pad = 0xFFFB9200;  // 418 bytes
constexpr uint32_t kMpeg1L2_192k_48000 = 0xFFFDA400;      // 576 bytes, 1152 samples
constexpr uint32_t kMpeg1L1_384k_48000 = 0xFFFFC400;      // 384 bytes, 384 samples
constexpr uint32_t kMpeg2L3_64k_24000 = 0xFFF38400;       // 192 bytes, 576 samples
constexpr uint32_t kMpeg25L3_8k_8000 = 0xFFE31800;        // 72 bytes, 576 samples
constexpr uint32_t kMpeg2L1_32k_16000 = 0xFFF71800;  // (32*12000/16000)*4 = 96 bytes, 384 samples

class Mp3Files : public ::testing::Test {
 protected:
  double Measure(const Bytes& bytes, const std::string& name = "x.mp3") {
    WriteBytes(dir / name, bytes);
    return MeasureDuration(dir.W(name));
  }
  TempDir dir;
};

TEST(WavDuration, SizeOverSixteenThousand) {
  TempDir dir;
  WriteBytes(dir / "a.wav", Bytes(160000, 0x5A));
  WriteBytes(dir / "A.WAV", Bytes(160000, 0x00));
  WriteBytes(dir / "b.Wav", Bytes(8000, 0x00));
  WriteBytes(dir / "e.wav", Bytes{});
  EXPECT_DOUBLE_EQ(MeasureDuration(dir.W("a.wav")), 10.0);
  EXPECT_DOUBLE_EQ(MeasureDuration(dir.W("A.WAV")), 10.0);
  EXPECT_DOUBLE_EQ(MeasureDuration(dir.W("b.Wav")), 0.5);
  EXPECT_DOUBLE_EQ(MeasureDuration(dir.W("e.wav")), 0.0);
  EXPECT_DOUBLE_EQ(MeasureDuration(dir.W("missing.wav")), 0.0);
  // A WAV name is measured by size even when the bytes are MPEG frames.
  Bytes frames;
  AddFrames(frames, kMpeg1L3_128k_44100, 417, 40);
  WriteBytes(dir / "f.wav", frames);
  EXPECT_DOUBLE_EQ(MeasureDuration(dir.W("f.wav")), 40 * 417 / 16000.0);
}

// A RIFF chunk: its id, its size little-endian, then `size` bytes of `fill`
// and the pad byte of an odd size.
void AddChunk(Bytes& out, const char* id, uint32_t size, unsigned char fill = 0) {
  out.insert(out.end(), id, id + 4);
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<unsigned char>(size >> shift));
  out.insert(out.end(), size + (size & 1), fill);
}

Bytes Wave(uint32_t byteRate, bool listFirst) {
  Bytes b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  if (listFirst) AddChunk(b, "LIST", 5, 'x');  // odd: padded
  AddChunk(b, "fmt ", 16);
  const std::size_t rate = b.size() - 16 + 8;  // the byte rate's offset in the format
  for (int i = 0; i < 4; ++i) b[rate + i] = static_cast<unsigned char>(byteRate >> (8 * i));
  AddChunk(b, "data", 100);
  return b;
}

TEST(WavByteRate, FromTheFormatChunkWhereverItStands) {
  TempDir dir;
  WriteBytes(dir / "plain.wav", Wave(16000, false));
  WriteBytes(dir / "list.wav", Wave(16000, true));
  WriteBytes(dir / "cd.wav", Wave(176400, true));
  WriteBytes(dir / "junk.wav", Bytes{'j', 'u', 'n', 'k', '\n'});
  Bytes noFormat = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  AddChunk(noFormat, "data", 100);
  WriteBytes(dir / "noformat.wav", noFormat);
  EXPECT_EQ(lirrow::WavByteRate(dir.W("plain.wav")), lirrow::kDecoderWavByteRate);
  EXPECT_EQ(lirrow::WavByteRate(dir.W("list.wav")), 16000u);
  EXPECT_EQ(lirrow::WavByteRate(dir.W("cd.wav")), 176400u);
  EXPECT_EQ(lirrow::WavByteRate(dir.W("junk.wav")), 0u);
  EXPECT_EQ(lirrow::WavByteRate(dir.W("noformat.wav")), 0u);
  EXPECT_EQ(lirrow::WavByteRate(dir.W("missing.wav")), 0u);
}

TEST_F(Mp3Files, FrameLengthsOfEachLayerAndVersion) {
  // Each stream lasts count * samples / rate; the frames are found only if
  // the walk computes each frame's length right.
  const struct {
    const char* what;
    uint32_t header;
    size_t length;
    double frameSeconds;
  } cases[] = {
      // Unpadded 417-byte frames carry 417 * 8 bits at 128 kbit/s.
      {"MPEG-1 Layer III", kMpeg1L3_128k_44100, 417, 417 * 8 / 128000.0},
      {"MPEG-1 Layer II", kMpeg1L2_192k_48000, 576, 1152 / 48000.0},
      {"MPEG-1 Layer I", kMpeg1L1_384k_48000, 384, 384 / 48000.0},
      {"MPEG-2 Layer III", kMpeg2L3_64k_24000, 192, 576 / 24000.0},
      {"MPEG-2.5 Layer III", kMpeg25L3_8k_8000, 72, 576 / 8000.0},
      {"MPEG-2 Layer I", kMpeg2L1_32k_16000, 96, 384 / 16000.0},
  };
  for (const auto& c : cases) {
    Bytes bytes;
    AddFrames(bytes, c.header, c.length, 250);
    EXPECT_NEAR(Measure(bytes), 250 * c.frameSeconds, 1e-9) << c.what;
  }
}

TEST_F(Mp3Files, PaddingAddsOneByte) {
  // 44.1 kHz at 128 kbit/s: 417 bytes, 418 with the padding bit.
  Bytes bytes;
  for (int i = 0; i < 300; ++i) {
    const bool pad = i % 3 != 0;
    AddFrame(bytes, pad ? kMpeg1L3_128k_44100_pad : kMpeg1L3_128k_44100, pad ? 418 : 417);
  }
  EXPECT_NEAR(Measure(bytes), (100 * 417 + 200 * 418) * 8 / 128000.0, 1e-9);
}

TEST_F(Mp3Files, VersionAndLayerComeFromFirstFrame) {
  // Later frames claim MPEG-2 (or Layer I); they are measured with the
  // first frame's MPEG-1 Layer III tables: 128 kbit/s, 44100 Hz, 417 bytes.
  Bytes bytes;
  AddFrames(bytes, kMpeg1L3_128k_44100, 417, 10);
  AddFrames(bytes, 0xFFF39000, 417, 10);  // MPEG-2 Layer III bits
  AddFrames(bytes, 0xFFFF9000, 417, 10);  // MPEG-1 Layer I bits
  EXPECT_NEAR(Measure(bytes), 30 * 417 * 8 / 128000.0, 1e-9);
}

TEST_F(Mp3Files, ReservedSampleRateKeepsPreviousRate) {
  Bytes bytes;
  AddFrames(bytes, kMpeg1L3_128k_44100, 417, 5);
  AddFrames(bytes, kMpeg1L3_128k_44100 | 0x0C00, 417, 5);  // rate index 3
  EXPECT_NEAR(Measure(bytes), 10 * 417 * 8 / 128000.0, 1e-9);

  Bytes first;  // as the first frame there is no rate: 0
  AddFrames(first, kMpeg1L3_128k_44100 | 0x0C00, 417, 1);
  AddFrames(first, kMpeg1L3_128k_44100, 417, 5);
  EXPECT_EQ(Measure(first), 0.0);

  Bytes reservedVersion;  // version bits 01: no rate table at all
  AddFrames(reservedVersion, 0xFFEB9000, 417, 5);
  EXPECT_EQ(Measure(reservedVersion), 0.0);
}

TEST_F(Mp3Files, ADamagedHeaderCountsNoTimeAndTheWalkGoesOn) {
  const double frame = 417 * 8 / 128000.0;
  // Bitrate index 15 between good frames: one damaged header does not make
  // a long file measure short (which would delete a good MP3).
  Bytes bad;
  AddFrames(bad, kMpeg1L3_128k_44100, 417, 2);
  AddFrame(bad, 0xFFFBF000, 417);
  AddFrames(bad, kMpeg1L3_128k_44100, 417, 5);
  EXPECT_NEAR(Measure(bad), 7 * frame, 1e-9);

  // Headers with the reserved layer before the first good frame likewise;
  // that frame then fixes the version and layer, and a later frame's own
  // layer bits are not looked at: it is measured with the first frame's.
  Bytes layer0;
  AddFrames(layer0, 0xFFF99000, 417, 3);
  AddFrames(layer0, kMpeg1L3_128k_44100, 417, 4);
  AddFrame(layer0, 0xFFF99000, 417);
  AddFrames(layer0, kMpeg1L3_128k_44100, 417, 1);
  EXPECT_NEAR(Measure(layer0), 6 * frame, 1e-9);

  // A stray 0xFF in front of the stream makes a header with index 15 that
  // overlaps the real one: the search goes on from the byte after its
  // first, so the real header is found.
  Bytes stray(1, 0xFF);
  AddFrames(stray, kMpeg1L3_128k_44100, 417, 10);
  EXPECT_NEAR(Measure(stray), 10 * frame, 1e-9);

  // A damaged first header does not choose the tables: MPEG-2 Layer III
  // frames after an MPEG-1 header with index 15 are measured as MPEG-2.
  Bytes first;
  AddFrame(first, 0xFFFBF000, 100);
  AddFrames(first, kMpeg2L3_64k_24000, 192, 10);
  EXPECT_NEAR(Measure(first), 10 * 192 * 8 / 64000.0, 1e-9);

  // Nothing but index-15 headers: no frame, 0, and the walk ends (it only
  // moves forward).
  EXPECT_EQ(Measure(Bytes(50000, 0xFF)), 0.0);
}

TEST_F(Mp3Files, FreeFormatFramesCountNoTime) {
  // A free-format frame (index 0) has no length; the walk searches on from
  // behind its header and finds the next frame.
  Bytes bytes;
  AddFrames(bytes, kMpeg1L3_128k_44100, 417, 3);
  AddFrame(bytes, 0xFFFB0000, 100);
  AddFrames(bytes, kMpeg1L3_128k_44100, 417, 3);
  EXPECT_NEAR(Measure(bytes), 6 * 417 * 8 / 128000.0, 1e-9);
}

TEST_F(Mp3Files, FirstHeaderMustLieWithinTheSearchBound) {
  Bytes frames;
  AddFrames(frames, kMpeg1L3_128k_44100, 417, 20);
  const double expected = 20 * 417 * 8 / 128000.0;
  for (size_t lead : {size_t{0}, size_t{1}, size_t{9999}, size_t{10000}}) {
    Bytes bytes(lead, 0x00);
    bytes.insert(bytes.end(), frames.begin(), frames.end());
    EXPECT_NEAR(Measure(bytes), expected, 1e-9) << "lead " << lead;
  }
  for (size_t lead : {size_t{10001}, size_t{20000}}) {
    Bytes bytes(lead, 0x00);
    bytes.insert(bytes.end(), frames.begin(), frames.end());
    EXPECT_EQ(Measure(bytes), 0.0) << "lead " << lead;
  }
  // Garbage between frames within the bound is skipped.
  Bytes gap;
  AddFrames(gap, kMpeg1L3_128k_44100, 417, 5);
  gap.insert(gap.end(), 3000, 0x12);
  AddFrames(gap, kMpeg1L3_128k_44100, 417, 5);
  EXPECT_NEAR(Measure(gap), 10 * 417 * 8 / 128000.0, 1e-9);
}

TEST_F(Mp3Files, UnmeasurableFilesGiveZero) {
  EXPECT_EQ(MeasureDuration(dir.W("missing.mp3")), 0.0);
  EXPECT_EQ(Measure(Bytes{}), 0.0);
  EXPECT_EQ(Measure(Bytes{0xFF, 0xFB, 0x90}), 0.0);  // header cut short
  // A frame cut short still counts as a whole frame; nothing more follows.
  Bytes cut;
  AddFrames(cut, kMpeg1L3_128k_44100, 417, 2);
  cut.resize(417 + 100);
  EXPECT_NEAR(Measure(cut), 2 * 417 * 8 / 128000.0, 1e-9);
}

TEST(FindFrameHeader, WindowPositionAndBound) {
  TempDir dir;
  Bytes bytes(300, 0x00);
  bytes[100] = 0xFF;
  bytes[101] = 0xE0;
  bytes[102] = 0x12;
  bytes[103] = 0x34;
  WriteBytes(dir / "h.bin", bytes);
  lirrow::File file;
  ASSERT_TRUE(file.OpenRead(dir.W("h.bin")));
  uint32_t header = 1;
  ASSERT_TRUE(lirrow::FindFrameHeader(file, 0, header));
  EXPECT_EQ(header, 0xFFE01234u);
  EXPECT_EQ(file.Position(), 104);
  // Skipping past it finds nothing; the header word is the last window.
  ASSERT_TRUE(file.SeekTo(0));
  EXPECT_FALSE(lirrow::FindFrameHeader(file, 101, header));
  EXPECT_EQ(header, 0u);
  // A negative skip does not move back.
  ASSERT_TRUE(file.SeekTo(101));
  EXPECT_FALSE(lirrow::FindFrameHeader(file, -50, header));
  // Reads are bounded by 10,001 windows of 4 bytes per call.
  lirrow::File big;
  WriteBytes(dir / "z.bin", Bytes(50000, 0x00));
  ASSERT_TRUE(big.OpenRead(dir.W("z.bin")));
  EXPECT_FALSE(lirrow::FindFrameHeader(big, 0, header));
  EXPECT_EQ(big.BytesDelivered(), 10001u * 4u);
  EXPECT_EQ(big.Position(), 10000 + 4);
}

}  // namespace
