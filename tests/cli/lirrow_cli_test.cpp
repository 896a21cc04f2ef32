// lirrow-cli as a user runs it, with the stand-in decoders and encoder:
// every command, a conversion of each framed kind and of a whole-file kind,
// and the failures with their texts and exit codes.
#include <gtest/gtest.h>

#include <string>

#include "cli_test_support.h"

namespace {

using cli_test::RunOptions;
using cli_test::RunProgram;
using cli_test::RunResult;
using cli_test::ScratchDir;

const std::string kCli = LIRROW_CLI;
const std::string kStandins = STANDINS_DIR;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A framed recording: the header block, then `blocks` data blocks of
// varying bytes, then `tail` bytes that do not fill a block.
std::string Framed(unsigned char kind, int blocks, int tail = 0) {
  std::string bytes(512, '\0');
  bytes[0] = static_cast<char>(kind);
  for (int i = 0; i < blocks * 512 + tail; ++i) bytes += static_cast<char>(i * 31 + 7);
  return bytes;
}

class LirrowCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // A private copy of the tools, so that their control files affect only
    // this test.
    const std::string copy = "mkdir -p '" + (dir / "tools") + "' && cp '" + kStandins +
                             "'/*.exe '" + (dir / "tools") + "'";
    ASSERT_EQ(std::system(copy.c_str()), 0);
    tmp = dir / "tmp";
    ASSERT_EQ(std::system(("mkdir -p '" + tmp + "'").c_str()), 0);
  }
  RunResult Lirrow(std::vector<std::string> args) {
    args.insert(args.begin(), kCli);
    RunOptions options;
    options.environment = {"TMPDIR=" + tmp};
    return RunProgram(args, options);
  }
  RunResult Convert(const std::string& file, bool mp3 = false) {
    std::vector<std::string> args = {"convert", file, "--tools", dir / "tools"};
    if (mp3) args.push_back("--mp3");
    return Lirrow(args);
  }
  void Control(const std::string& tool, const std::string& words) {
    cli_test::WriteFile(dir / ("tools/" + tool + ".ctl"), words);
  }
  bool TempIsEmpty() { return RunProgram({"find", tmp, "-mindepth", "1"}).out.empty(); }

  ScratchDir dir;
  std::string tmp;
};

TEST_F(LirrowCli, BadUsageExitsWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"play", "x.rec"},
      {"classify"},
      {"classify", "a.rec", "b.rec"},
      {"extract", "a.rec"},
      {"duration"},
      {"convert"},
      {"convert", "a.rec", "b.rec"},
      {"convert", "a.rec", "--tools"},
      {"convert", "a.rec", "--wav"},
  };
  for (const auto& args : cases) {
    const RunResult r = Lirrow(args);
    EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_TRUE(Contains(r.err, "lirrow-cli") || Contains(r.err, "Usage")) << r.err;
  }
  for (const char* command : {"classify", "extract", "duration", "convert"}) {
    const RunResult r = Lirrow({command, "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Contains(r.out, std::string("Usage: lirrow-cli ") + command)) << r.out;
  }
  EXPECT_EQ(Lirrow({"--help"}).exitCode, 0);
}

TEST_F(LirrowCli, ClassifyExtractAndDuration) {
  cli_test::WriteFile(dir / "memo.rec", Framed(0x81, 2));
  cli_test::WriteFile(dir / "q.rcd", Framed(0x41, 3, 100));
  cli_test::WriteFile(dir / "odd.ovk", Framed(0x50, 1));
  RunResult r = Lirrow({"classify", dir / "memo.rec"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.substr(0, 2), "4\t");
  EXPECT_EQ(Lirrow({"classify", dir / "q.rcd"}).out.substr(0, 2), "5\t");
  EXPECT_EQ(Lirrow({"classify", dir / "odd.ovk"}).out.substr(0, 2), "6\t");
  r = Lirrow({"classify", dir / "none.rec"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "No such file")) << r.err;

  // 3 blocks of 23 frames of 22 bytes; the 100-byte tail is dropped.
  r = Lirrow({"extract", dir / "q.rcd", dir / "q.sbs"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string stream = cli_test::ReadFile(dir / "q.sbs");
  ASSERT_EQ(stream.size(), 3u * 506);
  const std::string source = Framed(0x41, 3, 100);
  EXPECT_EQ(stream[0], source[512]);
  EXPECT_EQ(stream[1], source[512 + 11]);
  EXPECT_EQ(stream[506], source[1024]);

  r = Lirrow({"extract", dir / "odd.ovk.missing", dir / "x.sbs"});
  EXPECT_EQ(r.exitCode, 1);
  cli_test::WriteFile(dir / "whole.ovk", std::string(1, '\x05') + std::string(2000, '\0'));
  r = Lirrow({"extract", dir / "whole.ovk", dir / "x.sbs"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "not a framed recording")) << r.err;
  r = Lirrow({"extract", dir / "q.rcd", dir / "no/such/dir/x.sbs"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "cannot create")) << r.err;

  cli_test::WriteFile(dir / "a.WAV", std::string(160000, '\0'));
  r = Lirrow({"duration", dir / "a.WAV"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "10.000\t0:00:10\n");
  EXPECT_EQ(Lirrow({"duration", dir / "gone.mp3"}).exitCode, 1);
}

TEST_F(LirrowCli, ConvertsEveryKindWithItsDecoderAndCleansUp) {
  struct Case {
    std::string name;
    std::string bytes;
    const char* decoder;
    std::uint64_t wavBytes;  // 44-byte header, then 16 bytes per decoder input byte
  } cases[] = {
      {"memo.part.rec", Framed(0x81, 4), "QL8_Dec.exe", 44 + 16 * 4 * 510},
      {"talk.RCD", Framed(0x80, 2), "QL8_Dec.exe", 44 + 16 * 2 * 510},
      {"note.ovk", Framed(0x40, 3, 50), "QL4_Dec.exe", 44 + 16 * 3 * 506},
      {"v.ovk", std::string(1, '\x03') + std::string(999, '\x11'), "Vrn_dec.exe", 44 + 16 * 1000},
  };
  for (const Case& c : cases) {
    cli_test::WriteFile(dir / c.name, c.bytes);
    const RunResult r = Convert(dir / c.name);
    ASSERT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
    const std::string base = dir / c.name.substr(0, c.name.rfind('.'));
    EXPECT_EQ(cli_test::FileSize(base + ".wav"), c.wavBytes) << c.name;
    EXPECT_TRUE(Contains(r.out, base + ".wav\t")) << r.out;
    EXPECT_TRUE(Contains(cli_test::ReadFile(dir / "tools/standins.log"), c.decoder));
    EXPECT_TRUE(TempIsEmpty()) << c.name;
  }
  const RunResult again = Convert(dir / "memo.part.rec");  // replaces its output
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_TRUE(Contains(again.err, "Converting rcd/rec/ovk file to Bitstream ..."));
  EXPECT_TRUE(Contains(again.err, "Converting bistream to WAV ..."));
}

TEST_F(LirrowCli, Mp3OutputIsKeptWhenItsLengthMatchesAndDroppedWhenNot) {
  // 20 blocks: 20 * 510 * 16 bytes of WAV data, about 10.2 seconds.
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 20));
  RunResult r = Convert(dir / "m.rec", true);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(cli_test::Exists(dir / "m.mp3"));
  EXPECT_TRUE(Contains(r.out, dir / "m.mp3\t10.")) << r.out;
  EXPECT_TRUE(Contains(r.err, "      Encoding WAV to MP3..."));
  if (cli_test::HaveProgram("mpg123")) {
    const RunResult decoded = RunProgram({"mpg123", "-t", dir / "m.mp3"});
    EXPECT_EQ(decoded.exitCode, 0) << decoded.err;  // a stream another reader takes
  }

  Control("sqenc", "mp3-offset -3.5");
  r = Convert(dir / "m.rec", true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "Failed to convert file!Perhaps have no enough space for write!"));
  EXPECT_FALSE(cli_test::Exists(dir / "m.mp3"));
  EXPECT_TRUE(cli_test::Exists(dir / "m.wav"));
}

TEST_F(LirrowCli, FailuresExitWithOneAndTheProgramsTexts) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 2));
  cli_test::WriteFile(dir / "bad.rec", Framed(0x50, 2));

  RunResult r = Convert(dir / "bad.rec");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "Unsupport Format")) << r.err;

  r = Convert(dir / "absent.rec");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "No such file")) << r.err;

  Control("QL8_Dec", "fail 3");
  r = Convert(dir / "m.rec");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "Failed to convert file!")) << r.err;
  EXPECT_FALSE(cli_test::Exists(dir / "m.wav"));
  EXPECT_TRUE(TempIsEmpty()) << "the private temporary folder goes, failure or not";
  std::remove((dir / "tools/QL8_Dec.ctl").c_str());

  // Looked for in the order QL8, QL4, VRN; the first one missing is named.
  std::remove((dir / "tools/QL4_Dec.exe").c_str());
  std::remove((dir / "tools/Vrn_dec.exe").c_str());
  r = Convert(dir / "m.rec");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "QL4_DEC.exe\n")) << r.err;
  EXPECT_FALSE(Contains(r.err, "VRN_DEC.exe")) << r.err;
  EXPECT_TRUE(Contains(r.err, "Can't find above file,Please copy it to " + (dir / "tools")))
      << r.err;

  // Without --tools the recording's own folder holds the tools.
  r = Lirrow({"convert", dir / "m.rec"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "QL8_DEC.exe\n")) << r.err;
}

}  // namespace
