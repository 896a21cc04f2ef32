#include "cli_test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace cli_test {

namespace {

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

ScratchDir::ScratchDir() : ScratchDir(TemporaryFolder()) {}

ScratchDir::ScratchDir(const std::string& base) {
  std::string pattern = base + "/cli-test.XXXXXX";
  if (!mkdtemp(&pattern[0])) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  const std::string command = "rm -rf '" + path_ + "'";
  if (std::system(command.c_str()) != 0) {
  }
}

RunOptions WithInput(const std::string& input) {
  RunOptions options;
  options.input = input;
  return options;
}

RunOptions WithEnvironment(std::vector<std::string> environment) {
  RunOptions options;
  options.environment = std::move(environment);
  return options;
}

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  if (options.outPipeSize > 0) fcntl(out[1], F_SETPIPE_SZ, options.outPipeSize);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    signal(SIGPIPE, SIG_DFL);  // the program gets the disposition a shell gives it
    for (const std::string& e : options.environment) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  if (!options.input.empty() && write(in[1], options.input.data(), options.input.size()) < 0) {
  }
  if (!options.keepInputOpen) close(in[1]);

  RunResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, 60000) <= 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      if (i == 0 && options.onOutput) options.onOutput(pid, result.out);
      if (i == 1 && options.onError) options.onError(pid, result.err);
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (options.keepInputOpen) close(in[1]);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

FakeDisk::FakeDisk(const std::string& program, const std::string& dir,
                   std::vector<std::string> options)
    : mount_(dir + "/fakedisk") {
  if (access("/dev/fuse", R_OK | W_OK) != 0) {
    problem_ = "no /dev/fuse";
    return;
  }
  mkdir(mount_.c_str(), 0755);
  options.insert(options.begin(), {program, mount_});
  pid_ = fork();
  if (pid_ == 0) {
    std::vector<char*> argv;
    for (std::string& o : options) argv.push_back(&o[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // Mounted once the file shows up (at most 5 s).
  for (int i = 0; i < 500 && pid_ > 0; ++i) {
    struct stat st {};
    if (stat(path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      mounted_ = true;
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    usleep(10000);
  }
  problem_ = "fakedisk did not mount " + mount_;
}

FakeDisk::~FakeDisk() {
  if (pid_ <= 0) return;
  RunProgram({"fusermount3", "-u", mount_});
  int status = 0;
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) return;
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  RunProgram({"fusermount3", "-u", "-z", mount_});
}

LoopDevice::LoopDevice(const std::string& file, std::vector<std::string> options) {
  std::vector<std::string> argv = {"losetup", "-f", "--show"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(file);
  const RunResult r = RunProgram(argv);
  if (r.exitCode == 0)
    device_ = r.out.substr(0, r.out.find('\n'));
  else
    problem_ = r.err.empty() ? "losetup failed" : r.err;
}

LoopDevice::~LoopDevice() {
  if (!device_.empty()) RunProgram({"losetup", "-d", device_});
}

int RunUnprivileged(const std::string& dir, const std::function<int()>& check) {
  const uid_t nobody = 65534;
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (geteuid() == 0) {
      if (chmod(dir.c_str(), 0755) != 0 || setgroups(0, nullptr) != 0 || setgid(nobody) != 0 ||
          setuid(nobody) != 0) {
        _exit(126);
      }
    }
    _exit(check() & 0x7F);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 126) {
    return -1;
  }
  return WEXITSTATUS(status);
}

FakeBlockDevice::FakeBlockDevice(const std::string& program, const std::string& dir,
                                 std::vector<std::string> options)
    : disk_(program, dir, std::move(options)) {
  if (disk_.mounted()) loop_.reset(new LoopDevice(disk_.path()));
}

std::string FakeBlockDevice::problem() const {
  if (!disk_.mounted()) return disk_.problem();
  return loop_->device().empty() ? "no loop device: " + loop_->problem() : std::string();
}

namespace {

// An open file of `path` for direct transfers when it is a block device,
// with a 1 MiB aligned buffer.
struct DirectFile {
  int fd = -1;
  unsigned char* buffer = nullptr;
  DirectFile(const std::string& path, int flags) {
    struct stat st {};
    const bool device = stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
    fd = open(path.c_str(), flags | O_CLOEXEC | (device ? O_DIRECT : 0));
    void* p = nullptr;
    if (posix_memalign(&p, 4096, 1 << 20) == 0) buffer = static_cast<unsigned char*>(p);
  }
  ~DirectFile() {
    if (fd >= 0) close(fd);
    std::free(buffer);
  }
};

}  // namespace

bool WritePattern(const std::string& path, std::uint64_t bytes) {
  DirectFile f(path, O_WRONLY);
  if (f.fd < 0 || !f.buffer) return false;
  for (std::uint64_t at = 0; at < bytes; at += 1 << 20) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(1 << 20, bytes - at));
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t x = at + i;
      f.buffer[i] =
          static_cast<unsigned char>(i % 512 < 8 ? (x / 512) >> (8 * (i % 8)) : x * 7 + 3);
    }
    if (pwrite(f.fd, f.buffer, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) return false;
  }
  return fsync(f.fd) == 0;
}

std::uint64_t Digest(const std::string& path, std::uint64_t bytes) {
  DirectFile f(path, O_RDONLY);
  if (f.fd < 0 || !f.buffer) return 0;
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (std::uint64_t at = 0; at < bytes; at += 1 << 20) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(1 << 20, bytes - at));
    if (pread(f.fd, f.buffer, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) return 0;
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, f.buffer + i, 8);
      h = (h ^ word) * 0x100000001B3ull;
    }
  }
  return h;
}

bool HaveProgram(const std::string& name) {
  const std::string command = "command -v " + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::int64_t MtimeNs(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace cli_test
