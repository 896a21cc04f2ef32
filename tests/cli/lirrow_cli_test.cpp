// lirrow-cli as a user runs it, with the stand-in decoders and encoder:
// every command, a conversion of each framed kind and of a whole-file kind,
// and the failures with their texts and exit codes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "cli_test_support.h"
#include "lirrow_cli.h"

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
  // Converts m.rec with a decoder that takes 30 s and sends `signal` (TERM,
  // KILL, ...) to lirrow-cli while the decoder runs; the shell's output
  // ends with "status=" and the status lirrow-cli ended with.
  RunResult SignalWhileDecoding(const std::string& signal) {
    return SignalWhileDecoding(signal, "'" + (dir / "m.rec") + "'");
  }
  // The same over `operands` (shell words) of a convert command.
  RunResult SignalWhileDecoding(const std::string& signal, const std::string& operands) {
    Control("QL8_Dec", "sleep 30");
    const std::string script = "'" + kCli + "' convert " + operands + " --tools '" +
                               (dir / "tools") +
                               "' 2>/dev/null & pid=$!\n"
                               "for i in $(seq 200); do grep -q QL8 '" +
                               (dir / "tools/standins.log") +
                               "' 2>/dev/null && break; sleep 0.05; done\n"
                               "sleep 0.2; kill -" +
                               signal + " $pid; wait $pid; echo status=$?\n";
    std::remove((dir / "tools/standins.log").c_str());
    return RunProgram({"bash", "-c", script}, cli_test::WithEnvironment({"TMPDIR=" + tmp}));
  }

  // A folder of recordings of every kind, named in any letter case, with a
  // recording of no known kind among them, a file that is no recording and
  // a subfolder: `memos/`.
  void MemoFolder() {
    ASSERT_EQ(std::system(("mkdir -p '" + (dir / "memos/sub") + "'").c_str()), 0);
    cli_test::WriteFile(dir / "memos/a.rec", Framed(0x80, 3));
    cli_test::WriteFile(dir / "memos/b.REC", Framed(0x50, 1));  // "Unsupport Format"
    cli_test::WriteFile(dir / "memos/c.Rcd", Framed(0x41, 3));
    cli_test::WriteFile(dir / "memos/d.ovk", std::string(1, '\x05') + std::string(8000, 'v'));
    cli_test::WriteFile(dir / "memos/notes.txt", "not a memo");
    cli_test::WriteFile(dir / "memos/sub/e.rec", Framed(0x81, 2));
  }
  // Files left by a batch's staging folders.
  std::string LeftoversAnywhere() {
    return RunProgram({"find", dir.path(), "-name", ".lirrow-cli-*"}).out;
  }
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
      {"convert", "a.rec", "-j", "0"},
      {"convert", "a.rec", "--force", "--skip-existing"},
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
  r = Lirrow({"classify", dir / "odd.ovk"});
  EXPECT_EQ(r.out.substr(0, 2), "6\t");
  EXPECT_EQ(r.exitCode, 1) << "an unsupported recording fails here as in extract and convert";
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

  // 160,000 bytes of a RIFF WAVE file at 16,000 bytes per second.
  const char header[] =
      "RIFF\x24\x71\x02\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data";
  std::string wav(header, sizeof header - 1);
  wav.resize(160000, '\0');
  cli_test::WriteFile(dir / "a.WAV", wav);
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
  const std::string good = cli_test::ReadFile(dir / "m.mp3");
  EXPECT_FALSE(good.empty());
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
  // The rejected MP3 goes; the one of the earlier conversion stays.
  EXPECT_EQ(cli_test::ReadFile(dir / "m.mp3"), good);
  EXPECT_TRUE(cli_test::Exists(dir / "m.wav"));
  std::remove((dir / "m.mp3").c_str());
  r = Convert(dir / "m.rec", true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(cli_test::Exists(dir / "m.mp3"));
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
  // The folder is set off from the text's full stop.
  EXPECT_TRUE(Contains(r.err, "Can't find above file,Please copy it to '" + (dir / "tools") + "'."))
      << r.err;
}

// Processes whose command line holds `part`.
int ProcessesRunning(const std::string& part) {
  int count = 0;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* e = readdir(proc)) {
      if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
      const std::string cmdline =
          cli_test::ReadFile(std::string("/proc/") + e->d_name + "/cmdline");
      if (Contains(cmdline, part)) ++count;
    }
    closedir(proc);
  }
  return count;
}

// Files left in `folder` by an interrupted or failed write.
std::string Leftovers(const std::string& folder) {
  return RunProgram({"find", folder, "-maxdepth", "1", "-name", ".lirrow-cli-*"}).out;
}

TEST_F(LirrowCli, ConvertTakesOnlyRecordingsAndNeverWritesOntoItsSource) {
  // A folder with a dot and a file without one: "rec.wav" beside the folder
  // belongs to somebody else.
  ASSERT_EQ(std::system(("mkdir -p '" + (dir / "rec.2024") + "'").c_str()), 0);
  cli_test::WriteFile(dir / "rec.2024/MEMO", Framed(0x81, 2));
  cli_test::WriteFile(dir / "rec.wav", "unrelated");
  RunResult r = Convert(dir / "rec.2024/MEMO");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "not a recording")) << r.err;
  EXPECT_EQ(cli_test::ReadFile(dir / "rec.wav"), "unrelated");

  // Outputs named like the source: the recording would replace itself.
  const std::string framed = Framed(0x81, 2);
  cli_test::WriteFile(dir / "voice.wav", framed);
  cli_test::WriteFile(dir / "clip.mp3", framed);
  for (const char* name : {"voice.wav", "clip.mp3"}) {
    r = Convert(dir / name, true);
    EXPECT_EQ(r.exitCode, 1) << name;
    EXPECT_EQ(cli_test::ReadFile(dir / name), framed) << name;
  }
  EXPECT_FALSE(cli_test::Exists(dir / "voice.mp3"));
  EXPECT_FALSE(cli_test::Exists(dir / "clip.wav"));

  // The output is the recording under another name (hard or symbolic link).
  cli_test::WriteFile(dir / "a.rec", framed);
  ASSERT_EQ(link((dir / "a.rec").c_str(), (dir / "a.wav").c_str()), 0);
  cli_test::WriteFile(dir / "b.rec", framed);
  ASSERT_EQ(symlink((dir / "b.rec").c_str(), (dir / "b.mp3").c_str()), 0);
  r = Convert(dir / "a.rec");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "input file itself")) << r.err;
  r = Convert(dir / "b.rec", true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(cli_test::ReadFile(dir / "a.rec"), framed);
  EXPECT_EQ(cli_test::ReadFile(dir / "b.rec"), framed);
  EXPECT_FALSE(cli_test::Exists(dir / "b.wav")) << "refused before anything is written";

  // Letter case does not matter.
  cli_test::WriteFile(dir / "UP.REC", framed);
  EXPECT_EQ(Convert(dir / "UP.REC").exitCode, 0);
  EXPECT_TRUE(cli_test::Exists(dir / "UP.wav"));
  EXPECT_EQ(Leftovers(dir.path()), "");
}

TEST_F(LirrowCli, ExtractChecksTheKindAndItsOutputBeforeWriting) {
  cli_test::WriteFile(dir / "some.wav", "RIFF....WAVEfmt ");
  cli_test::WriteFile(dir / "victim.rec", "keep me");
  RunResult r = Lirrow({"extract", dir / "some.wav", dir / "victim.rec"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(cli_test::ReadFile(dir / "victim.rec"), "keep me");

  // 0x50 is refused as the converter refuses it.
  cli_test::WriteFile(dir / "p.rec", Framed(0x50, 2));
  EXPECT_EQ(Lirrow({"extract", dir / "p.rec", dir / "victim.rec"}).exitCode, 1);
  EXPECT_EQ(cli_test::ReadFile(dir / "victim.rec"), "keep me");

  const std::string framed = Framed(0x81, 3);
  cli_test::WriteFile(dir / "t.rec", framed);
  ASSERT_EQ(symlink((dir / "t.rec").c_str(), (dir / "t.link").c_str()), 0);
  for (const char* out : {"t.rec", "t.link"}) {
    r = Lirrow({"extract", dir / "t.rec", dir / out});
    EXPECT_EQ(r.exitCode, 1) << out;
    EXPECT_TRUE(Contains(r.err, "input file itself")) << r.err;
    EXPECT_EQ(cli_test::ReadFile(dir / "t.rec"), framed);
  }

  // A good extraction replaces an existing output whole, through a link too.
  ASSERT_EQ(symlink((dir / "victim.rec").c_str(), (dir / "v.link").c_str()), 0);
  r = Lirrow({"extract", dir / "t.rec", dir / "v.link"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cli_test::FileSize(dir / "victim.rec"), 3u * 510);
  struct stat st {};
  ASSERT_EQ(lstat((dir / "v.link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Leftovers(dir.path()), "");
}

// Names reach the converter and come back byte for byte, UTF-8 or not;
// bytes that only look like UTF-8 (an encoded surrogate, an overlong form)
// are kept as bytes too.
TEST(LirrowCliPlatform, NamesRoundTripAsTheirBytes) {
  for (const std::string name : {"lat\xe9.rec", "\xed\xb2\x80.ovk", "\xc0\xaf", "\xe5\xbd\x95\xff",
                                 "plain/\xc3\xa9t\xc3\xa9.rec"}) {
    EXPECT_EQ(lirrow_cli::Bytes(lirrow_cli::Wide(name)), name);
  }
  EXPECT_EQ(lirrow_cli::Wide("\xc3\xa9t\xc3\xa9"), L"\u00e9t\u00e9");  // UTF-8 stays text
}

// A copy that fails on the way (here the file size limit, as a full disk)
// keeps the old output, leaves no partial file and names the file.
TEST(LirrowCliPlatform, AFailedCopyKeepsTheOldOutput) {
  ScratchDir dir;
  cli_test::WriteFile(dir / "decoded.wav", std::string(200000, 'x'));
  cli_test::WriteFile(dir / "memo.wav", "the old output");
  std::FILE* err = std::tmpfile();
  lirrow_cli::CliStreams streams;
  streams.out = err;
  streams.err = err;
  lirrow_cli::PosixPipelinePlatform platform(dir.path(), dir.path() + "/", streams);

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 65536;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool copied = platform.CopyFileReplacing(lirrow_cli::Wide(dir / "decoded.wav"),
                                                 lirrow_cli::Wide(dir / "memo.wav"));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, SIG_DFL);

  EXPECT_FALSE(copied);
  EXPECT_EQ(cli_test::ReadFile(dir / "memo.wav"), "the old output");
  EXPECT_EQ(Leftovers(dir.path()), "");
  EXPECT_FALSE(platform.ReportSystemError());
  std::rewind(err);
  char text[512] = {};
  const std::size_t n = std::fread(text, 1, sizeof text - 1, err);
  std::fclose(err);
  EXPECT_TRUE(Contains(std::string(text, n), dir / "memo.wav: File too large")) << text;

  // And a copy that succeeds replaces the old file.
  EXPECT_TRUE(platform.CopyFileReplacing(lirrow_cli::Wide(dir / "decoded.wav"),
                                         lirrow_cli::Wide(dir / "memo.wav")));
  EXPECT_EQ(cli_test::FileSize(dir / "memo.wav"), 200000u);
}

TEST_F(LirrowCli, AnEncoderThatFailsOrIsKilledLeavesTheOldMp3AndFails) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 20));
  ASSERT_EQ(Convert(dir / "m.rec", true).exitCode, 0);
  const std::string good = cli_test::ReadFile(dir / "m.mp3");
  ASSERT_FALSE(good.empty());

  struct Case {
    const char* control;
    const char* said;
  } cases[] = {
      {"fail 3", "sqenc.exe ended with exit code 3"},
      {"exit 4", "sqenc.exe ended with exit code 4"},  // an MP3 written, then a failure
      {"signal 9", "sqenc.exe was killed by signal SIGKILL"},
      {"signal 15 mp3-offset 1", "killed by signal SIGTERM"},
  };
  for (const Case& c : cases) {
    Control("sqenc", c.control);
    const RunResult r = Convert(dir / "m.rec", true);
    EXPECT_EQ(r.exitCode, 1) << c.control;
    EXPECT_TRUE(Contains(r.err, c.said)) << c.control << ": " << r.err;
    EXPECT_FALSE(Contains(r.out, dir / "m.mp3")) << "not reported as the result: " << r.out;
    EXPECT_EQ(cli_test::ReadFile(dir / "m.mp3"), good) << c.control;
    EXPECT_EQ(Leftovers(dir.path()), "") << c.control;
  }
  std::remove((dir / "tools/sqenc.ctl").c_str());

  // A read-only output is not replaced, and nothing is written.
  ASSERT_EQ(chmod((dir / "m.mp3").c_str(), 0444), 0);
  std::remove((dir / "m.wav").c_str());
  const RunResult r = Convert(dir / "m.rec", true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, dir / "m.mp3: it is read-only")) << r.err;
  EXPECT_FALSE(cli_test::Exists(dir / "m.wav"));
}

TEST_F(LirrowCli, ADecoderThatWritesNoWavFailsAndTheOldOutputsStay) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 10));
  ASSERT_EQ(Convert(dir / "m.rec", true).exitCode, 0);
  const std::string wav = cli_test::ReadFile(dir / "m.wav");
  const std::string mp3 = cli_test::ReadFile(dir / "m.mp3");
  // A decoder that ends well but writes five bytes of garbage.
  const std::string decoder = dir / "tools/QL8_Dec.exe";
  cli_test::WriteFile(decoder, "#!/bin/sh\nprintf 'junk\\n' > \"$2\"\n");
  ASSERT_EQ(chmod(decoder.c_str(), 0755), 0);
  const RunResult r = Convert(dir / "m.rec", true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "QL8_Dec.exe")) << r.err;
  EXPECT_TRUE(Contains(r.err, "not a RIFF WAVE file")) << r.err;
  EXPECT_FALSE(Contains(r.out, "Total time")) << r.out;
  EXPECT_EQ(cli_test::ReadFile(dir / "m.wav"), wav);
  EXPECT_EQ(cli_test::ReadFile(dir / "m.mp3"), mp3);
  EXPECT_EQ(Leftovers(dir.path()), "");
}

TEST_F(LirrowCli, NamesThatAreNotUtf8AndNamesWithQuotes) {
  // Latin-1 bytes in the names, as the player's FAT disk may hold them.
  const std::string latin = dir / "lat\xe9.rec";
  cli_test::WriteFile(latin, Framed(0x81, 2));
  RunResult r = Lirrow({"classify", latin});
  EXPECT_EQ(r.out.substr(0, 2), "4\t") << r.out << r.err;
  r = Convert(latin);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cli_test::FileSize(dir / "lat\xe9.wav"), 44u + 16 * 2 * 510);
  EXPECT_TRUE(Contains(r.out, dir / "lat\xe9.wav\t")) << r.out;
  r = Lirrow({"duration", dir / "lat\xe9.wav"});
  EXPECT_EQ(r.out, "1.023\t0:00:01\n");

  // Double quotes in the recording's folder, TMPDIR and the tools folder.
  const std::string quoted = dir / "say \"hi\"";
  ASSERT_EQ(std::system(("mkdir -p '" + quoted + "/t\"mp' && cp -r '" + (dir / "tools") + "' '" +
                         quoted + "/to\"ols'")
                            .c_str()),
            0);
  cli_test::WriteFile(quoted + "/memo.rec", Framed(0x41, 2));
  cli_test::WriteFile(quoted + "/v.ovk", std::string(1, '\x05') + std::string(100, 'a'));
  for (const char* name : {"memo.rec", "v.ovk"}) {
    r = RunProgram({kCli, "convert", quoted + "/" + name, "--mp3", "--tools", quoted + "/to\"ols"},
                   cli_test::WithEnvironment({"TMPDIR=" + quoted + "/t\"mp"}));
    ASSERT_EQ(r.exitCode, 0) << name << ": " << r.err;
  }
  EXPECT_EQ(cli_test::FileSize(quoted + "/memo.wav"), 44u + 16 * 2 * 506);
  EXPECT_TRUE(cli_test::Exists(quoted + "/memo.mp3"));
  const std::string log = cli_test::ReadFile(quoted + "/to\"ols/standins.log");
  EXPECT_TRUE(Contains(log, "Vrn_dec.exe|" + quoted + "/v.ovk|" + quoted + "/t\"mp/lirrow-cli."))
      << log;
}

TEST_F(LirrowCli, NamesThatCannotBePrintedAreQuotedAsTheShellWouldReadThem) {
  // A line break in a name would split the NAME<TAB>SECONDS line; an escape
  // sequence would reach the terminal.
  for (const std::string& name : {std::string("a\nb"), std::string("e\x1b[31m")}) {
    cli_test::WriteFile(dir / (name + ".rec"), Framed(0x81, 2));
    const RunResult r = Convert(dir / (name + ".rec"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;  // the WAV, the total
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    EXPECT_TRUE(cli_test::Exists(dir / (name + ".wav")));
  }
  const RunResult r = Convert(dir / "a\nb.rec");
  EXPECT_TRUE(Contains(r.out, "'" + (dir / "a") + "'$'\\n''b.wav'\t")) << r.out;
}

// Runs lirrow-cli from `folder` through the shell, with `environment`
// (NAME=VALUE words) set for it alone.
RunResult InFolder(const std::string& folder, const std::string& environment,
                   const std::string& arguments) {
  return RunProgram(
      {"/bin/sh", "-c",
       "cd '" + folder + "' && " + environment + " exec '" + kCli + "' " + arguments});
}

TEST_F(LirrowCli, DoubleDashEndsTheOptions) {
  cli_test::WriteFile(dir / "-m.rec", Framed(0x81, 2));
  RunResult r = InFolder(dir.path(), "TMPDIR='" + tmp + "'", "convert --tools tools -- -m.rec");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(cli_test::Exists(dir / "-m.wav"));
  r = InFolder(dir.path(), "", "classify -- -m.rec");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "4\t")) << r.out;
  r = InFolder(dir.path(), "", "duration -- -m.wav");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  r = InFolder(dir.path(), "", "extract -- -m.rec -m.sbs");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // Before the "--" an option is still one.
  r = InFolder(dir.path(), "", "classify -m.rec");
  EXPECT_EQ(r.exitCode, 2);
}

TEST_F(LirrowCli, LameIsNeverTakenFromAnEmptyOrRelativePathEntry) {
  std::remove((dir / "tools/sqenc.exe").c_str());
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 2));
  const std::string planted = "#!/bin/sh\ntouch '" + (dir / "planted-ran") + "'\n";
  ASSERT_EQ(std::system(("mkdir -p '" + (dir / "bin") + "'").c_str()), 0);
  for (const std::string& lame : {dir / "lame", dir / "bin/lame"}) {
    cli_test::WriteFile(lame, planted);
    ASSERT_EQ(chmod(lame.c_str(), 0755), 0);
  }
  for (const char* path : {"PATH=", "PATH=bin", "PATH=:bin:"}) {
    const RunResult r = InFolder(dir.path(), std::string(path) + " TMPDIR='" + tmp + "'",
                                 "convert m.rec --mp3 --encoder lame --tools tools");
    EXPECT_EQ(r.exitCode, 1) << path;
    EXPECT_TRUE(Contains(r.err, "lame is not installed")) << path << ": " << r.err;
    EXPECT_FALSE(cli_test::Exists(dir / "planted-ran")) << path;
  }
}

TEST_F(LirrowCli, ToolsThatOthersCanChangeAreNamedInAWarning) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 2));
  ASSERT_EQ(chmod((dir / "tools/QL8_Dec.exe").c_str(), 0777), 0);
  RunResult r = Convert(dir / "m.rec");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "warning: " + (dir / "tools/QL8_Dec.exe") + " is writable by others"))
      << r.err;
  EXPECT_FALSE(Contains(r.err, "warning: " + (dir / "tools") + " ")) << r.err;
  ASSERT_EQ(chmod((dir / "tools/QL8_Dec.exe").c_str(), 0755), 0);
  ASSERT_EQ(chmod((dir / "tools").c_str(), 0777), 0);
  r = Convert(dir / "m.rec");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "warning: " + (dir / "tools") + " is writable by others")) << r.err;
  ASSERT_EQ(chmod((dir / "tools").c_str(), 0755), 0);
  r = Convert(dir / "m.rec");
  EXPECT_FALSE(Contains(r.err, "warning")) << r.err;
}

TEST_F(LirrowCli, AnOutputThatCannotBeReplacedIsFoundBeforeDecoding) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 2));
  cli_test::WriteFile(dir / "m.wav", "old");
  if (std::system(("chattr +i '" + (dir / "m.wav") + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no immutable files on this file system";
  const RunResult r = Convert(dir / "m.rec");
  std::system(("chattr -i '" + (dir / "m.wav") + "'").c_str());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "will not write " + (dir / "m.wav") + ": it is immutable")) << r.err;
  EXPECT_FALSE(cli_test::Exists(dir / "tools/standins.log")) << "a decoder ran";
  EXPECT_EQ(cli_test::ReadFile(dir / "m.wav"), "old");
}

TEST_F(LirrowCli, DurationSaysWhenItCannotMeasure) {
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>(i * 7 % 251);
  cli_test::WriteFile(dir / "garbage.mp3", garbage);
  cli_test::WriteFile(dir / "garbage.wav", garbage);
  // A WAV file of 44,100 Hz 16-bit stereo: 176,400 bytes per second.
  const char header[] =
      "RIFF\x24\x10\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0data";
  std::string cd(header, sizeof header - 1);
  cd += std::string(4 + 4096, '\0');
  cli_test::WriteFile(dir / "cd.wav", cd);
  for (const char* name : {"garbage.mp3", "garbage.wav", "cd.wav"}) {
    const RunResult r = Lirrow({"duration", dir / name});
    EXPECT_EQ(r.exitCode, 1) << name;
    EXPECT_TRUE(Contains(r.err, "cannot measure")) << name << ": " << r.err;
    EXPECT_EQ(r.out, "") << name;
  }
  EXPECT_TRUE(Contains(Lirrow({"duration", dir / "cd.wav"}).err, "176400 bytes per second"));

  // The decoders' own WAV files are measured by the converter's rule.
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 20));
  ASSERT_EQ(Convert(dir / "m.rec", true).exitCode, 0);
  EXPECT_EQ(Lirrow({"duration", dir / "m.wav"}).out, "10.203\t0:00:10\n");
  const RunResult mp3 = Lirrow({"duration", dir / "m.mp3"});
  EXPECT_EQ(mp3.exitCode, 0);
  EXPECT_EQ(mp3.out.substr(0, 3), "10.");
}

TEST_F(LirrowCli, SpecialFilesAreRefusedWithoutWaiting) {
  for (const char* name : {"f.rec", "f.wav"}) ASSERT_EQ(mkfifo((dir / name).c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> cases = {
      {"classify", dir / "f.rec"},
      {"duration", dir / "f.wav"},
      {"extract", dir / "f.rec", dir / "x.sbs"},
      {"convert", dir / "f.rec", "--tools", dir / "tools"},
  };
  for (const auto& args : cases) {
    // A FIFO without a writer blocks an open for reading: guard the run.
    std::vector<std::string> guarded = {"timeout", "10", kCli};
    guarded.insert(guarded.end(), args.begin(), args.end());
    const RunResult r = RunProgram(guarded);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_TRUE(Contains(r.err, "not a regular file")) << args[0] << ": " << r.err;
  }
  // An output that is a FIFO or a folder is not replaced either.
  cli_test::WriteFile(dir / "g.rec", Framed(0x81, 2));
  ASSERT_EQ(mkfifo((dir / "g.wav").c_str(), 0600), 0);
  EXPECT_EQ(Convert(dir / "g.rec").exitCode, 1);
  EXPECT_EQ(Lirrow({"extract", dir / "g.rec", dir.path()}).exitCode, 1);
}

// SIGTERM or SIGINT while a decoder runs: the decoder goes, the temporary
// files go, and the program ends by the signal.
TEST_F(LirrowCli, SignalsEndTheToolAndRemoveTheTemporaryFiles) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 2));
  cli_test::WriteFile(dir / "m.wav", "old");
  for (const char* signal : {"TERM", "INT", "HUP"}) {
    const RunResult r = SignalWhileDecoding(signal);
    const int number = std::string(signal) == "TERM" ? 15 : std::string(signal) == "INT" ? 2 : 1;
    EXPECT_TRUE(Contains(r.out, "status=" + std::to_string(128 + number))) << signal << r.out;
    EXPECT_TRUE(TempIsEmpty()) << signal;
    EXPECT_EQ(cli_test::ReadFile(dir / "m.wav"), "old");
    // No decoder of this test is left running.
    EXPECT_EQ(ProcessesRunning(dir / "tools/QL8_Dec.exe"), 0) << signal;
  }
}

TEST_F(LirrowCli, AKilledRunTakesItsToolAlongAndTheNextRunRemovesItsFolder) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 2));
  const RunResult r = SignalWhileDecoding("KILL");
  EXPECT_TRUE(Contains(r.out, "status=137")) << r.out;
  // The decoder goes with the program that started it.
  int running = 1;
  for (int i = 0; i < 100 && running != 0; ++i) {
    running = ProcessesRunning(dir / "tools/QL8_Dec.exe");
    if (running != 0) usleep(20000);
  }
  EXPECT_EQ(running, 0);
  EXPECT_FALSE(TempIsEmpty()) << "a killed run cannot clean up";

  // Folders of runs still going (this test's own process stands for one)
  // stay; the dead run's goes with the next conversion.
  const std::string alive = tmp + "/lirrow-cli.alive1";
  ASSERT_EQ(std::system(("mkdir '" + alive + "'").c_str()), 0);
  cli_test::WriteFile(alive + "/owner", std::to_string(getpid()) + "\n");
  std::remove((dir / "tools/QL8_Dec.ctl").c_str());
  ASSERT_EQ(Convert(dir / "m.rec").exitCode, 0);
  EXPECT_EQ(RunProgram({"find", tmp, "-mindepth", "1", "-maxdepth", "1"}).out, alive + "\n");
}

TEST_F(LirrowCli, ToolsComeFromTheOptionTheEnvironmentOrBesideTheProgram) {
  // A "decoder" planted beside the recording must never run by default.
  const std::string disk = dir / "disk";
  ASSERT_EQ(std::system(("mkdir -p '" + disk + "'").c_str()), 0);
  cli_test::WriteFile(disk + "/m.rec", Framed(0x81, 2));
  for (const char* name : {"QL8_Dec.exe", "QL4_Dec.exe", "Vrn_dec.exe", "sqenc.exe"}) {
    cli_test::WriteFile(disk + "/" + name, "#!/bin/sh\ntouch '" + (dir / "planted-ran") + "'\n");
    chmod((disk + "/" + name).c_str(), 0755);
  }
  RunResult r = Lirrow({"convert", disk + "/m.rec"});
  EXPECT_EQ(r.exitCode, 1);
  const std::string beside = kCli.substr(0, kCli.rfind('/'));
  EXPECT_TRUE(Contains(r.err, "QL8_DEC.exe\nCan't find above file,Please copy it to '" + beside))
      << r.err;
  EXPECT_FALSE(cli_test::Exists(dir / "planted-ran"));

  r = RunProgram({kCli, "convert", disk + "/m.rec"},
                 cli_test::WithEnvironment({"TMPDIR=" + tmp, "LIRROW_TOOLS=" + (dir / "tools")}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(cli_test::Exists(dir / "planted-ran"));
  // Named, the recording's folder is used.
  r = Lirrow({"convert", disk + "/m.rec", "--tools", disk});
  EXPECT_TRUE(cli_test::Exists(dir / "planted-ran"));
}

TEST_F(LirrowCli, LameEncodesWhenThereIsNoSqenc) {
  if (!cli_test::HaveProgram("lame")) GTEST_SKIP() << "lame is not installed";
  std::remove((dir / "tools/sqenc.exe").c_str());
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 20));
  RunResult r = Convert(dir / "m.rec", true);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "--encoder lame")) << r.err;
  EXPECT_FALSE(cli_test::Exists(dir / "m.wav")) << "refused before the conversion";

  r = Lirrow({"convert", dir / "m.rec", "--mp3", "--encoder", "lame", "--tools", dir / "tools"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(cli_test::Exists(dir / "m.mp3"));
  // 8 kHz mono at 32 kbit/s: MPEG-2.5 Layer III frames of 288 bytes.
  const std::string mp3 = cli_test::ReadFile(dir / "m.mp3");
  const std::size_t sync = mp3.find("\xff\xe3");
  ASSERT_NE(sync, std::string::npos);
  EXPECT_EQ(static_cast<unsigned char>(mp3[sync + 2]) >> 4, 4) << "bitrate index of 32 kbit/s";
  if (cli_test::HaveProgram("mpg123")) {
    const RunResult decoded = RunProgram({"mpg123", "-t", dir / "m.mp3"});
    EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
  }
  const RunResult length = Lirrow({"duration", dir / "m.mp3"});
  EXPECT_EQ(length.out.substr(0, 3), "10.") << length.out;
}

// The Windows stand-ins (mingw build) in the tools folder run through Wine,
// with the same command lines and the whole exit code.
TEST_F(LirrowCli, WindowsToolsRunThroughWine) {
  const std::string windowsTools = WINDOWS_STANDINS_DIR;
  if (!cli_test::Exists(windowsTools + "/QL8_Dec.exe"))
    GTEST_SKIP() << "no Windows stand-ins in " << windowsTools << " (scripts/build.sh windows)";
  if (lirrow_cli::FindWine().program.empty()) GTEST_SKIP() << "Wine is not installed";
  const char* named = std::getenv("WINEPREFIX");
  const std::string prefix =
      named && *named ? named : std::string(SOURCE_DIR) + "/build/windows/wine/prefix";
  if (!cli_test::Exists(prefix + "/system.reg"))
    GTEST_SKIP() << "no Wine prefix at " << prefix
                 << " (start a session: scripts/wine-session.sh, wine_session_start)";

  const std::string tools = dir / "wtools";
  ASSERT_EQ(
      std::system(
          ("mkdir -p '" + tools + "' && cp '" + windowsTools + "'/*.exe '" + tools + "'").c_str()),
      0);
  const std::vector<std::string> env = {"TMPDIR=" + tmp, "WINEPREFIX=" + prefix, "WINEDEBUG=-all"};
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 20));
  RunResult r = RunProgram({kCli, "convert", dir / "m.rec", "--mp3", "--tools", tools},
                           cli_test::WithEnvironment(env));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cli_test::FileSize(dir / "m.wav"), 44u + 16 * 20 * 510);
  EXPECT_TRUE(Contains(r.out, dir / "m.mp3\t10.")) << r.out;
  const std::string log = cli_test::ReadFile(tools + "/standins.log");
  EXPECT_TRUE(Contains(log, "QL8_Dec.exe|temp.sbs|temp.wav\n")) << log;
  EXPECT_TRUE(Contains(log, "sqenc.exe|-b|32|temp.wav|out\\.lirrow-cli-")) << log;
  EXPECT_EQ(Leftovers(dir.path()), "");
  // (Wine keeps its server's socket under TMPDIR.)
  EXPECT_EQ(RunProgram({"find", tmp, "-maxdepth", "1", "-name", "lirrow-cli.*"}).out, "");

  // 262 survives: the loader's own exit status would carry only 6.
  cli_test::WriteFile(tools + "/Vrn_dec.ctl", "exit 262");
  cli_test::WriteFile(dir / "v.ovk", std::string(1, '\x05') + std::string(999, '\0'));
  r = RunProgram({kCli, "convert", dir / "v.ovk", "--tools", tools},
                 cli_test::WithEnvironment(env));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "abandoned the conversion (exit code 262)")) << r.err;

  // Without Wine the run is refused with the reason.
  r = RunProgram({kCli, "convert", dir / "v.ovk", "--tools", tools},
                 cli_test::WithEnvironment({"TMPDIR=" + tmp, "WINE=/nonexistent/wine"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "is a Windows program and Wine is not installed")) << r.err;
}

TEST_F(LirrowCli, ABatchConvertsEveryRecordingOfAFolderAndGoesOnPastAFailure) {
  MemoFolder();
  RunResult r =
      Lirrow({"convert", dir / "memos", "--tools", dir / "tools", "-o", dir / "out", "-j", "2"});
  EXPECT_EQ(r.exitCode, 1) << r.err;  // b.REC failed
  EXPECT_TRUE(Contains(r.out, dir / "memos/b.REC\t-\tfailed: Unsupport Format\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, dir / "memos/notes.txt\t-\tskipped: not a recording\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, dir / "memos/a.rec\t1.533\tconverted\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "3 converted, 1 skipped, 1 failed\n")) << r.out;
  for (const char* name : {"a.wav", "c.wav", "d.wav"})
    EXPECT_TRUE(cli_test::Exists(dir / ("out/" + std::string(name)))) << name;
  EXPECT_FALSE(cli_test::Exists(dir / "out/b.wav"));
  EXPECT_FALSE(cli_test::Exists(dir / "out/sub"));  // without -r
  EXPECT_EQ(cli_test::ReadFile(dir / "memos/notes.txt"), "not a memo");
  EXPECT_EQ(RunProgram({"ls", dir / "memos"}).out, "a.rec\nb.REC\nc.Rcd\nd.ovk\nnotes.txt\nsub\n");

  // -r mirrors the subfolder; without -o the outputs go beside the recordings.
  r = Lirrow({"convert", "-r", dir / "memos", "--tools", dir / "tools", "-o", dir / "out"});
  EXPECT_TRUE(cli_test::Exists(dir / "out/sub/e.wav")) << r.out << r.err;
  r = Lirrow({"convert", dir / "memos/a.rec", dir / "memos/sub", "--tools", dir / "tools"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(cli_test::Exists(dir / "memos/a.wav"));
  EXPECT_TRUE(cli_test::Exists(dir / "memos/sub/e.wav"));

  // A recording named beside its folder is converted once; a second
  // recording with the same base name would take the first one's outputs.
  cli_test::WriteFile(dir / "memos/a.ovk", Framed(0x81, 1));
  r = Lirrow({"convert", "--force", dir / "memos", dir / "memos/a.rec", "--tools", dir / "tools"});
  EXPECT_TRUE(Contains(r.out, "memos/a.rec\t-\tfailed: its outputs are those of another")) << r.out;
  EXPECT_TRUE(Contains(r.out, "memos/a.rec\t-\tskipped: named before\n")) << r.out;
  // a.ovk comes first by name, and a.wav is its output.
  const std::string ovkLine = dir / "memos/a.ovk\t";
  ASSERT_TRUE(Contains(r.out, ovkLine)) << r.out;
  const std::string seconds = r.out.substr(r.out.find(ovkLine) + ovkLine.size(), 5);
  EXPECT_NE(seconds, "1.533");
  EXPECT_EQ(Lirrow({"duration", dir / "memos/a.wav"}).out.substr(0, 5), seconds);
  EXPECT_EQ(LeftoversAnywhere(), "");
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(LirrowCli, OnATerminalABatchShowsItsProgress) {
  if (!cli_test::HaveProgram("script")) GTEST_SKIP() << "script is not installed";
  cli_test::WriteFile(dir / "a.rec", Framed(0x80, 1));
  cli_test::WriteFile(dir / "b.rec", Framed(0x50, 1));
  const std::string command = "'" + kCli + "' convert '" + (dir / "a.rec") + "' '" +
                              (dir / "b.rec") + "' -j 1 --tools '" + (dir / "tools") + "'";
  const RunResult r = RunProgram({"script", "-qec", command, "/dev/null"},
                                 cli_test::WithEnvironment({"TMPDIR=" + tmp}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.out, "\r0/2 done, 0 failed, elapsed 0:00, left 0:00\x1b[K")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\r1/2 done, 0 failed, elapsed 0:00")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\r2/2 done, 1 failed, elapsed 0:00")) << r.out;
  // Each status line starts on a cleared line.
  EXPECT_TRUE(Contains(r.out, "\r\x1b[K" + dir / "b.rec\t-\tfailed: Unsupport Format")) << r.out;
}

TEST_F(LirrowCli, ABatchLeavesUpToDateOutputsAloneAndDatesItsOutputs) {
  MemoFolder();
  std::remove((dir / "memos/b.REC").c_str());
  ASSERT_EQ(
      std::system(("touch -d '2021-06-07 08:09:10.5' '" + (dir / "memos/a.rec") + "'").c_str()), 0);
  const std::vector<std::string> batch = {"convert", "-r",          dir / "memos", "--mp3",
                                          "--tools", dir / "tools", "--json"};
  RunResult r = Lirrow(batch);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const char* out : {"a.wav", "a.mp3"})
    EXPECT_EQ(cli_test::MtimeNs(dir / ("memos/" + std::string(out))),
              cli_test::MtimeNs(dir / "memos/a.rec"))
        << out;
  EXPECT_TRUE(
      Contains(r.out, "{\"path\":\"" + dir / "memos/a.rec" + "\",\"kind\":3,\"outputs\":[\"" +
                          dir / "memos/a.wav\",\"" + dir / "memos/a.mp3" +
                          "\"],\"seconds\":1.533,\"status\":\"converted\",\"reason\":null}\n"))
      << r.out;

  // The re-run starts no tool.
  std::remove((dir / "tools/standins.log").c_str());
  r = Lirrow(batch);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(cli_test::Exists(dir / "tools/standins.log"));
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5) << r.out;
  EXPECT_TRUE(Contains(r.err, "0 converted, 5 skipped, 0 failed\n")) << r.err;

  // A recording newer than its outputs, an incomplete WAV and an MP3 that
  // does not agree with its WAV are converted again; --force converts all.
  ASSERT_EQ(std::system(("touch '" + (dir / "memos/a.rec") + "'").c_str()), 0);
  cli_test::WriteFile(dir / "memos/c.wav", cli_test::ReadFile(dir / "memos/c.wav").substr(0, 30));
  cli_test::WriteFile(dir / "memos/d.mp3", cli_test::ReadFile(dir / "memos/d.mp3").substr(0, 300));
  r = Lirrow(batch);
  EXPECT_TRUE(Contains(r.err, "3 converted, 2 skipped, 0 failed")) << r.out << r.err;
  r = Lirrow({"convert", dir / "memos", "--tools", dir / "tools", "--force"});
  EXPECT_TRUE(Contains(r.out, "3 converted, 1 skipped, 0 failed")) << r.out;  // notes.txt
  // --skip-existing leaves even a broken output alone.
  cli_test::WriteFile(dir / "memos/c.wav", "broken");
  r = Lirrow({"convert", dir / "memos/c.Rcd", "--tools", dir / "tools", "--skip-existing"});
  EXPECT_TRUE(Contains(r.out, "c.Rcd\t-\tskipped: an output exists\n")) << r.out;
  EXPECT_EQ(cli_test::ReadFile(dir / "memos/c.wav"), "broken");
}

TEST_F(LirrowCli, BatchJsonEscapesNamesAndReportsMissingPaths) {
  const std::string odd = dir / "say \"hi\"\\\tnow\n.rec";
  cli_test::WriteFile(odd, Framed(0x81, 1));
  const RunResult r =
      Lirrow({"convert", "--json", odd, dir / "gone.rec", "--tools", dir / "tools"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(
      Contains(r.out, "{\"path\":\"" + dir / "gone.rec" +
                          "\",\"kind\":null,\"outputs\":[],\"seconds\":null,"
                          "\"status\":\"failed\",\"reason\":\"No such file or directory\"}\n"))
      << r.out;
  EXPECT_TRUE(Contains(
      r.out, "{\"path\":\"" + dir / "say \\\"hi\\\"\\\\\\u0009now\\u000a.rec\",\"kind\":4,"))
      << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;  // one object a line
  EXPECT_TRUE(cli_test::Exists(dir / "say \"hi\"\\\tnow\n.wav"));
  EXPECT_TRUE(Contains(r.err, "1 converted, 0 skipped, 1 failed\n")) << r.err;
}

TEST_F(LirrowCli, TwoBatchesOverOneFolderAtOnceBothSucceed) {
  MemoFolder();
  std::remove((dir / "memos/b.REC").c_str());
  Control("QL8_Dec", "sleep 0.3");
  const std::string command = "'" + kCli + "' convert --force -r '" + (dir / "memos") +
                              "' --mp3 --tools '" + (dir / "tools") + "'";
  const RunResult r =
      RunProgram({"bash", "-c",
                  command + " >/dev/null & " + command + " >/dev/null; a=$?; wait $!; echo $a $?"},
                 cli_test::WithEnvironment({"TMPDIR=" + tmp}));
  EXPECT_EQ(r.out, "0 0\n") << r.err;
  for (const char* name : {"a", "c", "d", "sub/e"}) {
    const RunResult d = Lirrow({"duration", dir / ("memos/" + std::string(name) + ".mp3")});
    EXPECT_EQ(d.exitCode, 0) << name << d.err;
  }
  EXPECT_EQ(LeftoversAnywhere(), "");
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(LirrowCli, AnInterruptedBatchKeepsWhatFinishedAndRemovesTheRest) {
  cli_test::WriteFile(dir / "a.rcd", Framed(0x41, 2));  // QL4_Dec: done at once
  cli_test::WriteFile(dir / "b.rec", Framed(0x80, 2));  // QL8_Dec: 30 s
  cli_test::WriteFile(dir / "c.rcd", Framed(0x41, 2));
  const long start = lirrow_cli::NowMs();
  const RunResult r = SignalWhileDecoding(
      "INT", "-j 1 '" + (dir / "a.rcd") + "' '" + (dir / "b.rec") + "' '" + (dir / "c.rcd") + "'");
  EXPECT_LT(lirrow_cli::NowMs() - start, 10000);  // QL8_Dec did not run out its time
  EXPECT_TRUE(Contains(r.out, "status=130")) << r.out;
  EXPECT_TRUE(cli_test::Exists(dir / "a.wav"));
  EXPECT_FALSE(cli_test::Exists(dir / "b.wav"));
  EXPECT_FALSE(cli_test::Exists(dir / "c.wav"));
  EXPECT_EQ(LeftoversAnywhere(), "");
  EXPECT_TRUE(TempIsEmpty());

  // What a killed batch left (its pid is no process) goes with the next
  // batch over that folder; another live program's staging folder stays.
  const std::string stale = dir / ".lirrow-cli-2147483647-AbCdEf";
  const std::string live = dir / (".lirrow-cli-" + std::to_string(getpid()) + "-AbCdEf");
  ASSERT_EQ(std::system(("mkdir '" + stale + "' '" + live + "' && ln -s /nowhere '" + stale +
                         "/a.rec' && touch '" + stale + "/a.wav'")
                            .c_str()),
            0);
  EXPECT_EQ(
      Lirrow({"convert", "-j", "1", dir / "a.rcd", "--force", "--tools", dir / "tools"}).exitCode,
      0);
  EXPECT_FALSE(cli_test::Exists(stale));
  EXPECT_TRUE(cli_test::Exists(live));

  // A batch killed outright takes its conversions along: they end their
  // tools and remove their private folders; the next batch clears the rest.
  const RunResult killed = SignalWhileDecoding("KILL", "-j 1 '" + (dir / "b.rec") + "'");
  EXPECT_TRUE(Contains(killed.out, "status=137")) << killed.out;
  for (int i = 0; i < 100 && !TempIsEmpty(); ++i) usleep(50000);
  EXPECT_TRUE(TempIsEmpty());
  const auto stages = [&] {
    return RunProgram({"find", dir.path(), "-maxdepth", "1", "-name", ".lirrow-cli-*"}).out;
  };
  const std::string left = stages();
  EXPECT_EQ(std::count(left.begin(), left.end(), '\n'), 2) << left;  // the live one, the killed one
  Control("QL8_Dec", "");
  EXPECT_EQ(Lirrow({"convert", "-j", "1", dir / "b.rec", "--tools", dir / "tools"}).exitCode, 0);
  EXPECT_EQ(stages(), live + "\n");
}

TEST_F(LirrowCli, TheTagCarriesTheRecordingsDateAndName) {
  if (!cli_test::HaveProgram("id3v2")) GTEST_SKIP() << "id3v2 is not installed";
  cli_test::WriteFile(dir / "Réunion 1.rec", Framed(0x80, 2));
  ASSERT_EQ(
      std::system(
          ("TZ=UTC touch -d '2022-11-03 14:25:00' '" + (dir / "Réunion 1.rec") + "'").c_str()),
      0);
  RunResult r = RunProgram({kCli, "convert", dir / "Réunion 1.rec", "-o", dir / "out", "--mp3",
                            "--tag", "--tools", dir / "tools"},
                           cli_test::WithEnvironment({"TMPDIR=" + tmp, "TZ=UTC"}));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  r = RunProgram({"id3v2", "-l", dir / "out/Réunion 1.mp3"});
  EXPECT_TRUE(Contains(r.out, "TYER (Year): 2022\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "TDAT (Date): 0311\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "TIME (Time): 1425\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "): Réunion 1\n")) << r.out;
  // Nothing in the tag is taken for an MPEG frame: the length stays.
  ASSERT_EQ(Lirrow({"convert", dir / "Réunion 1.rec", "--mp3", "--tools", dir / "tools"}).exitCode,
            0);
  EXPECT_EQ(Lirrow({"duration", dir / "out/Réunion 1.mp3"}).out,
            Lirrow({"duration", dir / "Réunion 1.mp3"}).out);
}

}  // namespace

// Under the MP3 check's 2-second tolerance an encoder that writes nothing
// passes the length check; its failure alone must fail the run.
TEST_F(LirrowCli, AnEncoderThatFailsOnAShortRecordingFailsTheRun) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 2));
  Control("sqenc", "fail 3");
  const RunResult r = Convert(dir / "m.rec", true);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "sqenc.exe ended with exit code 3")) << r.err;
  EXPECT_FALSE(Contains(r.out, "playing")) << r.out;
  EXPECT_FALSE(cli_test::Exists(dir / "m.mp3"));
  EXPECT_TRUE(cli_test::Exists(dir / "m.wav")) << "the WAV itself was made";
}

// Outputs get the modes of any new file (0666 less the umask), not the
// private mode of the temporary file they were written under.
TEST_F(LirrowCli, OutputsTakeTheUmaskLikeAnyNewFile) {
  cli_test::WriteFile(dir / "m.rec", Framed(0x81, 2));
  for (const char* mask : {"022", "027"}) {
    const mode_t expected = 0666 & ~static_cast<mode_t>(std::stoi(mask, nullptr, 8));
    for (const char* name : {"m.wav", "m.mp3", "m.sbs"}) std::remove((dir / name).c_str());
    const std::string tools = dir / "tools";
    const std::string script = std::string("umask ") + mask + "; '" + kCli + "' convert '" +
                               (dir / "m.rec") + "' --mp3 --tools '" + tools + "' && '" + kCli +
                               "' extract '" + (dir / "m.rec") + "' '" + (dir / "m.sbs") + "'";
    const RunResult r =
        RunProgram({"bash", "-c", script}, cli_test::WithEnvironment({"TMPDIR=" + tmp}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"m.wav", "m.mp3", "m.sbs"}) {
      struct stat st {};
      ASSERT_EQ(stat((dir / name).c_str(), &st), 0) << name;
      EXPECT_EQ(st.st_mode & 07777, expected) << name << " with umask " << mask;
    }
  }
}

// Ctrl-C while a long extraction runs: the extraction may finish, but its
// output must not then replace the old file.
TEST_F(LirrowCli, AnInterruptedExtractKeepsTheOldOutput) {
  // A large sparse recording: a header block, then 256 MiB of empty blocks.
  cli_test::WriteFile(dir / "big.rec", Framed(0x81, 1));
  ASSERT_EQ(truncate((dir / "big.rec").c_str(), 512 + (256 << 20)), 0);
  cli_test::WriteFile(dir / "out.sbs", "old");
  const std::string script = "'" + kCli + "' extract '" + (dir / "big.rec") + "' '" +
                             (dir / "out.sbs") +
                             "' & pid=$!\n"
                             "for i in $(seq 2000); do ls -A '" +
                             dir.path() +
                             "' | grep -q '^.lirrow-cli-' && break; sleep 0.005; done\n"
                             "kill -INT $pid; wait $pid; echo status=$?\n";
  const RunResult r = RunProgram({"bash", "-c", script});
  EXPECT_TRUE(Contains(r.out, "status=130")) << r.out << r.err;
  // Not compared with EXPECT_EQ: a new output is 256 MiB to print.
  const std::string after = cli_test::ReadFile(dir / "out.sbs");
  EXPECT_TRUE(after == "old") << "out.sbs was replaced: " << after.size() << " bytes";
  EXPECT_EQ(Leftovers(dir.path()), "");
}
