// The pipeline end to end with real programs: the native builds of the
// stand-in decoders, lame -b 32 as the encoder, and sox / mpg123 as
// independent readers of the results.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "duration.h"
#include "posix_tools.h"

#ifndef STANDINS_DIR
#error "STANDINS_DIR must name the folder of the native stand-in tools"
#endif

namespace lirrow::test {
namespace {

bool HaveProgram(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Samples of a WAV file as sox reads them.
long SoxSamples(const fs::path& wav) {
  return std::stol("0" + CommandOutput("soxi -s '" + wav.string() + "' 2>/dev/null"));
}

// Seconds of an MP3 file as mpg123 decodes it (decoded samples / rate).
double Mpg123Seconds(const fs::path& mp3, const fs::path& scratch) {
  const fs::path decoded = scratch / "mpg123-decoded.wav";
  CommandOutput("mpg123 -q -w '" + decoded.string() + "' '" + mp3.string() + "' 2>/dev/null");
  return std::stod("0" + CommandOutput("soxi -D '" + decoded.string() + "' 2>/dev/null"));
}

std::vector<unsigned char> Recording(unsigned char firstByte, std::size_t size) {
  std::vector<unsigned char> bytes(size);
  unsigned state = 12345;
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<unsigned char>(state >> 16);
  }
  bytes[0] = firstByte;
  return bytes;
}

class StandinPipelineTest : public ::testing::Test {
 protected:
  StandinPipelineTest() : host(log, L""), pipeline(host, platform, LibraryRecordingFiles()) {
    for (const char* sub : {"tools", "temp", "voice"}) fs::create_directories(dir.Path() / sub);
    for (const char* tool : {"Vrn_dec.exe", "QL8_Dec.exe", "QL4_Dec.exe"})
      fs::create_symlink(fs::path(STANDINS_DIR) / tool, Tools() / tool);
    host.start = Wide(Tools().string());
    platform.programDirectory = host.start;
    platform.tempDirectory = Wide(Temp().string()) + L"/";
  }
  fs::path Tools() const { return dir.Path() / "tools"; }
  fs::path Temp() const { return dir.Path() / "temp"; }
  fs::path Voice() const { return dir.Path() / "voice"; }
  void Control(const char* tool, const std::string& words) {
    std::ofstream(Tools() / tool) << words << "\n";
  }
  std::wstring Source(const char* name, const std::vector<unsigned char>& bytes) {
    WriteBytes(Voice() / name, bytes);
    return Wide((Voice() / name).string());
  }
  std::string ToolLog() {
    std::ifstream in(Tools() / "standins.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  TempDir dir;
  std::vector<std::wstring> log;
  FakeHost host;
  PosixToolPlatform platform;
  ConversionPipeline pipeline;
};

TEST_F(StandinPipelineTest, EveryKindBecomesAWavOfTheExpectedLength) {
  if (!HaveProgram("soxi")) GTEST_SKIP() << "sox is not installed";
  EXPECT_TRUE(pipeline.CheckDecoders());
  struct Case {
    unsigned char first;
    const char* decoder;
    long decoderInputBytes;  // what the decoder reads: the file or the stream
  };
  const std::size_t size = 512 + 7 * 512 + 300;  // 7 data blocks and a partial one
  for (const Case c :
       {Case{0x05, "Vrn_dec.exe", static_cast<long>(size)},
        Case{0x04, "Vrn_dec.exe", static_cast<long>(size)},
        Case{0x03, "Vrn_dec.exe", static_cast<long>(size)}, Case{0x80, "QL8_Dec.exe", 7 * 510},
        Case{0x81, "QL8_Dec.exe", 7 * 510}, Case{0x41, "QL4_Dec.exe", 7 * 506}}) {
    SCOPED_TRACE(static_cast<int>(c.first));
    fs::remove(Tools() / "standins.log");
    ASSERT_TRUE(host.Convert(pipeline, Source("memo.rec", Recording(c.first, size))));
    const fs::path wav = Voice() / "memo.wav";
    // The stand-in decoders write 8 samples per byte they read.
    EXPECT_EQ(SoxSamples(wav), 8 * c.decoderInputBytes);
    EXPECT_EQ(ToolLog().substr(0, std::string(c.decoder).size()), c.decoder);
    EXPECT_TRUE(fs::is_empty(Temp())) << "temporary files left behind";
    EXPECT_EQ(host.caption, Wide(wav.string()));
    EXPECT_TRUE(host.messages.empty());
    fs::remove(wav);
  }
}

TEST_F(StandinPipelineTest, LameAsTheEncoderGivesAnMp3OfTheWavsLength) {
  if (!HaveProgram("lame") || !HaveProgram("mpg123") || !HaveProgram("soxi"))
    GTEST_SKIP() << "lame, mpg123 or sox is not installed";
  fs::create_symlink(CommandOutput("command -v lame | tr -d '\\n'"), Tools() / "sqenc.exe");
  host.mp3 = true;
  // 20 data blocks of the 10-byte layout: 10,200 stream bytes, 10.2 s of WAV.
  ASSERT_TRUE(host.Convert(pipeline, Source("memo.part.ovk", Recording(0x81, 512 + 20 * 512))));
  const fs::path mp3 = Voice() / "memo.part.mp3";
  ASSERT_TRUE(fs::exists(mp3));
  EXPECT_TRUE(fs::exists(Voice() / "memo.part.wav"));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(host.outputPath, Wide(mp3.string()));
  const double wavSeconds = (44 + 10200 * 16) / 16000.0;
  // lame adds its encoder delay, padding and a tag frame: a few frames of
  // 72 ms at 8 kHz.
  EXPECT_NEAR(Mpg123Seconds(mp3, dir.Path()), wavSeconds, 0.5);
  EXPECT_NEAR(MeasureDuration(Wide(mp3.string())), wavSeconds, 0.5);
  EXPECT_EQ(host.totalTime, L"0:00:10");
  EXPECT_TRUE(fs::is_empty(Temp()));
}

TEST_F(StandinPipelineTest, TheStandinEncodersMp3MeasuresLikeMpg123AndItsWrongLengthIsRejected) {
  if (!HaveProgram("mpg123") || !HaveProgram("soxi"))
    GTEST_SKIP() << "mpg123 or sox is not installed";
  fs::create_symlink(fs::path(STANDINS_DIR) / "sqenc.exe", Tools() / "sqenc.exe");
  host.mp3 = true;
  ASSERT_TRUE(host.Convert(pipeline, Source("long.rec", Recording(0x05, 20000))));  // 20 s of WAV
  const fs::path mp3 = Voice() / "long.mp3";
  ASSERT_TRUE(fs::exists(mp3));
  const double measured = MeasureDuration(Wide(mp3.string()));
  EXPECT_NEAR(measured, 20.0, 0.036);
  EXPECT_NEAR(Mpg123Seconds(mp3, dir.Path()), measured, 0.001);
  EXPECT_EQ(ToolLog(), "Vrn_dec.exe|" + (Voice() / "long.rec").string() + "|" +
                           (Temp() / "tmp.wav").string() + "\nsqenc.exe|-b|32|" +
                           (Temp() / "tmp.wav").string() + "|" + mp3.string() + "\n");
  const std::vector<unsigned char> earlier = ReadBytes(mp3);

  Control("sqenc.ctl", "mp3-offset -3.5");
  ASSERT_TRUE(host.Convert(pipeline, Source("long.rec", Recording(0x05, 20000))));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text,
            L"Failed to convert file!Perhaps have no enough space for write!");
  EXPECT_EQ(ReadBytes(mp3), earlier);  // the rejected one went, the earlier one is back
  EXPECT_EQ(host.outputPath, L"");
}

TEST_F(StandinPipelineTest, ControlFilesMakeDecodersFailAndMissingOnesAreNamed) {
  Control("QL4_Dec.ctl", "fail 5 once");
  EXPECT_FALSE(host.Convert(pipeline, Source("m.rec", Recording(0x40, 512 + 2 * 512))));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text,
            L"Failed to convert file!Perhaps have no enough space for write!");
  EXPECT_EQ(host.result.status, ConversionStatus::kToolFailed);
  EXPECT_EQ(host.result.tool, L"QL4_Dec.exe");
  EXPECT_EQ(host.result.exitCode, 5u);
  EXPECT_TRUE(fs::exists(Temp() / "temp.sbs"));       // left for inspection after a failure
  EXPECT_FALSE(fs::exists(Tools() / "QL4_Dec.ctl"));  // "once" removed it
  EXPECT_TRUE(host.Convert(pipeline, Source("m.rec", Recording(0x40, 512 + 2 * 512))));

  fs::remove(Tools() / "QL4_Dec.exe");
  host.messages.clear();
  EXPECT_FALSE(pipeline.CheckDecoders());
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text.substr(0, 12), L"QL4_DEC.exe\n");
}

}  // namespace
}  // namespace lirrow::test
