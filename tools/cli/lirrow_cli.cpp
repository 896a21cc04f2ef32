#include "lirrow_cli.h"

#include "utf8.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "converter_dialog.h"
#include "recording.h"
#include "duration.h"
#include "text_table.h"
#include "tool_spinner.h"

extern char** environ;

namespace lirrow_cli {

namespace {

const char kMainHelp[] =
    "Usage: lirrow-cli COMMAND [OPTIONS]\n"
    "Converts the player's voice recordings (.ovk, .rcd, .rec).\n"
    "\n"
    "Commands:\n"
    "  classify FILE                     the kind of a recording by its first byte\n"
    "  extract FILE OUT                  write the decoders' bitstream of a framed recording\n"
    "  duration FILE                     the length of a WAV or MP3 file\n"
    "  convert FILE [--mp3] [--tools DIR]  convert a recording to WAV (and MP3)\n"
    "\n"
    "'lirrow-cli COMMAND --help' describes a command.\n"
    "Exit codes: 0 success, 1 failure, 2 bad usage.\n";

const char kClassifyHelp[] =
    "Usage: lirrow-cli classify FILE\n"
    "Prints the kind of the recording (0 to 6), chosen by its first byte, and\n"
    "what it means: 0-2 read whole by Vrn_dec.exe, 3-4 framed in 10-byte frames\n"
    "(QL8_Dec.exe), 5 framed in 22-byte frames (QL4_Dec.exe), 6 unsupported.\n";

const char kExtractHelp[] =
    "Usage: lirrow-cli extract FILE OUT\n"
    "Writes the headerless bitstream of the framed recording FILE to OUT, as the\n"
    "converter hands it to the frame decoders.\n";

const char kDurationHelp[] =
    "Usage: lirrow-cli duration FILE\n"
    "Prints the length of FILE in seconds and as H:MM:SS: a name ending in \"wav\"\n"
    "is measured by its size (16,000 bytes a second), anything else by walking\n"
    "its MPEG audio frames.\n";

const char kConvertHelp[] =
    "Usage: lirrow-cli convert FILE [--mp3] [--tools DIR]\n"
    "Converts the recording FILE to a WAV file next to it (same name, .wav), and\n"
    "with --mp3 on to an MP3 file (.mp3), with the decoders Vrn_dec.exe,\n"
    "QL8_Dec.exe, QL4_Dec.exe and the encoder sqenc.exe of DIR (default: the\n"
    "recording's folder). Existing outputs are replaced.\n"
    "\n"
    "  --mp3        also encode the WAV to MP3 (32 kbit/s)\n"
    "  --tools DIR  folder of the decoder and encoder programs\n";

void Print(std::FILE* f, const std::string& text) {
  std::fputs(text.c_str(), f);
  std::fflush(f);
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool CanRead(const std::string& path, std::string& problem) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    problem = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    problem = std::strerror(EISDIR);
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problem = std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

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

std::string Seconds(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

void Sleep(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

long NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Removes the private temporary folder and what a failed conversion left in it.
void RemoveTree(const std::string& directory) {
  if (DIR* d = opendir(directory.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") unlink((directory + "/" + name).c_str());
    }
    closedir(d);
  }
  rmdir(directory.c_str());
}

// The converter library, with the errno of a failed extraction kept for the
// system error report that follows it.
class CliRecordingFiles final : public lirrow::RecordingFiles {
 public:
  explicit CliRecordingFiles(PosixPipelinePlatform& platform) : platform_(platform) {}
  int ClassifyRecording(const std::wstring& path) override {
    return lirrow::LibraryRecordingFiles().ClassifyRecording(path);
  }
  int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                       Hooks& hooks) override {
    errno = 0;
    const int result = lirrow::LibraryRecordingFiles().ExtractBitstream(source, target, hooks);
    if (result != 0) platform_.SetLastError(errno);
    return result;
  }
  double MeasureDuration(const std::wstring& path) override {
    return lirrow::LibraryRecordingFiles().MeasureDuration(path);
  }

 private:
  PosixPipelinePlatform& platform_;
};

// The converter dialog's side of a conversion, on a terminal.
class TerminalHost final : public lirrow::ConversionHost {
 public:
  TerminalHost(const std::wstring& startDirectory, bool mp3, CliStreams streams)
      : start_(startDirectory), mp3_(mp3), streams_(streams) {}

  bool WavFlag() override { return true; }
  bool Mp3Flag() override { return mp3_; }
  std::wstring OutputPath() override { return output_; }
  void SetOutputPath(const std::wstring& path) override { output_ = path; }
  void SetTotalTimeText(const std::wstring& text) override { totalTime = text; }
  void SetSourceText(const std::wstring&) override {}
  void ReadControls() override {}
  void WriteControls() override {}
  void SetCaption(const std::wstring&) override {}
  void SetPlayerFile(const std::wstring&) override {}
  void ShowMessage(const std::wstring& text, lirrow::MessageIcon) override {
    ++messagesShown;
    Print(streams_.err, "lirrow-cli: " + ToUtf8(text) + "\n");
  }
  void* OwnerWindow() override { return nullptr; }
  const lirrow::TextTable& Texts() override { return lirrow::EnglishTexts(); }
  const std::wstring& StartDirectory() override { return start_; }

  int messagesShown = 0;
  std::wstring totalTime;

 private:
  std::wstring start_;
  bool mp3_;
  CliStreams streams_;
  std::wstring output_;
};

int Classify(const std::vector<std::string>& args, CliStreams& s) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    Print(s.out, kClassifyHelp);
    return kExitOk;
  }
  if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
    Print(s.err, std::string("lirrow-cli: classify takes one FILE\n") + kClassifyHelp);
    return kExitUsage;
  }
  std::string problem;
  if (!CanRead(args[0], problem)) {
    Print(s.err, "lirrow-cli: cannot open " + args[0] + ": " + problem + "\n");
    return kExitFailed;
  }
  const int kind = lirrow::ClassifyRecording(FromUtf8(args[0]));
  Print(s.out, std::to_string(kind) + "\t" + KindMeaning(kind) + "\n");
  return kExitOk;
}

int Extract(const std::vector<std::string>& args, CliStreams& s) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    Print(s.out, kExtractHelp);
    return kExitOk;
  }
  if (args.size() != 2 || (args[0].size() > 1 && args[0][0] == '-') ||
      (args[1].size() > 1 && args[1][0] == '-')) {
    Print(s.err, std::string("lirrow-cli: extract takes FILE and OUT\n") + kExtractHelp);
    return kExitUsage;
  }
  lirrow::ExtractionHooks hooks;
  errno = 0;
  const int result = lirrow::ExtractBitstream(FromUtf8(args[0]), FromUtf8(args[1]), hooks);
  const std::string why = errno ? std::string(": ") + std::strerror(errno) : std::string();
  switch (result) {
    case lirrow::kExtractOk: {
      struct stat st {};
      stat(args[1].c_str(), &st);
      Print(s.out, args[1] + ": " + std::to_string(st.st_size) + " bytes\n");
      return kExitOk;
    }
    case lirrow::kExtractSourceOpenFailed:
      Print(s.err, "lirrow-cli: cannot open " + args[0] + why + "\n");
      break;
    case lirrow::kExtractTargetCreateFailed:
      Print(s.err, "lirrow-cli: cannot create " + args[1] + why + "\n");
      break;
    case lirrow::kExtractNotFramed:
      Print(s.err, "lirrow-cli: " + args[0] + " is not a framed recording (kind " +
                       std::to_string(lirrow::ClassifyRecording(FromUtf8(args[0]))) + ")\n");
      break;
    case lirrow::kExtractShortBlock:
      Print(s.err, "lirrow-cli: " + args[0] + ": a block could not be read whole" + why + "\n");
      break;
    default: Print(s.err, "lirrow-cli: cannot write " + args[1] + why + "\n"); break;
  }
  return kExitFailed;
}

int Duration(const std::vector<std::string>& args, CliStreams& s) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    Print(s.out, kDurationHelp);
    return kExitOk;
  }
  if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
    Print(s.err, std::string("lirrow-cli: duration takes one FILE\n") + kDurationHelp);
    return kExitUsage;
  }
  std::string problem;
  if (!CanRead(args[0], problem)) {
    Print(s.err, "lirrow-cli: cannot open " + args[0] + ": " + problem + "\n");
    return kExitFailed;
  }
  const double seconds = lirrow::MeasureDuration(FromUtf8(args[0]));
  Print(s.out, Seconds(seconds) + "\t" + ToUtf8(lirrow::FormatTotalTime(seconds)) + "\n");
  return kExitOk;
}

int Convert(const std::vector<std::string>& args, CliStreams& s) {
  std::string file, tools;
  bool mp3 = false, toolsGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--help" || word == "-h") {
      Print(s.out, kConvertHelp);
      return kExitOk;
    } else if (word == "--mp3") {
      mp3 = true;
    } else if (word == "--tools" || StartsWith(word, "--tools=")) {
      if (word == "--tools") {
        if (i + 1 >= args.size()) {
          Print(s.err, std::string("lirrow-cli: --tools needs a folder\n") + kConvertHelp);
          return kExitUsage;
        }
        tools = args[++i];
      } else {
        tools = word.substr(8);
      }
      toolsGiven = true;
      if (tools.empty()) {
        Print(s.err, std::string("lirrow-cli: --tools needs a folder\n") + kConvertHelp);
        return kExitUsage;
      }
    } else if (word.size() > 1 && word[0] == '-') {
      Print(s.err, "lirrow-cli: convert: unknown option '" + word + "'\n" + kConvertHelp);
      return kExitUsage;
    } else if (file.empty()) {
      file = word;
    } else {
      Print(s.err, "lirrow-cli: convert takes one FILE ('" + word + "' is one too many)\n");
      return kExitUsage;
    }
  }
  if (file.empty()) {
    Print(s.err, std::string("lirrow-cli: convert needs a FILE\n") + kConvertHelp);
    return kExitUsage;
  }
  if (!toolsGiven) tools = DirectoryOf(file);
  while (tools.size() > 1 && tools.back() == '/') tools.pop_back();

  // As the dialog's Start: the source must exist, then the decoders.
  std::string problem;
  if (!CanRead(file, problem)) {
    Print(s.err, "lirrow-cli: cannot open " + file + ": " + problem + "\n");
    return kExitFailed;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lirrow-cli.XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    Print(s.err, std::string("lirrow-cli: cannot create a temporary folder: ") +
                     std::strerror(errno) + "\n");
    return kExitFailed;
  }
  const std::string tempDir = pattern + "/";

  PosixPipelinePlatform platform(tools, tempDir, s);
  CliRecordingFiles files(platform);
  TerminalHost host(FromUtf8(tools), mp3, s);
  lirrow::ConversionPipeline pipeline(host, platform, files);

  bool converted = false;
  if (pipeline.CheckDecoders()) converted = pipeline.ConvertRecording(FromUtf8(file));
  RemoveTree(pattern);

  const bool silent = host.messagesShown == 0 && platform.errorsShown == 0;
  if (!converted) {
    if (silent) {
      // The program ends such a conversion without a word; a script needs one.
      if (platform.lastExitCode == static_cast<long>(lirrow::kAbandonExitCode))
        Print(s.err, "lirrow-cli: the decoder abandoned the conversion (exit code 262)\n");
      else
        Print(s.err,
              "lirrow-cli: " + ToUtf8(lirrow::EnglishTexts()[lirrow::TextKey::ConvertErr]) + "\n");
    }
    return kExitFailed;
  }

  const std::wstring base = lirrow::BasePathOf(FromUtf8(file));
  const std::wstring outputs[2] = {base + L".wav", base + L".mp3"};
  for (int i = 0; i < (mp3 ? 2 : 1); ++i) {
    std::string ignored;
    const std::string path = ToUtf8(outputs[i]);
    if (!CanRead(path, ignored)) continue;
    const double seconds = lirrow::MeasureDuration(outputs[i]);
    Print(s.out,
          path + "\t" + Seconds(seconds) + "\t" + ToUtf8(lirrow::FormatTotalTime(seconds)) + "\n");
  }
  if (!silent) return kExitFailed;  // for instance an MP3 rejected by its length
  Print(s.out,
        "Total time " + ToUtf8(host.totalTime) + ", playing " + ToUtf8(host.OutputPath()) + "\n");
  return kExitOk;
}

}  // namespace

std::string ToUtf8(const std::wstring& text) { return lirrow::ToUtf8(text); }

std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    unsigned long c = extra == 0   ? b
                      : extra == 1 ? (b & 0x1F)
                      : extra == 2 ? (b & 0x0F)
                                   : (b & 0x07);
    bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size() + (extra == 0);
    for (int k = 1; ok && k <= extra; ++k) {
      const unsigned char n = static_cast<unsigned char>(text[i + k]);
      if ((n & 0xC0) != 0x80)
        ok = false;
      else
        c = (c << 6) | (n & 0x3F);
    }
    if (!ok) {
      // A byte that is not UTF-8 keeps its value, so the name survives the
      // round trip as far as it can.
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

std::string ResolveIgnoringCase(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) return path;
  const auto slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string found = path;
  if (DIR* d = opendir(directory.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcasecmp(e->d_name, name.c_str()) == 0) {
        found =
            (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + e->d_name;
        break;
      }
    }
    closedir(d);
  }
  return found;
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> items;
  std::size_t i = 0;
  while (i < commandLine.size()) {
    if (commandLine[i] == ' ' || commandLine[i] == '\t') {
      ++i;
      continue;
    }
    std::string item;
    if (commandLine[i] == '"') {
      const auto close = commandLine.find('"', i + 1);
      item =
          commandLine.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
      i = close == std::string::npos ? commandLine.size() : close + 1;
    } else {
      const auto end = commandLine.find_first_of(" \t", i);
      item = commandLine.substr(i, end == std::string::npos ? std::string::npos : end - i);
      i = end == std::string::npos ? commandLine.size() : end;
    }
    items.push_back(item);
  }
  return items;
}

PosixPipelinePlatform::PosixPipelinePlatform(std::string toolsDir, std::string tempDir,
                                             CliStreams streams)
    : toolsDir_(std::move(toolsDir)), tempDir_(std::move(tempDir)), streams_(streams) {}

std::string PosixPipelinePlatform::NativePath(const std::wstring& path) const {
  std::string local = ToUtf8(path);
  const std::string joined = toolsDir_ + "\\";
  if (StartsWith(local, joined)) local[toolsDir_.size()] = '/';
  return local;
}

bool PosixPipelinePlatform::FileExists(const std::wstring& path) {
  std::string problem;
  return CanRead(ResolveIgnoringCase(NativePath(path)), problem);
}

bool PosixPipelinePlatform::CopyFileReplacing(const std::wstring& from, const std::wstring& to) {
  const std::string source = NativePath(from), target = NativePath(to);
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    lastError_ = errno;
    return false;
  }
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    lastError_ = errno;
    ::close(in);
    return false;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) ok = false;
      break;
    }
    for (ssize_t put = 0; put < n;) {
      const ssize_t w = ::write(out, buffer + put, static_cast<std::size_t>(n - put));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      put += w;
    }
    if (!ok) break;
  }
  if (!ok) lastError_ = errno ? errno : EIO;
  ::close(in);
  if (::close(out) != 0 && ok) {
    ok = false;
    lastError_ = errno;
  }
  return ok;
}

void PosixPipelinePlatform::RemoveFile(const std::wstring& path) {
  unlink(NativePath(path).c_str());
}

lirrow::ToolRun PosixPipelinePlatform::RunTool(std::wstring& commandLine,
                                               const std::wstring& baseText) {
  lirrow::ToolRun run;
  lastExitCode = -1;
  std::vector<std::string> items;
  for (const std::string& item : SplitCommandLine(ToUtf8(commandLine))) items.push_back(item);
  if (items.empty()) {
    lastError_ = ENOENT;
    return run;
  }
  items[0] = ResolveIgnoringCase(NativePath(FromUtf8(items[0])));
  std::vector<char*> argv;
  for (std::string& item : items) argv.push_back(&item[0]);
  argv.push_back(nullptr);

  // Hidden: the tool's own output does not reach the terminal; its
  // complaints do.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    lastError_ = rc;
    return run;
  }

  const std::string text = ToUtf8(baseText);
  Print(streams_.err, streams_.errIsTerminal ? text : text + "\n");
  int status = 0;
  long nextFrame = NowMs() + 800;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      status = 0;
      break;
    }
    if (streams_.errIsTerminal && NowMs() >= nextFrame) {
      Print(streams_.err,
            "\r" + ToUtf8(lirrow::ToolProgressSpinner().Advance(baseText)) + "\x1b[K");
      nextFrame += 800;
    }
    Sleep(10);
  }
  if (streams_.errIsTerminal) Print(streams_.err, "\n");

  run.started = true;
  if (WIFEXITED(status)) {
    run.exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
    lastExitCode = static_cast<long>(run.exitCode);
  } else {
    // Killed by a signal: a failure like any non-zero code.
    run.exitCode = 0x80000000u | static_cast<std::uint32_t>(WTERMSIG(status));
  }
  run.process = static_cast<std::uintptr_t>(pid);
  return run;
}

std::uint32_t PosixPipelinePlatform::ReadExitCode(const lirrow::ToolRun& run) {
  return run.exitCode;  // the process has been reaped: its code is final
}

void PosixPipelinePlatform::CloseToolHandles(lirrow::ToolRun& run) {
  run.process = 0;
  run.thread = 0;
}

bool PosixPipelinePlatform::ReportSystemError() {
  if (lastError_ == 0) return true;
  ++errorsShown;
  Print(streams_.err, std::string("lirrow-cli: ") + std::strerror(lastError_) + "\n");
  lastError_ = 0;
  return false;
}

void PosixPipelinePlatform::OpenExtractionWindow(const std::wstring& baseText) {
  Print(streams_.err, ToUtf8(baseText) + "\n");
}

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
