#include "cli_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <time.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "recording.h"
#include "utf8.h"

extern char** environ;

namespace lirrow_cli {

namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void NoteSignal(int signal) { g_signal = signal; }

// True when the file carries the immutable (or append-only) attribute, which
// no rename may replace, not even by root.
bool Immutable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool known = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  ::close(fd);
  return known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

// True for a byte, or a character of a UTF-8 name, that a terminal takes as
// a control: C0, DEL and C1. Other bytes of names that are not UTF-8 (Latin-1
// names from a FAT disk) print as they are.
bool HasControlCharacter(const std::string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F) return true;
    const bool c1 = c == 0xC2 && i + 1 < name.size() &&
                    static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(name[i + 1]) <= 0x9F;
    const bool lone =
        c >= 0x80 && c <= 0x9F && (i == 0 || static_cast<unsigned char>(name[i - 1]) < 0xC0);
    if (c1 || lone) return true;
  }
  return false;
}

}  // namespace

std::string ShownName(const std::string& name, bool terminal) {
  const bool control = HasControlCharacter(name);
  const bool plain = name.find_first_not_of(
                         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                         "/._-+,:@%=") == std::string::npos &&
                     !name.empty();
  if (!control && (!terminal || plain)) return name;
  // As `ls --quoting-style=shell-escape`: printable runs in single quotes,
  // each control character as $'\ooo' (or its letter) between them.
  std::string shown, run;
  auto flush = [&] {
    if (!run.empty()) shown += "'" + run + "'";
    run.clear();
  };
  for (unsigned char c : name) {
    if (c == '\'') {
      run += "'\\''";
    } else if (c < 0x20 || c == 0x7F || (control && c >= 0x80 && c <= 0x9F)) {
      flush();
      const char* letter = c == '\n' ? "n" : c == '\t' ? "t" : c == '\r' ? "r" : nullptr;
      char octal[8];
      std::snprintf(octal, sizeof octal, "%03o", c);
      shown += std::string("$'\\") + (letter ? letter : octal) + "'";
    } else {
      run += static_cast<char>(c);
    }
  }
  flush();
  return shown;
}

void CatchSignals() {
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: waits return early
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

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

bool RegularInput(const std::string& path, std::string& problem, struct stat* info) {
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

bool ReplaceableOutput(const std::string& path, const struct stat& source, std::string& problem) {
  // The output is written beside its final name and renamed over it: its
  // folder must take a new file. (A folder that is not there is reported
  // when the file cannot be created.)
  if (access(DirectoryOf(path).c_str(), W_OK | X_OK) != 0 && errno != ENOENT) {
    problem = "its folder cannot be written: " + std::string(std::strerror(errno));
    return false;
  }
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
  if (Immutable(path)) {
    problem = "it is immutable";
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

void RemoveFoldersOfEndedRuns(const std::string& root, const std::string& prefix,
                              long (*ownerOf)(const std::string& folder, const std::string& name)) {
  DIR* d = opendir(root.c_str());
  if (!d) return;
  std::vector<std::string> ended;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (!StartsWith(name, prefix)) continue;
    const std::string folder = root + "/" + name;
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
    const long owner = ownerOf(folder, name);
    if (owner > 0 && kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH)
      ended.push_back(folder);
  }
  closedir(d);
  for (const std::string& folder : ended) RemoveTree(folder);
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
    // An empty or relative entry names the current folder, or one below
    // it: a program planted beside a recording must not run.
    if (dir.empty() || dir[0] != '/') {
      if (end == std::string::npos) break;
      start = end + 1;
      continue;
    }
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

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> NullTerminated(std::vector<std::string>& items) {
  std::vector<char*> pointers;
  for (std::string& item : items) pointers.push_back(&item[0]);
  pointers.push_back(nullptr);
  return pointers;
}

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

std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::string ToolIn(const std::string& dir, const char* name) {
  const std::string found = ResolveIgnoringCase(dir + "/" + name);
  std::string ignored;
  return RegularInput(found, ignored) ? found : std::string();
}

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

}  // namespace lirrow_cli
