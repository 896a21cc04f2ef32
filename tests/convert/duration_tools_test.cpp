// Durations of MP3 files encoded here by lame, against the sample count that
// mpg123 decodes from the same file. Native only.
#include "duration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "temp_files.h"

namespace {

using namespace lirrow_test;

bool HaveTool(const char* name) {
  const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

// Seconds of mono audio that mpg123 decodes from `mp3` (every frame, no
// gapless trimming), -1 on failure.
double DecodedSeconds(const fs::path& mp3, int rate) {
  const std::string command = "mpg123 -q --no-gapless -m -s '" + mp3.string() + "' 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[65536];
  size_t bytes = 0;
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) bytes += got;
  if (pclose(pipe) != 0) return -1;
  return static_cast<double>(bytes / 2) / rate;  // 16-bit mono samples
}

struct Encoding {
  const char* what;
  int rate;  // Hz
  int kbps;
  int samplesPerFrame;
};

class LameStreams : public ::testing::TestWithParam<Encoding> {};

TEST_P(LameStreams, MatchesDecodedLengthWithinOneFrame) {
  if (!HaveTool("lame") || !HaveTool("mpg123") || !HaveTool("sox"))
    GTEST_SKIP() << "lame, mpg123 or sox missing";
  const Encoding& e = GetParam();
  TempDir dir;
  const fs::path wav = dir / "in.wav";
  const fs::path mp3 = dir / "out.mp3";
  // 7.3 seconds of a sweep at the stream's own rate, so lame resamples nothing.
  ASSERT_EQ(Shell("sox -n -r " + std::to_string(e.rate) + " -c 1 -b 16 '" + wav.string() +
                  "' synth 7.3 sine 200-2000 vol 0.5"),
            0);
  // -t: no Info frame, which a player skips but a frame walk counts.
  ASSERT_EQ(
      Shell("lame --silent -t --cbr -m m -b " + std::to_string(e.kbps) + " --resample " +
            std::to_string(e.rate / 1000.0) + " '" + wav.string() + "' '" + mp3.string() + "'"),
      0);
  const double reference = DecodedSeconds(mp3, e.rate);
  ASSERT_GT(reference, 7.0);
  const double frame = static_cast<double>(e.samplesPerFrame) / e.rate;
  const double measured = lirrow::MeasureDuration(mp3.wstring());
  EXPECT_NEAR(measured, reference, frame) << e.what << ": " << fs::file_size(mp3) << " bytes";
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, LameStreams,
    ::testing::Values(
        // 44.1 kHz, 22.05 kHz and 11.025 kHz need padded frames; the others divide evenly.
        Encoding{"MPEG1_44100_128k_padded", 44100, 128, 1152},
        Encoding{"MPEG1_44100_32k_padded", 44100, 32, 1152},
        Encoding{"MPEG1_48000_128k", 48000, 128, 1152},
        Encoding{"MPEG1_32000_64k", 32000, 64, 1152},
        Encoding{"MPEG1_48000_320k", 48000, 320, 1152},
        Encoding{"MPEG2_22050_64k_padded", 22050, 64, 576},
        Encoding{"MPEG2_24000_32k", 24000, 32, 576}, Encoding{"MPEG2_16000_8k", 16000, 8, 576},
        Encoding{"MPEG2_24000_80k", 24000, 80, 576},
        Encoding{"MPEG2_22050_144k_padded", 22050, 144, 576},
        Encoding{"MPEG1_44100_256k_padded", 44100, 256, 1152},
        Encoding{"MPEG25_11025_32k_padded", 11025, 32, 576},
        Encoding{"MPEG25_8000_8k", 8000, 8, 576}, Encoding{"MPEG25_12000_16k", 12000, 16, 576}),
    [](const ::testing::TestParamInfo<Encoding>& info) { return std::string(info.param.what); });

TEST(LameStreamsTagged, LeadingTagBeyondSearchBoundMeasuresZero) {
  if (!HaveTool("lame") || !HaveTool("sox")) GTEST_SKIP() << "lame or sox missing";
  TempDir dir;
  ASSERT_EQ(
      Shell("sox -n -r 44100 -c 1 -b 16 '" + (dir / "in.wav").string() + "' synth 2 sine 440"), 0);
  ASSERT_EQ(Shell("lame --silent -t --cbr -b 128 '" + (dir / "in.wav").string() + "' '" +
                  (dir / "a.mp3").string() + "'"),
            0);
  Bytes mp3 = ReadBytes(dir / "a.mp3");
  ASSERT_GT(lirrow::MeasureDuration((dir / "a.mp3").wstring()), 1.9);
  // A 20,000-byte tag in front: ID3v2 header, then zero padding.
  Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0x01, 0x1C, 0x16};  // size 19990 as a syncsafe number
  tagged.resize(20000, 0);
  tagged.insert(tagged.end(), mp3.begin(), mp3.end());
  WriteBytes(dir / "x.mp3", tagged);
  EXPECT_EQ(lirrow::MeasureDuration((dir / "x.mp3").wstring()), 0.0);
}

}  // namespace
