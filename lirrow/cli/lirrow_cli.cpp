// lirrow-cli's commands: classify, extract, duration and convert, each over
// the converter's own engine and pipeline.
#include "lirrow_cli.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "batch.h"
#include "cli_args.h"
#include "converter_dialog.h"
#include "duration.h"
#include "recording.h"
#include "text_table.h"
#include "utf8.h"

namespace lirrow_cli {

namespace {

const char* KindMeaning(int kind) {
  switch (kind) {
    case 0: return "first byte 0x05, read whole by Vrn_dec.exe";
    case 1: return "first byte 0x04, read whole by Vrn_dec.exe";
    case 2: return "first byte 0x03, read whole by Vrn_dec.exe";
    case 3: return "first byte 0x80, framed in 10-byte frames, QL8_Dec.exe";
    case 4: return "first byte 0x81, framed in 10-byte frames, QL8_Dec.exe";
    case 5: return "first byte 0x40 or 0x41, framed in 22-byte frames, QL4_Dec.exe";
    default: return "unsupported";
  }
}

// The converter library, with the errno of a failed extraction kept for the
// system error report that follows it, and the MP3 output measured where the
// encoder wrote it.
class CliRecordingFiles final : public lirrow::RecordingFiles {
 public:
  explicit CliRecordingFiles(PosixPipelinePlatform& platform) : platform_(platform) {}
  lirrow::RecordingKind ClassifyRecording(const std::wstring& path) override {
    return lirrow::LibraryRecordingFiles().ClassifyRecording(path);
  }
  int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                       lirrow::ExtractionHooks& hooks) override {
    errno = 0;
    const int result = lirrow::LibraryRecordingFiles().ExtractBitstream(source, target, hooks);
    if (result != 0) {
      const int error = errno;
      const bool sourceSide = result == lirrow::kExtractSourceOpenFailed ||
                              result == lirrow::kExtractShortBlock ||
                              result == lirrow::kExtractNotFramed;
      platform_.SetLastError(error, Bytes(sourceSide ? source : target));
    }
    return result;
  }
  double MeasureDuration(const std::wstring& path) override {
    if (platform_.IsMp3Output(path)) {
      const std::string measured = platform_.Mp3Measured();
      return measured.empty() ? 0.0
                              : lirrow::LibraryRecordingFiles().MeasureDuration(Wide(measured));
    }
    return lirrow::LibraryRecordingFiles().MeasureDuration(path);
  }

 private:
  PosixPipelinePlatform& platform_;
};

// The converter dialog's side of a conversion, on a terminal: the texts and
// tools folder it runs with, and where its result is told.
class TerminalHost final : public lirrow::ConversionHost, public lirrow::ConversionView {
 public:
  TerminalHost(const std::wstring& startDirectory, PosixPipelinePlatform& platform,
               CliStreams streams)
      : start_(startDirectory), platform_(platform), streams_(streams) {}

  void ShowMessage(const std::wstring& text, lirrow::MessageIcon) override {
    ++messagesShown;
    if (CaughtSignal()) return;  // the conversion was interrupted, not failed
    Print(streams_.err, "lirrow-cli: " + lirrow::ToUtf8(text) + "\n");
  }
  void ShowSystemError(std::uint32_t code) override { platform_.ShowSystemError(code); }
  void SetPlayerFile(const std::wstring&) override {}
  void SetCaption(const std::wstring&) override {}
  void* OwnerWindow() override { return nullptr; }
  const lirrow::TextTable& Texts() override { return lirrow::EnglishTexts(); }
  unsigned LanguageId() override { return 0x0409; }  // the English texts
  const std::wstring& StartDirectory() override { return start_; }

  int messagesShown = 0;

 private:
  std::wstring start_;
  PosixPipelinePlatform& platform_;
  CliStreams streams_;
};

// The one FILE of classify or duration, a readable regular file. Returns -1
// with `file` set; otherwise the exit code, after the help or the reason.
int SingleInput(const std::vector<std::string>& words, CliStreams& s, const char* command,
                const char* help, std::string& file) {
  if (AsksForHelp(words)) {
    Print(s.out, help);
    return kExitOk;
  }
  std::vector<std::string> args;
  if (!Operands(words, args) || args.size() != 1) {
    Print(s.err, std::string("lirrow-cli: ") + command + " takes one FILE\n" + help);
    return kExitUsage;
  }
  file = args[0];
  std::string problem;
  if (!RegularInput(file, problem)) {
    Print(s.err,
          "lirrow-cli: cannot open " + ShownName(file, s.errIsTerminal) + ": " + problem + "\n");
    return kExitFailed;
  }
  return -1;
}

int Classify(const std::vector<std::string>& words, CliStreams& s) {
  std::string file;
  if (const int code = SingleInput(words, s, "classify", kClassifyHelp, file); code >= 0)
    return code;
  const int kind = lirrow::ClassifyRecording(Wide(file));
  Print(s.out, std::to_string(kind) + "\t" + KindMeaning(kind) + "\n");
  return kind == lirrow::kRecordingUnsupported ? kExitFailed : kExitOk;
}

int Extract(const std::vector<std::string>& words, CliStreams& s) {
  if (AsksForHelp(words)) {
    Print(s.out, kExtractHelp);
    return kExitOk;
  }
  std::vector<std::string> args;
  if (!Operands(words, args) || args.size() != 2) {
    Print(s.err, std::string("lirrow-cli: extract takes FILE and OUT\n") + kExtractHelp);
    return kExitUsage;
  }
  const std::string& file = args[0];
  const std::string& outName = args[1];
  std::string problem;
  struct stat source {};
  if (!RegularInput(file, problem, &source)) {
    Print(s.err,
          "lirrow-cli: cannot open " + ShownName(file, s.errIsTerminal) + ": " + problem + "\n");
    return kExitFailed;
  }
  // The kind first: nothing is written for a file that is not a framed
  // recording.
  const int kind = lirrow::ClassifyRecording(Wide(file));
  if (kind < lirrow::kRecordingByte80 || kind > lirrow::kRecordingByte40or41) {
    Print(s.err, "lirrow-cli: " + ShownName(file, s.errIsTerminal) +
                     " is not a framed recording (kind " + std::to_string(kind) + ", " +
                     KindMeaning(kind) + ")\n");
    return kExitFailed;
  }
  if (!ReplaceableOutput(outName, source, problem)) {
    Print(s.err, "lirrow-cli: will not write " + ShownName(outName, s.errIsTerminal) + ": " +
                     problem + "\n");
    return kExitFailed;
  }
  CatchSignals();
  int result;
  int error = 0;
  {
    PendingOutput out(outName);
    if (!out.Create()) {
      Print(s.err, "lirrow-cli: cannot create " + ShownName(outName, s.errIsTerminal) + ": " +
                       std::strerror(errno) + "\n");
      return kExitFailed;
    }
    lirrow::ExtractionHooks hooks;
    errno = 0;
    result = lirrow::ExtractBitstream(Wide(file), Wide(out.TempPath()), hooks);
    error = errno;
    if (result == lirrow::kExtractOk && !CaughtSignal() && !out.Commit()) {
      error = errno;
      result = lirrow::kExtractWriteFailed;
    }
  }
  if (const int signal = CaughtSignal()) EndBySignal(signal);
  const std::string why = error ? std::string(": ") + std::strerror(error) : std::string();
  switch (result) {
    case lirrow::kExtractOk: {
      struct stat st {};
      stat(outName.c_str(), &st);
      Print(s.out,
            ShownName(outName, s.outIsTerminal) + ": " + std::to_string(st.st_size) + " bytes\n");
      return kExitOk;
    }
    case lirrow::kExtractSourceOpenFailed:
      Print(s.err, "lirrow-cli: cannot open " + ShownName(file, s.errIsTerminal) + why + "\n");
      break;
    case lirrow::kExtractTargetCreateFailed:
      Print(s.err, "lirrow-cli: cannot create " + ShownName(outName, s.errIsTerminal) + why + "\n");
      break;
    case lirrow::kExtractShortBlock:
      Print(s.err, "lirrow-cli: " + ShownName(file, s.errIsTerminal) +
                       ": a block could not be read whole" + why + "\n");
      break;
    default:
      Print(s.err, "lirrow-cli: cannot write " + ShownName(outName, s.errIsTerminal) + why + "\n");
      break;
  }
  return kExitFailed;
}

bool EndsWithWavIgnoringCase(const std::string& path) {
  return path.size() >= 3 && strcasecmp(path.c_str() + path.size() - 3, "wav") == 0;
}

int Duration(const std::vector<std::string>& words, CliStreams& s) {
  std::string file;
  if (const int code = SingleInput(words, s, "duration", kDurationHelp, file); code >= 0)
    return code;
  if (EndsWithWavIgnoringCase(file)) {
    // The converter counts a WAV file's size at the decoders' rate; that says
    // nothing about a file of another rate, or about one that is no WAV.
    const std::uint32_t rate = lirrow::WavByteRate(Wide(file));
    if (rate == 0) {
      Print(s.err, "lirrow-cli: cannot measure " + ShownName(file, s.errIsTerminal) +
                       ": not a RIFF WAVE file\n");
      return kExitFailed;
    }
    if (rate != lirrow::kDecoderWavByteRate) {
      Print(s.err, "lirrow-cli: cannot measure " + WavProblem(file) + "\n");
      return kExitFailed;
    }
  }
  const double seconds = lirrow::MeasureDuration(Wide(file));
  if (!EndsWithWavIgnoringCase(file) && seconds <= 0.0) {
    Print(s.err, "lirrow-cli: cannot measure " + ShownName(file, s.errIsTerminal) +
                     ": no MPEG audio frames found\n");
    return kExitFailed;
  }
  Print(s.out, Seconds(seconds) + "\t" + lirrow::ToUtf8(lirrow::FormatTotalTime(seconds)) + "\n");
  return kExitOk;
}

// What a conversion left for the report.
struct ConversionOutcome {
  bool converted = false;
  bool silent = false;    // nothing was said: no message, no system error
  bool committed = true;  // the MP3 replaced the old one (or there was none)
  bool mp3Failed = false;
  long lastExitCode = -1;
  std::string toolProblem, totalTime, playing;
};

// As the dialog's Start, and more: the source must be a recording, and
// every output must be replaceable, before anything is written. Returns -1
// when they are; otherwise the exit code, with the reason printed.
int CheckConvertFiles(const ConvertOptions& o, CliStreams& s, std::string& base) {
  std::string problem;
  struct stat source {};
  if (!RegularInput(o.file, problem, &source)) {
    Print(s.err,
          "lirrow-cli: cannot open " + ShownName(o.file, s.errIsTerminal) + ": " + problem + "\n");
    return kExitFailed;
  }
  if (!HasRecordingName(o.file)) {
    Print(s.err, "lirrow-cli: " + ShownName(o.file, s.errIsTerminal) +
                     " is not a recording: the converter takes .ovk, .rcd and .rec files\n");
    return kExitFailed;
  }
  base = Bytes(lirrow::BasePathOf(Wide(o.file)));
  for (const std::string& output : {base + ".wav", base + ".mp3"}) {
    if (!o.mp3 && output == base + ".mp3") continue;
    if (!ReplaceableOutput(output, source, problem)) {
      Print(s.err, "lirrow-cli: will not write " + ShownName(output, s.errIsTerminal) + ": " +
                       problem + "\n");
      return kExitFailed;
    }
  }
  return -1;
}

// Windows programs among the tools need Wine, and a 32-bit one Wine's 32-bit
// loader. Returns -1 when they can run; otherwise the exit code, with the
// reason printed.
int CheckWine(const ConvertOptions& o, CliStreams& s, WineLoader& wine) {
  bool looked = false;
  for (const char* name : {"Vrn_dec.exe", "QL8_Dec.exe", "QL4_Dec.exe", "sqenc.exe"}) {
    const std::string tool = ToolIn(o.tools, name);
    if (tool.empty() || (!o.mp3 && std::strcmp(name, "sqenc.exe") == 0)) continue;
    const unsigned machine = PeMachine(tool);
    if (machine == 0) continue;
    if (!looked) wine = FindWine();
    looked = true;
    if (wine.program.empty()) {
      Print(s.err, "lirrow-cli: " + tool +
                       " is a Windows program and Wine is not installed; install Wine or give "
                       "--tools a folder of Linux tools\n");
      return kExitFailed;
    }
    if (machine == 0x14C && !wine.runs32) {
      Print(s.err, "lirrow-cli: " + tool +
                       " is a 32-bit Windows program, and Wine's 32-bit loader does not run on "
                       "this system\n");
      return kExitFailed;
    }
  }
  return -1;
}

}  // namespace

// The tools: named, or from the environment, or beside this program; never
// from the recording's folder unless named. Returns -1 when the decoders
// (and the encoder asked for) are there; otherwise the exit code, with the
// reason printed.
int FindConvertTools(ConvertOptions& o, CliStreams& s, bool& haveSqenc, WineLoader& wine) {
  if (!o.toolsGiven) {
    const char* fromEnv = std::getenv("LIRROW_TOOLS");
    o.tools = fromEnv && *fromEnv ? fromEnv : ProgramFolder();
  }
  while (o.tools.size() > 1 && o.tools.back() == '/') o.tools.pop_back();
  struct stat toolsInfo {};
  if (stat(o.tools.c_str(), &toolsInfo) != 0 || !S_ISDIR(toolsInfo.st_mode)) {
    const int error = S_ISDIR(toolsInfo.st_mode) || toolsInfo.st_mode == 0 ? errno : ENOTDIR;
    Print(s.err,
          "lirrow-cli: tools folder " + Quoted(o.tools) + ": " + std::strerror(error) + "\n");
    return kExitFailed;
  }
  // Looked for in the converter's order; the first one missing is named,
  // with the folder set off from the message's full stop.
  for (const wchar_t* name : lirrow::kCheckedDecoders) {
    if (ToolIn(o.tools, lirrow::ToUtf8(name).c_str()).empty()) {
      const std::wstring message = lirrow::MissingDecoderMessage(
          name, Wide(Quoted(o.tools)), lirrow::EnglishTexts()[lirrow::TextKey::NotFindExeFile],
          0x0409);  // the English texts
      Print(s.err, "lirrow-cli: " + Bytes(message) + "\n");
      return kExitFailed;
    }
  }
  haveSqenc = !ToolIn(o.tools, "sqenc.exe").empty();
  if (o.mp3 && !haveSqenc) {
    if (o.encoder != "lame") {
      Print(s.err, "lirrow-cli: sqenc.exe is not in " + Quoted(o.tools) +
                       ": no MP3 can be made (--encoder lame encodes with lame)\n");
      return kExitFailed;
    }
    if (FindOnPath("lame").empty()) {
      Print(s.err, "lirrow-cli: sqenc.exe is not in " + Quoted(o.tools) +
                       " and lame is not installed: no MP3 can be made\n");
      return kExitFailed;
    }
  }
  return CheckWine(o, s, wine);
}

// Warns about the tools folder and each tool that will run when others may
// write them: anyone could put another program in their place.
void WarnWritableByOthers(const ConvertOptions& o, CliStreams& s) {
  std::vector<std::string> paths = {o.tools};
  for (const char* name : {"Vrn_dec.exe", "QL8_Dec.exe", "QL4_Dec.exe", "sqenc.exe"}) {
    const std::string tool = ToolIn(o.tools, name);
    if (!tool.empty() && (o.mp3 || std::strcmp(name, "sqenc.exe") != 0)) paths.push_back(tool);
  }
  for (const std::string& path : paths) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWOTH) != 0)
      Print(s.err, "lirrow-cli: warning: " + ShownName(path, s.errIsTerminal) +
                       " is writable by others\n");
  }
}

namespace {

// Runs the converter's pipeline on the private folder `tempDir` and prints
// what it says.
ConversionOutcome RunConversion(const ConvertOptions& o, const std::string& tempDir, bool haveSqenc,
                                const WineLoader& wine, CliStreams& s, const std::string& base) {
  ConversionOutcome outcome;
  PosixPipelinePlatform platform(o.tools, tempDir, s);
  const std::wstring wideFile = Wide(o.file);
  platform.SetSource(wideFile);
  platform.UseLameWithoutSqenc(o.encoder == "lame" && !haveSqenc);
  platform.SetWine(wine);
  CliRecordingFiles files(platform);
  TerminalHost host(Wide(o.tools), platform, s);
  lirrow::ConversionPipeline pipeline(host, platform, files);

  std::wstring output, total;
  if (pipeline.CheckDecoders()) {
    const lirrow::ConversionResult result = pipeline.ConvertRecording({wideFile, true, o.mp3});
    lirrow::PresentConversion(result, host.Texts(), output, total, host);
    outcome.converted = result.Produced();
  }
  outcome.silent = host.messagesShown == 0 && platform.errorsShown == 0;
  if (outcome.converted && outcome.silent && platform.mp3Written && !CaughtSignal()) {
    outcome.committed = platform.CommitMp3();
    if (!outcome.committed)
      Print(s.err, "lirrow-cli: cannot write " + base + ".mp3: " + std::strerror(errno) + "\n");
  }
  outcome.toolProblem = platform.toolProblem;
  outcome.mp3Failed = platform.mp3Failed;
  outcome.lastExitCode = platform.lastExitCode;
  outcome.totalTime = lirrow::ToUtf8(total);
  outcome.playing = Bytes(output);
  return outcome;
}

// Prints the outputs and their lengths, or why there are none; the exit code.
int ReportConversion(const ConvertOptions& o, const ConversionOutcome& r, const std::string& base,
                     CliStreams& s) {
  if (!r.converted) {
    // The program ends an abandoned conversion without a word; a script
    // needs one.
    if (r.lastExitCode == static_cast<long>(lirrow::kAbandonExitCode))
      Print(s.err, "lirrow-cli: the decoder abandoned the conversion (exit code 262)\n");
    else if (!r.toolProblem.empty())
      Print(s.err, "lirrow-cli: " + r.toolProblem + "\n");
    else if (r.silent)
      Print(s.err, "lirrow-cli: " +
                       lirrow::ToUtf8(lirrow::EnglishTexts()[lirrow::TextKey::ConvertErr]) + "\n");
    return kExitFailed;
  }
  if (r.mp3Failed)
    Print(s.err, "lirrow-cli: " + r.toolProblem + "; " + base + ".mp3 was not written\n");

  const std::string outputs[2] = {base + ".wav", base + ".mp3"};
  for (int i = 0; i < (o.mp3 ? 2 : 1); ++i) {
    std::string ignored;
    if (i == 1 && (r.mp3Failed || !r.committed || !r.silent)) continue;
    if (!RegularInput(outputs[i], ignored)) continue;
    const double seconds = lirrow::MeasureDuration(Wide(outputs[i]));
    Print(s.out, ShownName(outputs[i], s.outIsTerminal) + "\t" + Seconds(seconds) + "\t" +
                     lirrow::ToUtf8(lirrow::FormatTotalTime(seconds)) + "\n");
  }
  // For instance an MP3 rejected by its length, or an encoder that failed.
  if (!r.silent || r.mp3Failed || !r.committed) return kExitFailed;
  Print(s.out,
        "Total time " + r.totalTime + ", playing " + ShownName(r.playing, s.outIsTerminal) + "\n");
  return kExitOk;
}

}  // namespace

int ConvertRecordingFile(const ConvertOptions& o, bool haveSqenc, const WineLoader& wine,
                         CliStreams& s) {
  std::string base;
  if (const int code = CheckConvertFiles(o, s, base); code >= 0) return code;
  CatchSignals();
  const char* tmp = std::getenv("TMPDIR");
  const std::string root = tmp && *tmp ? tmp : "/tmp";
  int error = 0;
  const std::string folder = CreatePrivateFolder(root, error);
  if (folder.empty()) {
    Print(s.err, std::string("lirrow-cli: cannot create a temporary folder in ") + Quoted(root) +
                     ": " + std::strerror(error) + "\n");
    return kExitFailed;
  }
  const ConversionOutcome outcome = RunConversion(o, folder + "/", haveSqenc, wine, s, base);
  RemoveTree(folder);
  if (CaughtSignal()) return kExitFailed;
  return ReportConversion(o, outcome, base, s);
}

namespace {

int Convert(const std::vector<std::string>& args, CliStreams& s) {
  ConvertOptions o;
  if (const int code = ParseConvertArgs(args, s.out, s.err, o); code >= 0) return code;
  struct stat info {};
  if (o.Batch() || (stat(o.file.c_str(), &info) == 0 && S_ISDIR(info.st_mode)))
    return ConvertBatch(o, s);
  bool haveSqenc = false;
  WineLoader wine;
  if (const int code = FindConvertTools(o, s, haveSqenc, wine); code >= 0) return code;
  WarnWritableByOthers(o, s);
  const int code = ConvertRecordingFile(o, haveSqenc, wine, s);
  if (const int signal = CaughtSignal()) EndBySignal(signal);
  return code;
}

}  // namespace

int LirrowCliMain(const std::vector<std::string>& args, CliStreams& streams) {
  if (args.empty()) {
    Print(streams.err, kMainHelp);
    return kExitUsage;
  }
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    Print(streams.out, kMainHelp);
    return kExitOk;
  }
  if (command == "classify") return Classify(rest, streams);
  if (command == "extract") return Extract(rest, streams);
  if (command == "duration") return Duration(rest, streams);
  if (command == "convert") return Convert(rest, streams);
  Print(streams.err, "lirrow-cli: unknown command '" + command + "'\n" + kMainHelp);
  return kExitUsage;
}

}  // namespace lirrow_cli
