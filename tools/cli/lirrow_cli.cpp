#include "lirrow_cli.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "converter_dialog.h"
#include "duration.h"
#include "recording.h"
#include "text_table.h"
#include "tool_spinner.h"
#include "utf8.h"

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
    "  convert FILE [--mp3] [--tools DIR] [--encoder sqenc|lame]\n"
    "                                    convert a recording to WAV (and MP3)\n"
    "\n"
    "'lirrow-cli COMMAND --help' describes a command.\n"
    "Exit codes: 0 success, 1 failure (a file that cannot be used, an unsupported\n"
    "recording, a failed tool), 2 bad usage.\n";

const char kClassifyHelp[] =
    "Usage: lirrow-cli classify FILE\n"
    "Prints the kind of the recording (0 to 6), chosen by its first byte, and\n"
    "what it means: 0-2 read whole by Vrn_dec.exe, 3-4 framed in 10-byte frames\n"
    "(QL8_Dec.exe), 5 framed in 22-byte frames (QL4_Dec.exe), 6 unsupported.\n"
    "Exits with 1 for kind 6, which convert refuses.\n";

const char kExtractHelp[] =
    "Usage: lirrow-cli extract FILE OUT\n"
    "Writes the headerless bitstream of the framed recording FILE (kinds 3 to 5)\n"
    "to OUT, as the converter hands it to the frame decoders. OUT is written\n"
    "under a temporary name and replaces an existing file only when complete;\n"
    "it may not be FILE itself.\n";

const char kDurationHelp[] =
    "Usage: lirrow-cli duration FILE\n"
    "Prints the length of FILE in seconds and as H:MM:SS: a name ending in \"wav\"\n"
    "is measured by its size (16,000 bytes a second, the decoders' rate), anything\n"
    "else by walking its MPEG audio frames. A WAV file of another data rate, or a\n"
    "file in which no length can be found, is reported and exits with 1.\n";

const char kConvertHelp[] =
    "Usage: lirrow-cli convert FILE [--mp3] [--tools DIR] [--encoder sqenc|lame]\n"
    "Converts the recording FILE (.ovk, .rcd or .rec) to a WAV file next to it\n"
    "(same name, .wav), and with --mp3 on to an MP3 file (.mp3), with the\n"
    "decoders Vrn_dec.exe, QL8_Dec.exe, QL4_Dec.exe and the encoder sqenc.exe\n"
    "of DIR (default: $LIRROW_TOOLS, else the folder of lirrow-cli; never the\n"
    "recording's folder unless named). Windows programs there are run through\n"
    "Wine. Existing outputs are replaced only by complete new ones; read-only\n"
    "outputs are not replaced.\n"
    "\n"
    "  --mp3            also encode the WAV to MP3 (32 kbit/s)\n"
    "  --tools DIR      folder of the decoder and encoder programs\n"
    "  --encoder lame   encode with lame (from PATH) when DIR has no sqenc.exe\n";

constexpr const char* kToolsLink = "tools";
constexpr const char* kOutputLink = "out";
// The exit code recorded for a decoder that ended with 0 but wrote no WAV
// the converter can take.
constexpr std::uint32_t kRejectedOutput = 0xE0000001u;

volatile std::sig_atomic_t g_signal = 0;

extern "C" void NoteSignal(int signal) { g_signal = signal; }

// The three signals that end a run: noted, and acted on where the program
// waits (the tool is ended, the temporary files removed).
void CatchSignals() {
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: waits return early
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

// Ends the program by the signal it caught, so that a calling shell sees it.
[[noreturn]] void EndBySignal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);
}

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

std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool IsOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// A file that the commands read: it must exist, be a regular file (a FIFO
// or a device would block or never end) and be readable.
bool RegularInput(const std::string& path, std::string& problem, struct stat* info = nullptr) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    problem = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    problem = std::strerror(EISDIR);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = "not a regular file";
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = std::strerror(errno);
    return false;
  }
  ::close(fd);
  if (info) *info = st;
  return true;
}

// An output name that may be written: absent, or a writable regular file
// that is not `source` under another name.
bool ReplaceableOutput(const std::string& path, const struct stat& source, std::string& problem) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    problem = std::strerror(errno);
    return false;
  }
  if (st.st_dev == source.st_dev && st.st_ino == source.st_ino) {
    problem = "it is the input file itself";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = "it exists and is not a regular file";
    return false;
  }
  if ((st.st_mode & 0222) == 0) {
    problem = "it is read-only";
    return false;
  }
  return true;
}

bool HasRecordingName(const std::string& path) {
  const std::string name = NameOf(path);
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  return lirrow::HasRecordingExtension(Wide(name.substr(dot)));
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
  nanosleep(&ts, nullptr);  // a caught signal ends it early, which is wanted
}

long NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Removes the private temporary folder and what a conversion left in it
// (links are removed, never followed).
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

std::string FindOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= list.size()) {
    const auto end = list.find(':', start);
    std::string dir =
        list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return "";
}

// This process's environment followed by `extra` (later entries win).
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

// Pointers to the strings' characters and a final null, as exec wants them;
// valid while `items` lives unchanged.
std::vector<char*> NullTerminated(std::vector<std::string>& items) {
  std::vector<char*> pointers;
  for (std::string& item : items) pointers.push_back(&item[0]);
  pointers.push_back(nullptr);
  return pointers;
}

// True when `program --version` starts and exits with 0.
bool Starts(const std::string& program, const std::vector<std::string>& extraEnv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> env = EnvironmentWith(extraEnv);
  std::vector<char*> envp = NullTerminated(env);
  std::string p = program, v = "--version";
  char* argv[] = {&p[0], &v[0], nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ProgramFolder() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  return DirectoryOf(std::string(self, static_cast<std::size_t>(n)));
}

std::string Absolute(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out = real;
  std::free(real);
  return out;
}

std::string SignalName(int signal) {
  const char* name = sigabbrev_np(signal);
  return name ? std::string("SIG") + name : std::to_string(signal);
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

int Classify(const std::vector<std::string>& args, CliStreams& s) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    Print(s.out, kClassifyHelp);
    return kExitOk;
  }
  if (args.size() != 1 || IsOption(args[0])) {
    Print(s.err, std::string("lirrow-cli: classify takes one FILE\n") + kClassifyHelp);
    return kExitUsage;
  }
  std::string problem;
  if (!RegularInput(args[0], problem)) {
    Print(s.err, "lirrow-cli: cannot open " + args[0] + ": " + problem + "\n");
    return kExitFailed;
  }
  const int kind = lirrow::ClassifyRecording(Wide(args[0]));
  Print(s.out, std::to_string(kind) + "\t" + KindMeaning(kind) + "\n");
  return kind == lirrow::kRecordingUnsupported ? kExitFailed : kExitOk;
}

int Extract(const std::vector<std::string>& args, CliStreams& s) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    Print(s.out, kExtractHelp);
    return kExitOk;
  }
  if (args.size() != 2 || IsOption(args[0]) || IsOption(args[1])) {
    Print(s.err, std::string("lirrow-cli: extract takes FILE and OUT\n") + kExtractHelp);
    return kExitUsage;
  }
  const std::string& file = args[0];
  const std::string& outName = args[1];
  std::string problem;
  struct stat source {};
  if (!RegularInput(file, problem, &source)) {
    Print(s.err, "lirrow-cli: cannot open " + file + ": " + problem + "\n");
    return kExitFailed;
  }
  // The kind first: nothing is written for a file that is not a framed
  // recording.
  const int kind = lirrow::ClassifyRecording(Wide(file));
  if (kind < lirrow::kRecordingByte80 || kind > lirrow::kRecordingByte40or41) {
    Print(s.err, "lirrow-cli: " + file + " is not a framed recording (kind " +
                     std::to_string(kind) + ", " + KindMeaning(kind) + ")\n");
    return kExitFailed;
  }
  if (!ReplaceableOutput(outName, source, problem)) {
    Print(s.err, "lirrow-cli: will not write " + outName + ": " + problem + "\n");
    return kExitFailed;
  }
  CatchSignals();
  int result;
  int error = 0;
  {
    PendingOutput out(outName);
    if (!out.Create()) {
      Print(s.err, "lirrow-cli: cannot create " + outName + ": " + std::strerror(errno) + "\n");
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
      Print(s.out, outName + ": " + std::to_string(st.st_size) + " bytes\n");
      return kExitOk;
    }
    case lirrow::kExtractSourceOpenFailed:
      Print(s.err, "lirrow-cli: cannot open " + file + why + "\n");
      break;
    case lirrow::kExtractTargetCreateFailed:
      Print(s.err, "lirrow-cli: cannot create " + outName + why + "\n");
      break;
    case lirrow::kExtractShortBlock:
      Print(s.err, "lirrow-cli: " + file + ": a block could not be read whole" + why + "\n");
      break;
    default: Print(s.err, "lirrow-cli: cannot write " + outName + why + "\n"); break;
  }
  return kExitFailed;
}

std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Why the converter cannot take the file at `path` as a decoder's WAV, or
// an empty text when it can.
std::string WavProblem(const std::string& path) {
  const std::uint32_t rate = lirrow::WavByteRate(Wide(path));
  if (rate == 0) return path + " is not a RIFF WAVE file";
  if (rate != lirrow::kDecoderWavByteRate)
    return path + ": its data rate is " + std::to_string(rate) +
           " bytes per second; lengths are counted at the decoders' 16000";
  return std::string();
}

bool EndsWithWavIgnoringCase(const std::string& path) {
  return path.size() >= 3 && strcasecmp(path.c_str() + path.size() - 3, "wav") == 0;
}

int Duration(const std::vector<std::string>& args, CliStreams& s) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    Print(s.out, kDurationHelp);
    return kExitOk;
  }
  if (args.size() != 1 || IsOption(args[0])) {
    Print(s.err, std::string("lirrow-cli: duration takes one FILE\n") + kDurationHelp);
    return kExitUsage;
  }
  const std::string& file = args[0];
  std::string problem;
  if (!RegularInput(file, problem)) {
    Print(s.err, "lirrow-cli: cannot open " + file + ": " + problem + "\n");
    return kExitFailed;
  }
  if (EndsWithWavIgnoringCase(file)) {
    // The converter counts a WAV file's size at the decoders' rate; that says
    // nothing about a file of another rate, or about one that is no WAV.
    const std::uint32_t rate = lirrow::WavByteRate(Wide(file));
    if (rate == 0) {
      Print(s.err, "lirrow-cli: cannot measure " + file + ": not a RIFF WAVE file\n");
      return kExitFailed;
    }
    if (rate != lirrow::kDecoderWavByteRate) {
      Print(s.err, "lirrow-cli: cannot measure " + WavProblem(file) + "\n");
      return kExitFailed;
    }
  }
  const double seconds = lirrow::MeasureDuration(Wide(file));
  if (!EndsWithWavIgnoringCase(file) && seconds <= 0.0) {
    Print(s.err, "lirrow-cli: cannot measure " + file + ": no MPEG audio frames found\n");
    return kExitFailed;
  }
  Print(s.out, Seconds(seconds) + "\t" + lirrow::ToUtf8(lirrow::FormatTotalTime(seconds)) + "\n");
  return kExitOk;
}

std::string ToolIn(const std::string& dir, const char* name) {
  const std::string found = ResolveIgnoringCase(dir + "/" + name);
  std::string ignored;
  return RegularInput(found, ignored) ? found : std::string();
}

int Convert(const std::vector<std::string>& args, CliStreams& s) {
  std::string file, tools, encoder = "sqenc";
  bool mp3 = false, toolsGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--help" || word == "-h") {
      Print(s.out, kConvertHelp);
      return kExitOk;
    } else if (word == "--mp3") {
      mp3 = true;
    } else if (word == "--tools" || StartsWith(word, "--tools=") || word == "--encoder" ||
               StartsWith(word, "--encoder=")) {
      const bool isTools = StartsWith(word, "--tools");
      std::string value;
      if (word == "--tools" || word == "--encoder") {
        if (i + 1 >= args.size()) {
          Print(s.err, "lirrow-cli: " + word + " needs a value\n" + kConvertHelp);
          return kExitUsage;
        }
        value = args[++i];
      } else {
        value = word.substr(word.find('=') + 1);
      }
      if (value.empty() || (!isTools && value != "sqenc" && value != "lame")) {
        Print(s.err,
              "lirrow-cli: " +
                  std::string(isTools ? "--tools needs a folder" : "--encoder is sqenc or lame") +
                  "\n" + kConvertHelp);
        return kExitUsage;
      }
      if (isTools) {
        tools = value;
        toolsGiven = true;
      } else {
        encoder = value;
      }
    } else if (IsOption(word)) {
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

  // As the dialog's Start, and more: the source must be a recording, and
  // every output must be replaceable, before anything is written.
  std::string problem;
  struct stat source {};
  if (!RegularInput(file, problem, &source)) {
    Print(s.err, "lirrow-cli: cannot open " + file + ": " + problem + "\n");
    return kExitFailed;
  }
  if (!HasRecordingName(file)) {
    Print(s.err, "lirrow-cli: " + file +
                     " is not a recording: the converter takes .ovk, .rcd and .rec files\n");
    return kExitFailed;
  }
  const std::wstring wideFile = Wide(file);
  const std::string base = Bytes(lirrow::BasePathOf(wideFile));
  for (const std::string& output : {base + ".wav", base + ".mp3"}) {
    if (!mp3 && output == base + ".mp3") continue;
    if (!ReplaceableOutput(output, source, problem)) {
      Print(s.err, "lirrow-cli: will not write " + output + ": " + problem + "\n");
      return kExitFailed;
    }
  }

  // The tools: named, or from the environment, or beside this program;
  // never from the recording's folder unless named.
  if (!toolsGiven) {
    const char* fromEnv = std::getenv("LIRROW_TOOLS");
    tools = fromEnv && *fromEnv ? fromEnv : ProgramFolder();
  }
  while (tools.size() > 1 && tools.back() == '/') tools.pop_back();
  struct stat toolsInfo {};
  if (stat(tools.c_str(), &toolsInfo) != 0 || !S_ISDIR(toolsInfo.st_mode)) {
    const int error = S_ISDIR(toolsInfo.st_mode) || toolsInfo.st_mode == 0 ? errno : ENOTDIR;
    Print(s.err, "lirrow-cli: tools folder " + Quoted(tools) + ": " + std::strerror(error) + "\n");
    return kExitFailed;
  }
  // Looked for in the converter's order; the first one missing is named,
  // with the folder set off from the message's full stop.
  for (const wchar_t* name : lirrow::kCheckedDecoders) {
    if (ToolIn(tools, lirrow::ToUtf8(name).c_str()).empty()) {
      const std::wstring message = lirrow::MissingDecoderMessage(
          name, Wide(Quoted(tools)), lirrow::EnglishTexts()[lirrow::TextKey::NotFindExeFile],
          0x0409);  // the English texts
      Print(s.err, "lirrow-cli: " + Bytes(message) + "\n");
      return kExitFailed;
    }
  }
  const bool haveSqenc = !ToolIn(tools, "sqenc.exe").empty();
  if (mp3 && !haveSqenc) {
    if (encoder != "lame") {
      Print(s.err, "lirrow-cli: sqenc.exe is not in " + Quoted(tools) +
                       ": no MP3 can be made (--encoder lame encodes with lame)\n");
      return kExitFailed;
    }
    if (FindOnPath("lame").empty()) {
      Print(s.err, "lirrow-cli: sqenc.exe is not in " + Quoted(tools) +
                       " and lame is not installed: no MP3 can be made\n");
      return kExitFailed;
    }
  }
  // Windows programs among the tools need Wine.
  WineLoader wine;
  bool wineLooked = false;
  for (const char* name : {"Vrn_dec.exe", "QL8_Dec.exe", "QL4_Dec.exe", "sqenc.exe"}) {
    const std::string tool = ToolIn(tools, name);
    if (tool.empty() || (!mp3 && std::strcmp(name, "sqenc.exe") == 0)) continue;
    const unsigned machine = PeMachine(tool);
    if (machine == 0) continue;
    if (!wineLooked) wine = FindWine();
    wineLooked = true;
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

  CatchSignals();
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lirrow-cli.XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    Print(s.err, std::string("lirrow-cli: cannot create a temporary folder in ") +
                     Quoted(DirectoryOf(pattern)) + ": " + std::strerror(errno) + "\n");
    return kExitFailed;
  }
  const std::string tempDir = pattern + "/";

  bool converted = false, silent = false, committed = true;
  std::string toolProblem, totalTime, playing;
  bool mp3Failed = false;
  long lastExitCode = -1;
  {
    PosixPipelinePlatform platform(tools, tempDir, s);
    platform.SetSource(wideFile);
    platform.UseLameWithoutSqenc(encoder == "lame" && !haveSqenc);
    platform.SetWine(wine);
    CliRecordingFiles files(platform);
    TerminalHost host(Wide(tools), platform, s);
    lirrow::ConversionPipeline pipeline(host, platform, files);

    std::wstring output, total;
    if (pipeline.CheckDecoders()) {
      const lirrow::ConversionResult result = pipeline.ConvertRecording({wideFile, true, mp3});
      lirrow::PresentConversion(result, host.Texts(), output, total, host);
      converted = result.Produced();
    }
    silent = host.messagesShown == 0 && platform.errorsShown == 0;
    if (converted && silent && platform.mp3Written && !CaughtSignal()) {
      committed = platform.CommitMp3();
      if (!committed)
        Print(s.err, "lirrow-cli: cannot write " + base + ".mp3: " + std::strerror(errno) + "\n");
    }
    toolProblem = platform.toolProblem;
    mp3Failed = platform.mp3Failed;
    lastExitCode = platform.lastExitCode;
    totalTime = lirrow::ToUtf8(total);
    playing = Bytes(output);
  }
  RemoveTree(pattern);
  if (const int signal = CaughtSignal()) EndBySignal(signal);

  if (!converted) {
    // The program ends an abandoned conversion without a word; a script
    // needs one.
    if (lastExitCode == static_cast<long>(lirrow::kAbandonExitCode))
      Print(s.err, "lirrow-cli: the decoder abandoned the conversion (exit code 262)\n");
    else if (!toolProblem.empty())
      Print(s.err, "lirrow-cli: " + toolProblem + "\n");
    else if (silent)
      Print(s.err, "lirrow-cli: " +
                       lirrow::ToUtf8(lirrow::EnglishTexts()[lirrow::TextKey::ConvertErr]) + "\n");
    return kExitFailed;
  }
  if (mp3Failed)
    Print(s.err, "lirrow-cli: " + toolProblem + "; " + base + ".mp3 was not written\n");

  const std::string outputs[2] = {base + ".wav", base + ".mp3"};
  for (int i = 0; i < (mp3 ? 2 : 1); ++i) {
    std::string ignored;
    if (i == 1 && (mp3Failed || !committed || !silent)) continue;
    if (!RegularInput(outputs[i], ignored)) continue;
    const double seconds = lirrow::MeasureDuration(Wide(outputs[i]));
    Print(s.out, outputs[i] + "\t" + Seconds(seconds) + "\t" +
                     lirrow::ToUtf8(lirrow::FormatTotalTime(seconds)) + "\n");
  }
  // For instance an MP3 rejected by its length, or an encoder that failed.
  if (!silent || mp3Failed || !committed) return kExitFailed;
  Print(s.out, "Total time " + totalTime + ", playing " + playing + "\n");
  return kExitOk;
}

}  // namespace

int CaughtSignal() { return g_signal; }

std::wstring Wide(const std::string& bytes) { return lirrow::NameFromBytes(bytes); }

std::string Bytes(const std::wstring& path) { return lirrow::NameBytes(path); }

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

unsigned PeMachine(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  unsigned char dos[64];
  unsigned machine = 0;
  if (std::fread(dos, 1, 64, f) == 64 && dos[0] == 'M' && dos[1] == 'Z') {
    const std::uint32_t offset = Le32(dos + 0x3C);
    unsigned char pe[6];
    if (offset < (1u << 24) && std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
        std::fread(pe, 1, 6, f) == 6 && std::memcmp(pe, "PE\0\0", 4) == 0)
      machine = pe[4] | (pe[5] << 8);
  }
  std::fclose(f);
  return machine;
}

WineLoader FindWine() {
  WineLoader wine;
  if (const char* named = std::getenv("WINE"); named && *named) {
    wine.program = FindOnPath(named);
    wine.runs32 = wine.runs64 = !wine.program.empty();
    return wine;
  }
  const std::string onPath = FindOnPath("wine");
  if (!onPath.empty() && Starts(onPath, {})) {
    wine.program = onPath;
    wine.runs32 = wine.runs64 = true;
    return wine;
  }
  // Where the 32-bit loader cannot run (a kernel without 32-bit support),
  // the 64-bit loader still runs 64-bit programs.
  for (std::string loader : {FindOnPath("wine64"), std::string("/usr/lib/wine/wine64")}) {
    if (loader.empty() || access(loader.c_str(), X_OK) != 0) continue;
    const std::vector<std::string> env = {"WINELOADER=" + loader};
    if (Starts(loader, env)) {
      wine.program = loader;
      wine.extraEnv = env;
      wine.runs64 = true;
      return wine;
    }
  }
  return wine;
}

PendingOutput::PendingOutput(const std::string& finalPath) : final_(finalPath) {
  // A link stays a link: its target is what gets replaced.
  struct stat st {};
  if (lstat(finalPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = realpath(finalPath.c_str(), nullptr);
    if (real) {
      final_ = real;
      std::free(real);
    }
  }
}

bool PendingOutput::Create() {
  Discard();
  std::string name = final_;
  const auto dot = NameOf(final_).rfind('.');
  const std::string extension =
      dot == std::string::npos ? std::string() : NameOf(final_).substr(dot);
  // The name is plain ASCII, so that a Windows tool under Wine can be given it.
  const bool plain =
      extension.size() <= 5 && extension.find_first_not_of(
                                   ".abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789") == std::string::npos;
  std::string pattern =
      DirectoryOf(final_) + "/.lirrow-cli-XXXXXX" + (plain ? extension : std::string());
  const int fd = mkostemps(&pattern[0], plain ? static_cast<int>(extension.size()) : 0, O_CLOEXEC);
  if (fd < 0) return false;
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  ::close(fd);
  temp_ = pattern;
  return true;
}

bool PendingOutput::Commit() {
  if (temp_.empty()) {
    errno = ENOENT;
    return false;
  }
  if (rename(temp_.c_str(), final_.c_str()) != 0) {
    const int error = errno;
    Discard();
    errno = error;
    return false;
  }
  temp_.clear();
  return true;
}

void PendingOutput::Discard() {
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

PosixPipelinePlatform::PosixPipelinePlatform(std::string toolsDir, std::string tempDir,
                                             CliStreams streams)
    : toolsDir_(std::move(toolsDir)), tempDir_(std::move(tempDir)), streams_(streams) {}

void PosixPipelinePlatform::SetLastError(int error, const std::string& path) {
  lastError_ = error;
  lastErrorPath_ = path;
}

std::string PosixPipelinePlatform::NativePath(const std::wstring& path) const {
  std::string local = Bytes(path);
  const std::string joined = toolsDir_ + "\\";
  if (StartsWith(local, joined)) local[toolsDir_.size()] = '/';
  return local;
}

bool PosixPipelinePlatform::FileExists(const std::wstring& path) {
  std::string problem;
  return RegularInput(ResolveIgnoringCase(NativePath(path)), problem);
}

bool PosixPipelinePlatform::CopyFileReplacing(const std::wstring& from, const std::wstring& to) {
  const std::string source = NativePath(from), target = NativePath(to);
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    SetLastError(errno, source);
    return false;
  }
  PendingOutput output(target);
  if (!output.Create()) {
    SetLastError(errno, target);
    ::close(in);
    return false;
  }
  const int out = ::open(output.TempPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (out < 0) {
    SetLastError(errno, target);
    ::close(in);
    return false;
  }
  char buffer[65536];
  int error = 0;
  std::string failed = target;
  while (error == 0) {
    if (CaughtSignal()) {
      error = EINTR;
      break;
    }
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      failed = source;
    }
    if (n <= 0) break;
    for (ssize_t put = 0; put < n && error == 0;) {
      const ssize_t w = ::write(out, buffer + put, static_cast<std::size_t>(n - put));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) error = w < 0 ? errno : ENOSPC;
      if (w > 0) put += w;
    }
  }
  ::close(in);
  // A full disk may show only when the data reaches it.
  if (error == 0 && fdatasync(out) != 0) error = errno;
  if (::close(out) != 0 && error == 0) error = errno;
  if (error == 0 && !output.Commit()) error = errno;
  if (error != 0) {
    SetLastError(error, failed);
    return false;  // the temporary file goes with `output`; the old file stays
  }
  return true;
}

lirrow::PipelinePlatform::Rename PosixPipelinePlatform::RenameFile(const std::wstring& from,
                                                                   const std::wstring& to) {
  // The earlier MP3 is never at risk here: the new one is written under a
  // temporary name and replaces it only when committed. Setting it aside
  // and back does nothing.
  if (IsMp3Output(from) || IsMp3Output(to)) return Rename::kRenamed;
  const std::string source = NativePath(from), target = NativePath(to);
  struct stat st {};
  if (lstat(source.c_str(), &st) != 0) {
    SetLastError(errno, source);
    return errno == ENOENT ? Rename::kAbsent : Rename::kFailed;
  }
  // renameat2's RENAME_NOREPLACE is not everywhere; link and unlink never
  // replace either.
  if (link(source.c_str(), target.c_str()) != 0 || unlink(source.c_str()) != 0) {
    SetLastError(errno, target);
    return Rename::kFailed;
  }
  return Rename::kRenamed;
}

bool PosixPipelinePlatform::RemoveFile(const std::wstring& path) {
  if (IsMp3Output(path)) {
    // The MP3 was rejected (or is about to be replaced): the new one goes,
    // an older one stays until a new one is committed over it.
    if (mp3_) mp3_->Discard();
    mp3Written = false;
    return true;
  }
  const std::string native = NativePath(path);
  if (unlink(native.c_str()) == 0 || errno == ENOENT) return true;
  SetLastError(errno, native);
  return false;
}

bool PosixPipelinePlatform::IsMp3Output(const std::wstring& path) const {
  return !source_.empty() && path == lirrow::BasePathOf(source_) + L".mp3";
}

std::string PosixPipelinePlatform::Mp3Measured() const {
  return mp3_ && mp3Written ? mp3_->TempPath() : std::string();
}

bool PosixPipelinePlatform::CommitMp3() {
  if (!mp3_ || !mp3Written) return true;
  return mp3_->Commit();
}

bool PosixPipelinePlatform::Spawn(const std::vector<std::string>& argv,
                                  const std::string& directory,
                                  const std::vector<std::string>& extraEnv, pid_t& pid) {
  std::vector<std::string> items = argv;
  std::vector<char*> args = NullTerminated(items);
  std::vector<std::string> env = EnvironmentWith(extraEnv);
  std::vector<char*> envp = NullTerminated(env);

  // Hidden: the tool's own output does not reach the terminal; its
  // complaints do. Its own process group, so that it and what it starts
  // can be ended together.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  const int rc = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    SetLastError(rc, argv[0]);
    return false;
  }
  return true;
}

int PosixPipelinePlatform::Wait(pid_t pid, const std::wstring& baseText) {
  int status = 0;
  long nextFrame = NowMs() + 800;
  long killAt = -1;
  bool ended = false;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      status = 0;
      break;
    }
    if (CaughtSignal() && !ended) {
      kill(-pid, SIGTERM);
      ended = true;
      killAt = NowMs() + 3000;
    }
    if (killAt >= 0 && NowMs() >= killAt) {
      kill(-pid, SIGKILL);
      killAt = -1;
    }
    if (streams_.errIsTerminal && !ended && NowMs() >= nextFrame) {
      Print(streams_.err,
            "\r" + lirrow::ToUtf8(lirrow::ToolProgressSpinner().Advance(baseText)) + "\x1b[K");
      nextFrame += 800;
    }
    Sleep(10);
  }
  // What the tool started may outlive it: its group goes with it.
  if (ended) kill(-pid, SIGKILL);
  if (streams_.errIsTerminal) Print(streams_.err, "\n");
  return status;
}

bool PosixPipelinePlatform::WineCommand(const std::string& program, const Invocation& run,
                                        std::vector<std::string>& argv) {
  // The tool runs under cmd from a batch file in the private folder, which
  // records its exit code whole (the loader's own status keeps 8 bits, and
  // 262 is the decoders' abandon code). Every name the batch file holds is
  // plain ASCII and relative to the private folder: links there lead to the
  // tools folder, the recording and the MP3's folder.
  const std::string dir = tempDir_.substr(0, tempDir_.size() - 1);
  auto link = [&](const std::string& name, const std::string& target) {
    const std::string at = dir + "/" + name;
    unlink(at.c_str());
    return symlink(Absolute(target).c_str(), at.c_str()) == 0;
  };
  auto windowsName = [&](const std::string& path) -> std::string {
    if (StartsWith(path, tempDir_)) return path.substr(tempDir_.size());
    return "";
  };
  if (!link(kToolsLink, toolsDir_)) return false;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < run.args.size(); ++i) {
    std::string name = windowsName(run.args[i]);
    if (name.empty() && !run.encoder && i == 0) {
      // The recording, read by Vrn_dec.exe itself.
      const auto dot = NameOf(run.args[i]).rfind('.');
      name = "source" + NameOf(run.args[i]).substr(dot);
      if (!HasRecordingName(name) || !link(name, run.args[i])) return false;
    } else if (name.empty() && run.encoder && i == 1) {
      if (!link(kOutputLink, DirectoryOf(run.args[i]))) return false;
      name = std::string(kOutputLink) + "\\" + NameOf(run.args[i]);
    }
    if (name.empty() || name.find_first_of("\"%^&|<>!\r\n") != std::string::npos) return false;
    for (char& c : name)
      if (c == '/') c = '\\';
    names.push_back(name);
  }
  std::string batch = "@\"" + std::string(kToolsLink) + "\\" + NameOf(program) + "\"";
  for (const std::string& option : run.options) batch += " " + option;
  for (const std::string& name : names) batch += " \"" + name + "\"";
  batch += " >NUL\r\n@>exitcode.txt echo %ERRORLEVEL%\r\n";
  const std::string batchPath = dir + "/run.bat";
  std::FILE* f = std::fopen(batchPath.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(batch.data(), 1, batch.size(), f) == batch.size();
  if (std::fclose(f) != 0 || !written) return false;
  unlink((dir + "/exitcode.txt").c_str());
  argv = {wine_.program, "cmd.exe", "/c", "run.bat"};
  return true;
}

lirrow::ToolRun PosixPipelinePlatform::RunTool(const lirrow::ToolInvocation& tool,
                                               const std::wstring& baseText) {
  lirrow::ToolRun run;
  lastExitCode = -1;
  toolProblem.clear();
  if (CaughtSignal()) {
    SetLastError(EINTR);
    return run;
  }
  Invocation invocation;
  invocation.name = Bytes(tool.program);
  invocation.encoder = tool.Encoder();
  for (const std::wstring& option : tool.options) invocation.options.push_back(Bytes(option));
  invocation.args = {Bytes(tool.input), Bytes(tool.output)};
  std::string program = ToolIn(toolsDir_, invocation.name.c_str());
  std::vector<std::string> prefix;
  if (invocation.encoder) {
    if (program.empty() && lameFallback_) {
      program = FindOnPath("lame");
      prefix = {"--quiet"};
    }
    mp3_ = std::make_unique<PendingOutput>(invocation.args[1]);
    mp3Written = false;
    if (!mp3_->Create()) {
      SetLastError(errno, invocation.args[1]);
      toolProblem = "cannot create " + invocation.args[1] + ": " + std::strerror(errno);
      mp3Failed = true;
      return run;
    }
    invocation.args[1] = mp3_->TempPath();
  }
  if (program.empty()) {
    SetLastError(ENOENT, toolsDir_ + "/" + invocation.name);
    return run;
  }

  std::vector<std::string> argv;
  std::string directory;
  std::vector<std::string> extraEnv;
  const bool windows = PeMachine(program) != 0;
  if (windows) {
    if (wine_.program.empty() || !WineCommand(program, invocation, argv)) {
      SetLastError(wine_.program.empty() ? ENOEXEC : EINVAL, program);
      toolProblem = program + " could not be started through Wine";
      if (invocation.encoder) mp3Failed = true;
      return run;
    }
    directory = tempDir_;
    extraEnv = wine_.extraEnv;
  } else {
    argv = {program};
    argv.insert(argv.end(), prefix.begin(), prefix.end());
    argv.insert(argv.end(), invocation.options.begin(), invocation.options.end());
    argv.insert(argv.end(), invocation.args.begin(), invocation.args.end());
  }
  pid_t pid = 0;
  if (!Spawn(argv, directory, extraEnv, pid)) {
    if (invocation.encoder) {
      mp3Failed = true;
      toolProblem = program + " could not be started: " + std::strerror(lastError_);
    }
    return run;
  }

  const std::string text = lirrow::ToUtf8(baseText);
  Print(streams_.err, streams_.errIsTerminal ? text : text + "\n");
  const int status = Wait(pid, baseText);

  run.started = true;
  run.process = static_cast<std::uintptr_t>(pid);
  const std::string toolName = NameOf(program);
  if (windows && WIFEXITED(status)) {
    std::FILE* f = std::fopen((tempDir_ + "exitcode.txt").c_str(), "rb");
    long code = -1;
    bool read = false;
    if (f) {
      char line[32] = {};
      if (std::fgets(line, sizeof line, f)) {
        char* end = nullptr;
        code = std::strtol(line, &end, 10);
        read = end != line;
      }
      std::fclose(f);
    }
    run.exitCode = read ? static_cast<std::uint32_t>(code) : 0xFFFFFFFFu;
    lastExitCode = read ? static_cast<long>(run.exitCode) : -1;
    if (run.exitCode != 0)
      toolProblem = toolName + " ended with exit code " +
                    (read ? std::to_string(static_cast<std::int32_t>(run.exitCode))
                          : std::string("unknown (Wine reported ") +
                                std::to_string(WEXITSTATUS(status)) + ")");
  } else if (WIFEXITED(status)) {
    run.exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
    lastExitCode = static_cast<long>(run.exitCode);
    if (run.exitCode != 0)
      toolProblem = toolName + " ended with exit code " + std::to_string(run.exitCode);
  } else {
    // Killed by a signal: a failure like any non-zero code.
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.exitCode = 0x80000000u | static_cast<std::uint32_t>(signal);
    toolProblem = toolName + " was killed by signal " + SignalName(signal);
  }
  if (!invocation.encoder && run.exitCode == 0) {
    // A decoder's WAV replaces the old output byte for byte and is measured
    // at 16,000 bytes a second: anything else is refused as its failure.
    const std::string problem = WavProblem(invocation.args[1]);
    if (!problem.empty()) {
      run.exitCode = kRejectedOutput;
      toolProblem = toolName + " ended with exit code 0, but " + problem;
    }
  }
  if (invocation.encoder) {
    // The encoder's MP3 counts only when it ended well; otherwise the new
    // file goes and an older one stays.
    mp3Written = run.exitCode == 0;
    mp3Failed = !mp3Written;
    if (!mp3Written) mp3_->Discard();
  }
  return run;
}

std::uint32_t PosixPipelinePlatform::ReadExitCode(const lirrow::ToolRun& run) {
  return run.exitCode;  // the process has been reaped: its code is final
}

void PosixPipelinePlatform::CloseToolHandles(lirrow::ToolRun& run) {
  run.process = 0;
  run.thread = 0;
}

void PosixPipelinePlatform::ShowSystemError(std::uint32_t code) {
  if (code == static_cast<std::uint32_t>(lastError_)) {
    ReportSystemError();
    return;
  }
  ++errorsShown;
  if (!CaughtSignal())
    Print(streams_.err, "lirrow-cli: " + std::string(std::strerror(static_cast<int>(code))) + "\n");
}

bool PosixPipelinePlatform::ReportSystemError() {
  if (lastError_ == 0) return true;
  ++errorsShown;
  if (!CaughtSignal())
    Print(streams_.err,
          "lirrow-cli: " + (lastErrorPath_.empty() ? std::string() : lastErrorPath_ + ": ") +
              std::strerror(lastError_) + "\n");
  lastError_ = 0;
  lastErrorPath_.clear();
  return false;
}

void PosixPipelinePlatform::OpenExtractionWindow(const std::wstring& baseText) {
  Print(streams_.err, lirrow::ToUtf8(baseText) + "\n");
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
