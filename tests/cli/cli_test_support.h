// Shared pieces of the command-line tests: a scratch folder per test, and
// running a program with its input, output and exit status captured.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cli_test {

// A new empty folder under the temporary folder, removed with its content.
class ScratchDir {
 public:
  ScratchDir();
  // Under `base` instead (a tmpfs such as /dev/shm, for fast flushes).
  explicit ScratchDir(const std::string& base);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct RunResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  int signal = 0;     // the signal that ended it, if one did
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string input;                     // written to standard input, then closed
  std::vector<std::string> environment;  // NAME=VALUE added to the environment
  // Called with the child's pid and each chunk of standard output as it
  // arrives (for signalling the child in the middle of a run).
  std::function<void(pid_t, const std::string& outSoFar)> onOutput;
  // The same for standard error.
  std::function<void(pid_t, const std::string& errSoFar)> onError;
  // Capacity of the standard-output pipe (0: the system's default).
  int outPipeSize = 0;
  // Standard input stays open (after `input`) until the program ends, as a
  // terminal would.
  bool keepInputOpen = false;
};

RunOptions WithInput(const std::string& input);
RunOptions WithEnvironment(std::vector<std::string> environment);

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
std::uint64_t FileSize(const std::string& path);
// The modification time of `path` in nanoseconds since 1970 (-1: none).
std::int64_t MtimeNs(const std::string& path);
// True when the program is found on PATH.
bool HaveProgram(const std::string& name);

// A FUSE-mounted file "disk" of the fakedisk tool (tools/fakedisk): a disk
// that fails its flushes or holds less than it claims. Mounted under `dir`
// by the constructor, unmounted by the destructor.
class FakeDisk {
 public:
  // `options` as fakedisk takes them ("--size", "64M", "--fail-sync", ...).
  FakeDisk(const std::string& program, const std::string& dir, std::vector<std::string> options);
  ~FakeDisk();
  FakeDisk(const FakeDisk&) = delete;
  FakeDisk& operator=(const FakeDisk&) = delete;
  // False, with the reason in `problem`, when it could not be mounted.
  bool mounted() const { return mounted_; }
  const std::string& problem() const { return problem_; }
  std::string path() const { return mount_ + "/disk"; }

 private:
  std::string mount_;
  std::string problem_;
  pid_t pid_ = -1;
  bool mounted_ = false;
};

// A loop device attached to `file` (with losetup's `options`, such as "-o",
// "1048576" or "-r") by the constructor, detached by the destructor.
class LoopDevice {
 public:
  LoopDevice(const std::string& file, std::vector<std::string> options = {});
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  // "" when it could not be attached, with losetup's reason in `problem`.
  const std::string& device() const { return device_; }
  const std::string& problem() const { return problem_; }

 private:
  std::string device_;
  std::string problem_;
};

// A block device over a fakedisk file: a loop device attached to a FakeDisk
// mounted with `options`. "" from device(), with the reason in problem(),
// when either could not be made.
class FakeBlockDevice {
 public:
  FakeBlockDevice(const std::string& program, const std::string& dir,
                  std::vector<std::string> options);
  const std::string& device() const { return loop_ ? loop_->device() : none_; }
  std::string problem() const;

 private:
  FakeDisk disk_;
  std::unique_ptr<LoopDevice> loop_;  // destroyed before the disk is unmounted
  std::string none_;
};

// Writes a pattern that no two sectors share over the first `bytes` of
// `path`, and reads a digest of them (O_DIRECT on a block device, so that no
// cache answers). False, or 0, on an I/O failure. `bytes` is a multiple of
// 8.
bool WritePattern(const std::string& path, std::uint64_t bytes);
std::uint64_t Digest(const std::string& path, std::uint64_t bytes);

// Runs `check` in a child process that is not root (as root, the child
// becomes the user nobody, with `dir` opened to it): root writes read-only
// files, so a refusal by permission is only seen without root's rights.
// The child's result (0-125), or -1 when the child could not drop root.
int RunUnprivileged(const std::string& dir, const std::function<int()>& check);

}  // namespace cli_test
