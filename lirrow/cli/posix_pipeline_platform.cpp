#include "posix_pipeline_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli_support.h"
#include "duration.h"
#include "tool_spinner.h"
#include "utf8.h"

namespace lirrow_cli {

std::string WavProblem(const std::string& path) {
  const std::uint32_t rate = lirrow::WavByteRate(Wide(path));
  if (rate == 0) return path + " is not a RIFF WAVE file";
  if (rate != lirrow::kDecoderWavByteRate)
    return path + ": its data rate is " + std::to_string(rate) +
           " bytes per second; lengths are counted at the decoders' 16000";
  return std::string();
}

namespace {

// The exit code recorded for a decoder that ended with 0 but wrote no WAV
// the converter can take.
constexpr std::uint32_t kRejectedOutput = 0xE0000001u;

}  // namespace

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

namespace {

constexpr char kFolderPrefix[] = "lirrow-cli.";
constexpr char kOwnerFile[] = "owner";  // the pid of the run that made the folder

// The pid in the owner file of a private folder; 0 without one.
long OwnerFromFile(const std::string& folder, const std::string&) {
  long owner = 0;
  if (std::FILE* f = std::fopen((folder + "/" + kOwnerFile).c_str(), "rb")) {
    if (std::fscanf(f, "%ld", &owner) != 1) owner = 0;
    std::fclose(f);
  }
  return owner;
}

}  // namespace

std::string CreatePrivateFolder(const std::string& root, int& error) {
  // What killed runs left (a folder without its owner file stays).
  RemoveFoldersOfEndedRuns(root, kFolderPrefix, OwnerFromFile);
  std::string pattern = root + "/" + kFolderPrefix + "XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    error = errno;
    return std::string();
  }
  if (std::FILE* f = std::fopen((pattern + "/" + kOwnerFile).c_str(), "wb")) {
    std::fprintf(f, "%ld\n", static_cast<long>(getpid()));
    std::fclose(f);
  }
  return pattern;
}

namespace {

// In the child between fork and exec (async-signal-safe calls only): hidden
// (the tool's own output does not reach the terminal; its complaints do),
// its own process group, so that it and what it starts can be ended
// together, and killed when lirrow-cli ends, however it ends (SIGKILL
// included). Writes errno to `report` and exits when exec fails.
[[noreturn]] void ExecTool(char* const* args, char* const* envp, const char* directory,
                           pid_t parent, int report) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);  // lirrow-cli ended before the request
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    if (null > STDERR_FILENO) ::close(null);
  }
  if (directory == nullptr || chdir(directory) == 0) execve(args[0], args, envp);
  const int error = errno;
  ssize_t ignored = ::write(report, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

}  // namespace

bool PosixPipelinePlatform::Spawn(const std::vector<std::string>& argv,
                                  const std::string& directory,
                                  const std::vector<std::string>& extraEnv, pid_t& pid) {
  std::vector<std::string> items = argv;
  std::vector<char*> args = NullTerminated(items);
  std::vector<std::string> env = EnvironmentWith(extraEnv);
  std::vector<char*> envp = NullTerminated(env);
  // A pipe closed by a successful exec: what arrives on it is exec's errno.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    SetLastError(errno, argv[0]);
    return false;
  }
  const pid_t parent = getpid();
  pid = fork();
  if (pid == 0) {
    ::close(report[0]);
    ExecTool(args.data(), envp.data(), directory.empty() ? nullptr : directory.c_str(), parent,
             report[1]);
  }
  const int forkError = errno;
  ::close(report[1]);
  int error = pid < 0 ? forkError : 0;
  if (pid > 0) {
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (got != static_cast<ssize_t>(sizeof error)) error = 0;
  }
  ::close(report[0]);
  if (error != 0) {
    if (pid > 0) waitpid(pid, nullptr, 0);
    SetLastError(error, argv[0]);
    return false;
  }
  return true;
}

int PosixPipelinePlatform::Wait(pid_t pid, const std::wstring& baseText) {
  int status = 0;
  long nextFrame = NowMs() + 800;
  long killAt = -1;
  bool ended = false;
  // The tool's end wakes the wait at once (a pidfd); a caught signal ends
  // the poll early. Without pidfds the wait looks every 10 ms.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
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
      Print(streams_.Progress(),
            "\r" + lirrow::ToUtf8(lirrow::ToolProgressSpinner().Advance(baseText)) + "\x1b[K");
      nextFrame += 800;
    }
    if (pidfd >= 0) {
      pollfd end{pidfd, POLLIN, 0};
      poll(&end, 1, 100);
    } else {
      Sleep(10);
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  // What the tool started may outlive it: its group goes with it.
  if (ended) kill(-pid, SIGKILL);
  if (streams_.errIsTerminal) Print(streams_.Progress(), "\n");
  return status;
}

lirrow::ToolRun PosixPipelinePlatform::RunTool(const lirrow::ToolInvocation& invocation,
                                               const std::wstring& baseText) {
  lirrow::ToolRun run;
  lastExitCode = -1;
  toolProblem.clear();
  if (CaughtSignal()) {
    SetLastError(EINTR);
    return run;
  }
  ToolArguments tool;
  tool.name = Bytes(invocation.program);
  tool.encoder = invocation.Encoder();
  for (const std::wstring& option : invocation.options) tool.options.push_back(Bytes(option));
  tool.args = {Bytes(invocation.input), Bytes(invocation.output)};
  std::string program;
  std::vector<std::string> argv;
  bool windows = false;
  if (!Command(tool, program, argv, windows)) return run;
  pid_t pid = 0;
  if (!Spawn(argv, windows ? tempDir_ : std::string(),
             windows ? wine_.extraEnv : std::vector<std::string>(), pid)) {
    if (tool.encoder) {
      mp3Failed = true;
      toolProblem = program + " could not be started: " + std::strerror(lastError_);
    }
    return run;
  }

  const std::string text = lirrow::ToUtf8(baseText);
  Print(streams_.Progress(), streams_.errIsTerminal ? text : text + "\n");
  const int status = Wait(pid, baseText);
  run.started = true;
  run.process = static_cast<std::uintptr_t>(pid);
  RecordEnd(status, windows, tool, program, run);
  return run;
}

bool PosixPipelinePlatform::Command(ToolArguments& tool, std::string& program,
                                    std::vector<std::string>& argv, bool& windows) {
  program = ToolIn(toolsDir_, tool.name.c_str());
  std::vector<std::string> prefix;
  if (tool.encoder) {
    if (program.empty() && lameFallback_) {
      program = FindOnPath("lame");
      prefix = {"--quiet"};
    }
    mp3_ = std::make_unique<PendingOutput>(tool.args[1]);
    mp3Written = false;
    if (!mp3_->Create()) {
      SetLastError(errno, tool.args[1]);
      toolProblem = "cannot create " + tool.args[1] + ": " + std::strerror(errno);
      mp3Failed = true;
      return false;
    }
    tool.args[1] = mp3_->TempPath();
  }
  if (program.empty()) {
    SetLastError(ENOENT, toolsDir_ + "/" + tool.name);
    return false;
  }
  windows = PeMachine(program) != 0;
  if (!windows) {
    argv = {program};
    argv.insert(argv.end(), prefix.begin(), prefix.end());
    argv.insert(argv.end(), tool.options.begin(), tool.options.end());
    argv.insert(argv.end(), tool.args.begin(), tool.args.end());
    return true;
  }
  if (wine_.program.empty() || !PrepareWineRun(wine_, tempDir_, toolsDir_, program, tool, argv)) {
    SetLastError(wine_.program.empty() ? ENOEXEC : EINVAL, program);
    toolProblem = program + " could not be started through Wine";
    if (tool.encoder) mp3Failed = true;
    return false;
  }
  return true;
}

void PosixPipelinePlatform::RecordEnd(int status, bool windows, const ToolArguments& tool,
                                      const std::string& program, lirrow::ToolRun& run) {
  const std::string toolName = NameOf(program);
  long code = -1;
  if (windows && WIFEXITED(status)) {
    // The batch file kept the whole code; the loader's status has 8 bits.
    const bool read = ReadWineExitCode(tempDir_, code);
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
  if (!tool.encoder && run.exitCode == 0) {
    // A decoder's WAV replaces the old output byte for byte and is measured
    // at 16,000 bytes a second: anything else is refused as its failure.
    const std::string problem = WavProblem(tool.args[1]);
    if (!problem.empty()) {
      run.exitCode = kRejectedOutput;
      toolProblem = toolName + " ended with exit code 0, but " + problem;
    }
  }
  if (tool.encoder) {
    // The encoder's MP3 counts only when it ended well; otherwise the new
    // file goes and an older one stays.
    mp3Written = run.exitCode == 0;
    mp3Failed = !mp3Written;
    if (!mp3Written) mp3_->Discard();
  }
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
  Print(streams_.Progress(), lirrow::ToUtf8(baseText) + "\n");
}

}  // namespace lirrow_cli
