// The conversion steps against a scripted platform and a recording host,
// with the converter library working on real files in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "pipeline_fakes.h"

namespace lirrow::test {
namespace {

constexpr wchar_t kStart[] = L"C:\\Tools";

// A recording whose first byte is `kind` followed by `blocks` data blocks;
// data block bytes count up from 0 so frames are recognisable.
std::vector<unsigned char> Recording(unsigned char firstByte, int blocks, int extra = 0) {
  std::vector<unsigned char> bytes(512 + 512 * blocks + extra, 0);
  bytes[0] = firstByte;
  for (std::size_t i = 512; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>((i - 512) % 251);
  return bytes;
}

// `frames` silent MPEG-1 Layer III frames, 32 kbit/s, 32 kHz: 36 ms each.
std::vector<unsigned char> Mp3Frames(int frames) {
  std::vector<unsigned char> bytes;
  for (int i = 0; i < frames; ++i) {
    const unsigned char header[4] = {0xFF, 0xFB, 0x18, 0xC0};
    bytes.insert(bytes.end(), header, header + 4);
    bytes.insert(bytes.end(), 140, 0);
  }
  return bytes;
}

// The converter library, except that an extraction can be made to fail
// with a given result, leaving a given last error as the failing system
// call would (0: the failure involved no system call).
struct ScriptedFiles final : RecordingFiles {
  ScriptedPlatform& platform;
  RecordingFiles& library = LibraryRecordingFiles();
  bool failExtraction = false;
  int extractResult = 0;
  std::uint32_t extractError = 0;
  // Left by a successful extraction (creating temp.sbs over an earlier one
  // sets ERROR_ALREADY_EXISTS).
  std::uint32_t successError = 0;

  explicit ScriptedFiles(ScriptedPlatform& p) : platform(p) {}
  RecordingKind ClassifyRecording(const std::wstring& path) override {
    return library.ClassifyRecording(path);
  }
  int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                       ExtractionHooks& hooks) override {
    if (!failExtraction) {
      const int result = library.ExtractBitstream(source, target, hooks);
      if (result == 0 && successError != 0) platform.lastError = successError;
      return result;
    }
    if (extractError != 0) platform.lastError = extractError;
    return extractResult;
  }
  double MeasureDuration(const std::wstring& path) override {
    return library.MeasureDuration(path);
  }
};

class PipelineTest : public ::testing::Test {
 protected:
  PipelineTest()
      : host(log, kStart), platform(log), files(platform), pipeline(host, platform, files) {
    fs::create_directories(TempFolder());
    fs::create_directories(VoiceFolder());
    platform.programDirectory = L"C:\\Program";
    platform.tempDirectory = Wide((TempFolder() / "").string());
  }

  fs::path TempFolder() const { return dir.Path() / "temp"; }
  fs::path VoiceFolder() const { return dir.Path() / "voice"; }
  std::wstring Temp(const char* name) const { return Wide((TempFolder() / name).string()); }
  std::wstring Voice(const char* name) const { return Wide((VoiceFolder() / name).string()); }
  std::wstring Source(const char* name, const std::vector<unsigned char>& bytes) {
    WriteBytes(VoiceFolder() / name, bytes);
    return Voice(name);
  }
  bool Logged(const std::wstring& event) const {
    return std::find(log.begin(), log.end(), event) != log.end();
  }
  std::size_t Position(const std::wstring& event) const {
    return static_cast<std::size_t>(std::find(log.begin(), log.end(), event) - log.begin());
  }

  TempDir dir;
  std::vector<std::wstring> log;
  FakeHost host;
  ScriptedPlatform platform;
  ScriptedFiles files;
  ConversionPipeline pipeline;
};

// ---- decoder presence ------------------------------------------------------

TEST_F(PipelineTest, CheckDecodersLooksInTheProgramFolderInOrderAndStopsAtTheFirstMissing) {
  platform.present = {L"C:\\Program\\QL8_DEC.exe", L"C:\\Program\\VRN_DEC.exe"};
  EXPECT_FALSE(pipeline.CheckDecoders());
  EXPECT_EQ(platform.existsQueries,
            (std::vector<std::wstring>{L"C:\\Program\\QL8_DEC.exe", L"C:\\Program\\QL4_DEC.exe"}));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text,
            L"QL4_DEC.exe\nCan't find above file,Please copy it to C:\\Program.");
  EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);

  platform.present.insert(L"C:\\Program\\QL4_DEC.exe");
  host.messages.clear();
  EXPECT_TRUE(pipeline.CheckDecoders());
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(platform.existsQueries.back(), L"C:\\Program\\VRN_DEC.exe");
}

TEST(MissingDecoderMessage, TheFolderStandsWhereEachLanguagesTextWantsIt) {
  const std::wstring& english = EnglishTexts()[TextKey::NotFindExeFile];
  const std::wstring& simplified = SimplifiedChineseTexts()[TextKey::NotFindExeFile];
  const std::wstring& traditional = TraditionalChineseTexts()[TextKey::NotFindExeFile];
  // English: the folder in the text's placeholder.
  EXPECT_EQ(MissingDecoderMessage(L"QL4_DEC.exe", L"D:\\lirrow", english, 0x0409),
            L"QL4_DEC.exe\nCan't find above file,Please copy it to D:\\lirrow.");
  // Simplified Chinese: "the file above was not found in the directory",
  // the directory in front.
  EXPECT_EQ(MissingDecoderMessage(L"QL8_DEC.exe", L"D:\\lirrow", simplified, 0x0804),
            L"QL8_DEC.exe\nD:\\lirrow" + simplified);
  // Traditional Chinese: "please copy it to the folder below".
  EXPECT_EQ(MissingDecoderMessage(L"QL8_DEC.exe", L"D:\\lirrow", traditional, 0x0404),
            L"QL8_DEC.exe\n" + traditional + L"\nD:\\lirrow");
  // Another language with its own INI text: in front, as the program always did.
  EXPECT_EQ(MissingDecoderMessage(L"VRN_DEC.exe", L"D:\\x", L" fehlt", 0x0407),
            L"VRN_DEC.exe\nD:\\x fehlt");
  // A text with a stray percent sign is not treated as a format.
  EXPECT_EQ(MissingDecoderMessage(L"VRN_DEC.exe", L"D:\\x", L"100% gone: %s", 0x0409),
            L"VRN_DEC.exe\nD:\\x100% gone: %s");
  EXPECT_EQ(MissingDecoderMessage(L"VRN_DEC.exe", L"D:\\x", L"%s and %s", 0x0409),
            L"VRN_DEC.exe\nD:\\x%s and %s");
}

TEST_F(PipelineTest, CheckDecodersTellsTheLanguageOfTheTextsToTheMessage) {
  host.texts = TraditionalChineseTexts();
  host.language = 0x0404;
  EXPECT_FALSE(pipeline.CheckDecoders());
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(
      host.messages[0].text,
      L"QL8_DEC.exe\n" + TraditionalChineseTexts()[TextKey::NotFindExeFile] + L"\nC:\\Program");
}

// ---- command lines and names ----------------------------------------------

TEST(PipelineNames, CommandLinesAndBasePath) {
  EXPECT_EQ(CommandLineOf({L"C:\\T", L"Vrn_dec.exe", {}, L"D:\\a b\\m.rec", L"C:\\Temp\\tmp.wav"}),
            L"\"C:\\T\\Vrn_dec.exe\" \"D:\\a b\\m.rec\" \"C:\\Temp\\tmp.wav\"");
  EXPECT_EQ(
      CommandLineOf({L"C:\\T", L"sqenc.exe", {L"-b", L"32"}, L"C:\\Temp\\tmp.wav", L"D:\\m.mp3"}),
      L"\"C:\\T\\sqenc.exe\" -b 32 \"C:\\Temp\\tmp.wav\" \"D:\\m.mp3\"");
  EXPECT_EQ(BasePathOf(L"D:\\voice\\memo.part.ovk"), L"D:\\voice\\memo.part");
  EXPECT_EQ(BasePathOf(L"D:\\voice\\memo"), L"D:\\voice\\memo");
}

// ---- unsupported recordings -----------------------------------------------

TEST_F(PipelineTest, UnsupportedFirstByteIsRefusedWithTheStopIcon) {
  for (unsigned char first : {0x00, 0x50, 0x06, 0xFF}) {
    host.messages.clear();
    const std::wstring source = Source("x.rec", Recording(first, 2));
    EXPECT_FALSE(host.Convert(pipeline, source));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, L"Unsupport Format");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Stop);
    EXPECT_EQ(host.result.status, ConversionStatus::kUnsupported);
  }
  EXPECT_TRUE(platform.calls.empty());
  EXPECT_EQ(host.playerFiles, std::vector<std::wstring>(4, L""));  // only unloaded
}

TEST_F(PipelineTest, EmptyOrVanishedSourceIsUnsupported) {
  EXPECT_FALSE(host.Convert(pipeline, Source("empty.rec", {})));
  EXPECT_FALSE(host.Convert(pipeline, Voice("gone.rec")));
  EXPECT_EQ(host.messages.size(), 2u);
  EXPECT_TRUE(platform.calls.empty());
}

// ---- the direct decoder ----------------------------------------------------

TEST_F(PipelineTest, DirectKindsAreDecodedByVrnDecAndCopiedNextToTheRecording) {
  for (unsigned char first : {0x05, 0x04, 0x03}) {
    log.clear();
    platform.calls.clear();
    // 480,044 bytes: 30.00275 s at 16,000 bytes per second.
    platform.runs.push_back({true, 0, 0, WritesOutput(480044)});
    const std::wstring source = Source("memo.rec", Recording(first, 3));
    ASSERT_TRUE(host.Convert(pipeline, source));

    ASSERT_EQ(platform.calls.size(), 1u);
    EXPECT_EQ(platform.calls[0].commandLine,
              L"\"C:\\Tools\\Vrn_dec.exe\" \"" + source + L"\" \"" + Temp("tmp.wav") + L"\"");
    EXPECT_EQ(platform.calls[0].baseText, L"Converting rcd/rec/ovk file to WAV ...");
    EXPECT_EQ(fs::file_size(VoiceFolder() / "memo.wav"), 480044u);
    EXPECT_FALSE(fs::exists(TempFolder() / "tmp.wav"));
    EXPECT_EQ(host.outputPath, Voice("memo.wav"));
    EXPECT_EQ(host.caption, Voice("memo.wav"));
    EXPECT_EQ(host.totalTime, L"0:00:30");
    EXPECT_EQ(host.playerFiles.back(), Voice("memo.wav"));
    EXPECT_TRUE(platform.openHandles.empty());
    EXPECT_EQ(platform.pumps, 0);
    // Unload first, load last.
    EXPECT_EQ(log.front(), L"player:");
    EXPECT_LT(Position(L"copy:" + Temp("tmp.wav") + L">" + Voice("memo.wav")),
              Position(L"player:" + Voice("memo.wav")));
    EXPECT_EQ(host.result.wavPath, Voice("memo.wav"));
    EXPECT_EQ(host.result.mp3Path, L"");
    EXPECT_TRUE(host.messages.empty());
  }
}

TEST_F(PipelineTest, AnExistingOutputIsReplacedAndInnerDotsStayInTheName) {
  WriteSized(VoiceFolder() / "memo.part.wav", 5);
  platform.runs.push_back({true, 0, 0, WritesOutput(16044)});
  ASSERT_TRUE(host.Convert(pipeline, Source("memo.part.ovk", Recording(0x05, 1))));
  EXPECT_EQ(fs::file_size(VoiceFolder() / "memo.part.wav"), 16044u);
  EXPECT_EQ(host.caption, Voice("memo.part.wav"));
}

TEST_F(PipelineTest, TotalTimeIsTruncatedToWholeSeconds) {
  platform.runs.push_back({true, 0, 0, WritesOutput(959840)});  // 59.99 s
  ASSERT_TRUE(host.Convert(pipeline, Source("a.rec", Recording(0x05, 1))));
  EXPECT_EQ(host.totalTime, L"0:00:59");
}

// ---- the framed decoders ---------------------------------------------------

TEST_F(PipelineTest, FramedKindsAreExtractedBehindTheWindowThenDecoded) {
  struct Case {
    unsigned char first;
    const wchar_t* decoder;
    std::size_t streamBytes;
    int pumps;
  };
  for (const Case c :
       {Case{0x80, L"QL8_Dec.exe", 2 * 510, 2 * 255}, Case{0x81, L"QL8_Dec.exe", 2 * 510, 2 * 255},
        Case{0x41, L"QL4_Dec.exe", 2 * 506, 0}, Case{0x40, L"QL4_Dec.exe", 2 * 506, 0}}) {
    log.clear();
    platform.calls.clear();
    platform.pumps = 0;
    std::vector<unsigned char> stream;
    platform.runs.push_back({true, 0, 0, [&](const std::vector<std::wstring>& items) {
                               EXPECT_FALSE(
                                   platform.extractionOpen);  // closed before the decoder runs
                               stream = ReadBytes(Narrow(items[1]));
                               WriteSized(Narrow(items[2]), 32044);
                             }});
    const std::wstring source = Source("memo.rcd", Recording(c.first, 2, 100));
    ASSERT_TRUE(host.Convert(pipeline, source));

    ASSERT_EQ(platform.calls.size(), 1u);
    EXPECT_EQ(platform.calls[0].commandLine, std::wstring(L"\"C:\\Tools\\") + c.decoder + L"\" \"" +
                                                 Temp("temp.sbs") + L"\" \"" + Temp("temp.wav") +
                                                 L"\"");
    EXPECT_EQ(platform.calls[0].baseText, L"Converting bistream to WAV ...");
    EXPECT_EQ(stream.size(), c.streamBytes);
    // The first frame's halves interleaved: bytes 0..n-1 and n..2n-1 of the block.
    const unsigned n = c.first >= 0x80 ? 5 : 11;
    ASSERT_GE(stream.size(), 4u);
    EXPECT_EQ((std::vector<unsigned char>(stream.begin(), stream.begin() + 4)),
              (std::vector<unsigned char>{0, static_cast<unsigned char>(n), 1,
                                          static_cast<unsigned char>(n + 1)}));
    EXPECT_EQ(platform.pumps, c.pumps);
    EXPECT_TRUE(Logged(L"extraction-open:Converting rcd/rec/ovk file to Bitstream ..."));
    EXPECT_LT(Position(L"extraction-close"), Position(L"run:Converting bistream to WAV ..."));
    EXPECT_FALSE(fs::exists(TempFolder() / "temp.sbs"));
    EXPECT_FALSE(fs::exists(TempFolder() / "temp.wav"));
    EXPECT_EQ(fs::file_size(VoiceFolder() / "memo.wav"), 32044u);
    EXPECT_EQ(host.totalTime, L"0:00:02");
    EXPECT_TRUE(platform.openHandles.empty());
  }
}

TEST_F(PipelineTest, ExtractionFailureIsReportedAndNoDecoderRuns) {
  files.failExtraction = true;
  files.extractResult = -2;  // temp.sbs cannot be created
  files.extractError = 3;    // ERROR_PATH_NOT_FOUND
  EXPECT_FALSE(host.Convert(pipeline, Source("m.rec", Recording(0x81, 1))));
  EXPECT_EQ(host.shownErrors, std::vector<std::uint32_t>{3});
  EXPECT_TRUE(platform.calls.empty());
  EXPECT_FALSE(platform.extractionOpen);
  EXPECT_FALSE(fs::exists(VoiceFolder() / "m.wav"));
  EXPECT_TRUE(host.messages.empty());  // the system's text was the message
}

TEST_F(PipelineTest, AnExtractionFailureIsJudgedByItsResultNotByAStaleLastError) {
  const std::wstring convertErr = L"Failed to convert file!Perhaps have no enough space for write!";
  struct Case {
    int result;
    std::uint32_t error;  // left by the failing call
    bool systemText;      // the system's text is the message
  };
  // Opening the source (-1), creating the target (-2) and writing it (-6)
  // fail in a system call; a block that reads short (-5) does not, and a
  // failed call may leave no error at all.
  for (const Case c :
       {Case{-1, 2, true}, Case{-2, 5, true}, Case{-6, 112, true}, Case{-5, 0, false},
        Case{-5, 38, false}, Case{-2, 0, false}, Case{-6, 0, false}}) {
    SCOPED_TRACE(c.result);
    host.messages.clear();
    host.shownErrors.clear();
    files.failExtraction = true;
    files.extractResult = c.result;
    files.extractError = c.error;
    // Creating temp.sbs over an earlier one succeeds with ERROR_ALREADY_EXISTS,
    // and dispatched messages leave other values behind.
    platform.lastError = 183;
    EXPECT_FALSE(host.Convert(pipeline, Source("m.rec", Recording(0x80, 1))));
    EXPECT_TRUE(platform.calls.empty());
    if (c.systemText) {
      EXPECT_EQ(host.shownErrors, std::vector<std::uint32_t>{c.error});
      EXPECT_TRUE(host.messages.empty());
    } else {
      EXPECT_TRUE(host.shownErrors.empty()) << host.shownErrors[0];
      ASSERT_EQ(host.messages.size(), 1u);
      EXPECT_EQ(host.messages[0].text, convertErr);
      EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
    }
  }
}

// ---- decoder results -------------------------------------------------------

TEST_F(PipelineTest, ExitCode262AbandonsSilentlyAndLeavesTheTemporaryFiles) {
  platform.runs.push_back({true, 262, 262, WritesOutput(16044)});
  EXPECT_FALSE(host.Convert(pipeline, Source("a.rec", Recording(0x81, 1))));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_TRUE(host.shownErrors.empty());
  EXPECT_EQ(host.result.status, ConversionStatus::kStopped);
  EXPECT_EQ(host.result.tool, L"QL8_Dec.exe");
  EXPECT_TRUE(platform.openHandles.empty());
  EXPECT_TRUE(fs::exists(TempFolder() / "temp.sbs"));
  EXPECT_TRUE(fs::exists(TempFolder() / "temp.wav"));
  EXPECT_FALSE(fs::exists(VoiceFolder() / "a.wav"));
  EXPECT_EQ(host.playerFiles, std::vector<std::wstring>{L""});
  EXPECT_EQ(host.caption, L"");
  EXPECT_EQ(host.totalTime, L"");
}

TEST_F(PipelineTest, FailingDecodersShowConvertErrAndFramedOnesTheSystemTextToo) {
  const std::wstring convertErr = L"Failed to convert file!Perhaps have no enough space for write!";
  platform.runs.push_back({true, 1, 1, WritesOutput(16044)});
  EXPECT_FALSE(host.Convert(pipeline, Source("a.rec", Recording(0x04, 1))));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, convertErr);
  EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
  EXPECT_EQ(host.result.status, ConversionStatus::kToolFailed);
  EXPECT_EQ(host.result.tool, L"Vrn_dec.exe");
  EXPECT_EQ(host.result.exitCode, 1u);
  EXPECT_TRUE(host.shownErrors.empty());
  EXPECT_TRUE(fs::exists(TempFolder() / "tmp.wav"));

  // A framed decoder's failure is followed by the system's word on it (a
  // handle the wait lost, here), if there is one.
  host.messages.clear();
  platform.runs.push_back({true, 7, 7, [&](const std::vector<std::wstring>& items) {
                             WriteSized(Narrow(items.back()), 16044);
                             platform.lastError = 6;  // ERROR_INVALID_HANDLE
                           }});
  EXPECT_FALSE(host.Convert(pipeline, Source("b.rec", Recording(0x40, 1))));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, convertErr);
  EXPECT_EQ(host.shownErrors, std::vector<std::uint32_t>{6});
  EXPECT_EQ(host.result.tool, L"QL4_Dec.exe");
  EXPECT_LT(Position(L"message:" + convertErr), Position(L"system-error"));
  EXPECT_TRUE(fs::exists(TempFolder() / "temp.sbs"));
  EXPECT_FALSE(fs::exists(VoiceFolder() / "b.wav"));
  EXPECT_TRUE(platform.openHandles.empty());
}

TEST_F(PipelineTest, AFailedFramedDecoderShowsNoErrorLeftBehindByTheExtraction) {
  // The decoder runs in its own process: the thread's error after it is
  // whatever the extraction left, and unrelated to the failure.
  files.successError = 183;  // ERROR_ALREADY_EXISTS
  platform.runs.push_back({true, 7, 7, WritesOutput(16044)});
  EXPECT_FALSE(host.Convert(pipeline, Source("b.rec", Recording(0x81, 1))));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text,
            L"Failed to convert file!Perhaps have no enough space for write!");
  EXPECT_TRUE(host.shownErrors.empty()) << host.shownErrors[0];
}

TEST_F(PipelineTest, TheProcessExitCodeDecidesSuccess) {
  // The window saw 0, but the process reports a failure when asked again.
  platform.runs.push_back({true, 0, 3, WritesOutput(16044)});
  EXPECT_FALSE(host.Convert(pipeline, Source("a.rec", Recording(0x05, 1))));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_FALSE(fs::exists(VoiceFolder() / "a.wav"));
}

TEST_F(PipelineTest, ADecoderThatCannotStartIsReported) {
  platform.runs.push_back({false, 0, 0, nullptr});
  EXPECT_FALSE(host.Convert(pipeline, Source("a.rec", Recording(0x05, 1))));
  EXPECT_EQ(host.shownErrors, std::vector<std::uint32_t>{2});  // ERROR_FILE_NOT_FOUND
  EXPECT_EQ(host.result.status, ConversionStatus::kDecoderMissing);
  EXPECT_EQ(host.result.tool, L"Vrn_dec.exe");
  EXPECT_TRUE(host.messages.empty());

  platform.runs.push_back({false, 0, 0, nullptr});
  EXPECT_FALSE(host.Convert(pipeline, Source("b.rec", Recording(0x80, 1))));
  EXPECT_EQ(host.shownErrors, (std::vector<std::uint32_t>{2, 2}));
  EXPECT_TRUE(fs::exists(TempFolder() / "temp.sbs"));
}

// ---- outputs ----------------------------------------------------------------

TEST_F(PipelineTest, AFailedWavCopyEmptiesOutputPathAndKeepsTheDecodedWav) {
  host.outputPath = L"D:\\earlier.wav";
  platform.copyFails = true;
  platform.runs.push_back({true, 0, 0, WritesOutput(16044)});
  EXPECT_FALSE(host.Convert(pipeline, Source("a.rec", Recording(0x05, 1))));
  EXPECT_EQ(host.shownErrors, std::vector<std::uint32_t>{5});
  EXPECT_EQ(host.result.status, ConversionStatus::kOutputFailed);
  EXPECT_EQ(host.result.failedPath, Voice("a.wav"));
  EXPECT_EQ(host.outputPath, L"");
  EXPECT_TRUE(fs::exists(TempFolder() / "tmp.wav"));
  EXPECT_EQ(host.playerFiles, std::vector<std::wstring>{L""});
}

TEST_F(PipelineTest, Mp3OutputWithinTwoSecondsIsKept) {
  host.mp3 = true;
  // WAV 6.5 s; MP3 100 frames = 3.6 s: 2.9 s shorter, accepted.
  platform.runs.push_back({true, 0, 0, WritesOutput(104000)});
  platform.runs.push_back({true, 0, 0, [](const std::vector<std::wstring>& items) {
                             WriteBytes(Narrow(items.back()), Mp3Frames(100));
                           }});
  const std::wstring source = Source("memo.rec", Recording(0x03, 1));
  ASSERT_TRUE(host.Convert(pipeline, source));
  ASSERT_EQ(platform.calls.size(), 2u);
  EXPECT_EQ(platform.calls[1].commandLine, L"\"C:\\Tools\\sqenc.exe\" -b 32 \"" + Temp("tmp.wav") +
                                               L"\" \"" + Voice("memo.mp3") + L"\"");
  EXPECT_EQ(platform.calls[1].baseText, L"      Encoding WAV to MP3...");
  EXPECT_TRUE(host.messages.empty());
  EXPECT_TRUE(fs::exists(VoiceFolder() / "memo.wav"));
  EXPECT_TRUE(fs::exists(VoiceFolder() / "memo.mp3"));
  EXPECT_EQ(host.outputPath, Voice("memo.mp3"));
  EXPECT_EQ(host.playerFiles.back(), Voice("memo.mp3"));
  EXPECT_EQ(host.totalTime, L"0:00:03");
  EXPECT_TRUE(platform.openHandles.empty());
  EXPECT_FALSE(fs::exists(TempFolder() / "tmp.wav"));
}

TEST_F(PipelineTest, Mp3OutputMoreThanTwoSecondsOffIsDeleted) {
  host.mp3 = true;
  for (std::uintmax_t wavBytes :
       {107200u /* 6.7 s: 3.1 s shorter */, 8000u /* 0.5 s: 3.1 s longer */}) {
    host.messages.clear();
    host.playerFiles.clear();
    platform.runs.push_back({true, 0, 0, WritesOutput(wavBytes)});
    platform.runs.push_back({true, 0, 0, [](const std::vector<std::wstring>& items) {
                               WriteBytes(Narrow(items.back()), Mp3Frames(100));
                             }});
    ASSERT_TRUE(host.Convert(pipeline, Source("memo.rec", Recording(0x03, 1))));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              L"Failed to convert file!Perhaps have no enough space for write!");
    EXPECT_FALSE(fs::exists(VoiceFolder() / "memo.mp3"));
    EXPECT_TRUE(fs::exists(VoiceFolder() / "memo.wav"));
    EXPECT_EQ(host.outputPath, L"");
    EXPECT_EQ(host.playerFiles, std::vector<std::wstring>{L""});  // nothing loaded
    EXPECT_EQ(host.totalTime, L"0:00:03");                        // the rejected file's length
  }
}

TEST_F(PipelineTest, AMissingEncoderLeavesTheWavOutputLoadedWithoutAMessage) {
  host.mp3 = true;
  platform.runs.push_back({true, 0, 0, WritesOutput(160044)});
  platform.runs.push_back({false, 0, 0, nullptr});
  ASSERT_TRUE(host.Convert(pipeline, Source("memo.rec", Recording(0x03, 1))));
  EXPECT_TRUE(host.messages.empty());
  EXPECT_TRUE(host.shownErrors.empty());
  EXPECT_EQ(host.outputPath, Voice("memo.wav"));
  EXPECT_EQ(host.playerFiles.back(), Voice("memo.wav"));
  EXPECT_EQ(host.totalTime, L"0:00:10");
}

TEST_F(PipelineTest, AnEarlierMp3StaysWhenTheEncoderCannotStartOrItsOutputIsRejected) {
  host.mp3 = true;
  struct Case {
    const char* what;
    ScriptedRun encoder;
    std::size_t messages;
  };
  for (const Case& c :
       {Case{"not startable", {false, 0, 0, nullptr}, 0u},
        Case{"rejected by its length", {true, 0, 0, CreatesOutput(platform, Mp3Frames(10))}, 1u}}) {
    SCOPED_TRACE(c.what);
    host.messages.clear();
    const std::vector<unsigned char> earlier = Mp3Frames(110);
    WriteBytes(VoiceFolder() / "memo.mp3", earlier);
    platform.runs.push_back({true, 0, 0, WritesOutput(64000)});  // 4 s
    platform.runs.push_back(c.encoder);
    ASSERT_TRUE(host.Convert(pipeline, Source("memo.rec", Recording(0x03, 1))));
    EXPECT_EQ(ReadBytes(VoiceFolder() / "memo.mp3"), earlier);
    EXPECT_EQ(host.messages.size(), c.messages);
    EXPECT_EQ(host.outputPath, c.messages ? L"" : Voice("memo.wav"));
    // Nothing else is left beside the recording.
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(VoiceFolder()))
      entries += !entry.is_directory();
    EXPECT_EQ(entries, 3u);  // memo.rec, memo.wav, memo.mp3
  }
}

TEST_F(PipelineTest, WithoutAWavOutputAFailedEncoderNeverDeletesAnEarlierOutput) {
  // Only reachable through a changed dialog, but it must not lose a file.
  host.wav = false;
  host.mp3 = true;
  WriteSized(VoiceFolder() / "earlier.wav", 16000 * 60);
  host.outputPath = Voice("earlier.wav");
  platform.runs.push_back({true, 0, 0, WritesOutput(16044)});
  platform.runs.push_back({false, 0, 0, nullptr});
  host.Convert(pipeline, Source("memo.rec", Recording(0x03, 1)));
  EXPECT_TRUE(fs::exists(VoiceFolder() / "earlier.wav"));
  EXPECT_TRUE(host.messages.empty());
}

// ---- files Windows refuses to replace, delete or open -----------------------

constexpr std::uint32_t kAccessDenied = fakes::kErrorAccessDenied;
constexpr std::uint32_t kSharingViolation = fakes::kErrorSharingViolation;
// Another program's handle: reading, sharing only reading (a player).
constexpr fakes::OpenMode kPlayerHandle{fakes::kGenericRead, fakes::kShareRead};

// A file in a state Windows may refuse, and the error it refuses with (0: it
// does not refuse).
struct RefusedFile {
  const char* what;
  WindowsFileState state;
  std::uint32_t error;
};

TEST_F(PipelineTest, AWavOutputThatCannotBeReplacedIsReportedAndNothingIsLoaded) {
  for (const RefusedFile& c :
       {RefusedFile{"read-only", {true, false, {}}, kAccessDenied},
        RefusedFile{"hidden", {false, true, {}}, kAccessDenied},
        RefusedFile{"open in a player", {false, false, {kPlayerHandle}}, kSharingViolation},
        RefusedFile{"open, sharing writing but not deleting",
                    {false, false, {{fakes::kGenericRead, fakes::kShareRead | fakes::kShareWrite}}},
                    0}}) {
    SCOPED_TRACE(c.what);
    host.outputPath = L"";
    host.caption = L"";
    host.playerFiles.clear();
    host.shownErrors.clear();
    WriteSized(VoiceFolder() / "memo.wav", 5);
    platform.fileStates[Voice("memo.wav")] = c.state;
    platform.runs.push_back({true, 0, 0, WritesOutput(16044)});
    const bool converted = host.Convert(pipeline, Source("memo.rec", Recording(0x05, 1)));
    if (c.error == 0) {
      // Writing is shared: the copy replaces the file.
      EXPECT_TRUE(converted);
      EXPECT_EQ(fs::file_size(VoiceFolder() / "memo.wav"), 16044u);
      EXPECT_EQ(host.caption, Voice("memo.wav"));
      continue;
    }
    EXPECT_FALSE(converted);
    EXPECT_EQ(host.shownErrors, std::vector<std::uint32_t>{c.error});
    EXPECT_EQ(fs::file_size(VoiceFolder() / "memo.wav"), 5u);  // the old file, untouched
    EXPECT_TRUE(fs::exists(TempFolder() / "tmp.wav"));         // kept for another try
    EXPECT_EQ(host.outputPath, L"");
    EXPECT_EQ(host.caption, L"");
    EXPECT_EQ(host.playerFiles, std::vector<std::wstring>{L""});
  }
}

TEST_F(PipelineTest, ADecodedWavHeldOpenWithoutReadSharingFailsTheCopy) {
  // A scanner holds the decoder's output open with no sharing at all.
  platform.runs.push_back(
      {true, 0, 0, [&](const std::vector<std::wstring>& items) {
         WriteSized(Narrow(items.back()), 16044);
         platform.fileStates[items.back()].heldOpen = {{fakes::kGenericRead, 0}};
       }});
  EXPECT_FALSE(host.Convert(pipeline, Source("memo.rec", Recording(0x05, 1))));
  EXPECT_EQ(host.shownErrors, std::vector<std::uint32_t>{kSharingViolation});
  EXPECT_FALSE(fs::exists(VoiceFolder() / "memo.wav"));
  EXPECT_EQ(host.outputPath, L"");
}

TEST_F(PipelineTest, AnEarlierMp3ThatTheEncoderCannotReplaceIsNeverTakenForTheNewOne) {
  // The earlier MP3 of the same recording has a plausible length; the
  // encoder cannot create its output over it and writes nothing.
  host.mp3 = true;
  for (const RefusedFile& c :
       {RefusedFile{"read-only", {true, false, {}}, kAccessDenied},
        RefusedFile{"open in a player", {false, false, {kPlayerHandle}}, kSharingViolation}}) {
    SCOPED_TRACE(c.what);
    host.messages.clear();
    host.playerFiles.clear();
    host.shownErrors.clear();
    platform.calls.clear();
    const std::vector<unsigned char> earlier = Mp3Frames(100);  // 3.6 s
    WriteBytes(VoiceFolder() / "memo.mp3", earlier);
    platform.fileStates[Voice("memo.mp3")] = c.state;
    platform.runs.push_back({true, 0, 0, WritesOutput(64000)});  // 4 s
    platform.runs.push_back({true, 0, 1, CreatesOutput(platform, Mp3Frames(110))});
    EXPECT_TRUE(host.Convert(pipeline, Source("memo.rec", Recording(0x03, 1))));
    // The user learns why there is no MP3; the WAV output is the result.
    EXPECT_EQ(host.shownErrors, std::vector<std::uint32_t>{c.error});
    EXPECT_EQ(host.outputPath, Voice("memo.wav"));
    EXPECT_EQ(host.caption, Voice("memo.wav"));
    EXPECT_EQ(host.playerFiles.back(), Voice("memo.wav"));
    EXPECT_EQ(host.totalTime, L"0:00:04");
    EXPECT_EQ(ReadBytes(VoiceFolder() / "memo.mp3"), earlier);
    EXPECT_FALSE(fs::exists(TempFolder() / "tmp.wav"));
    platform.runs.clear();
  }
}

TEST_F(PipelineTest, AHiddenEarlierMp3IsReplacedByTheNewOne) {
  // The encoder's own CREATE_ALWAYS would be refused over a hidden file;
  // the file is deleted first, which Windows allows.
  host.mp3 = true;
  WriteBytes(VoiceFolder() / "memo.mp3", Mp3Frames(10));
  platform.fileStates[Voice("memo.mp3")].hidden = true;
  platform.runs.push_back({true, 0, 0, WritesOutput(64000)});
  platform.runs.push_back({true, 0, 0, CreatesOutput(platform, Mp3Frames(110))});
  ASSERT_TRUE(host.Convert(pipeline, Source("memo.rec", Recording(0x03, 1))));
  EXPECT_EQ(ReadBytes(VoiceFolder() / "memo.mp3"), Mp3Frames(110));
  EXPECT_EQ(host.outputPath, Voice("memo.mp3"));
  EXPECT_TRUE(host.shownErrors.empty());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(PipelineTest, ARejectedMp3ThatCannotBeDeletedIsStillNotHandedToThePlayer) {
  host.mp3 = true;
  platform.runs.push_back({true, 0, 0, WritesOutput(16000 * 20)});  // 20 s
  platform.runs.push_back({true, 0, 0, [&](const std::vector<std::wstring>& items) {
                             WriteBytes(Narrow(items.back()), Mp3Frames(100));  // 3.6 s
                             platform.fileStates[items.back()].heldOpen = {kPlayerHandle};
                           }});
  ASSERT_TRUE(host.Convert(pipeline, Source("memo.rec", Recording(0x03, 1))));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text,
            L"Failed to convert file!Perhaps have no enough space for write!");
  EXPECT_TRUE(fs::exists(VoiceFolder() / "memo.mp3"));  // Windows kept it
  EXPECT_EQ(host.outputPath, L"");
  EXPECT_EQ(host.playerFiles, std::vector<std::wstring>{L""});
}

TEST_F(PipelineTest, TemporaryFilesThatCannotBeDeletedStayWithoutSpoilingTheResult) {
  // temp.sbs is still open in the decoder's (or a scanner's) hands and
  // temp.wav is read-only: the conversion is done all the same.
  platform.runs.push_back({true, 0, 0, [&](const std::vector<std::wstring>& items) {
                             platform.fileStates[items[1]].heldOpen = {kPlayerHandle};
                             WriteSized(Narrow(items[2]), 32044);
                             platform.fileStates[items[2]].readOnly = true;
                           }});
  ASSERT_TRUE(host.Convert(pipeline, Source("memo.rcd", Recording(0x80, 2))));
  EXPECT_TRUE(fs::exists(TempFolder() / "temp.sbs"));
  EXPECT_TRUE(fs::exists(TempFolder() / "temp.wav"));
  EXPECT_EQ(fs::file_size(VoiceFolder() / "memo.wav"), 32044u);
  EXPECT_EQ(host.caption, Voice("memo.wav"));
  EXPECT_TRUE(host.messages.empty());
  // The copy kept the source's read-only attribute, as CopyFile does.
  EXPECT_TRUE(platform.fileStates[Voice("memo.wav")].readOnly);
}

TEST_F(PipelineTest, ADecoderHeldOpenWithoutReadSharingIsReportedMissing) {
  // Being written by an installer: it cannot be opened for reading yet.
  platform.present = {L"C:\\Program\\QL8_DEC.exe", L"C:\\Program\\QL4_DEC.exe",
                      L"C:\\Program\\VRN_DEC.exe"};
  platform.fileStates[L"C:\\Program\\QL4_DEC.exe"].heldOpen = {
      {fakes::kGenericWrite, fakes::kShareRead | fakes::kShareWrite}};
  EXPECT_FALSE(pipeline.CheckDecoders());
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text.substr(0, 12), L"QL4_DEC.exe\n");
}

}  // namespace
}  // namespace lirrow::test
