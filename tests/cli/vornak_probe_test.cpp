// vornak-cli probe as a user runs it, on real block devices: counterfeit
// disks (a loop device over a fakedisk file that stores 256 MiB of the 1 GiB
// it claims, wrapping or losing the rest) are found and refused by format,
// --size formats what they hold, a genuine loop device is judged genuine in
// every seeded run, and every probe, also one stopped or killed midway and
// then restored, leaves the device byte for byte as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <regex>

#include "cli_test_support.h"
#include "posix_probe.h"

namespace {

using cli_test::RunOptions;
using cli_test::RunProgram;
using cli_test::RunResult;
using cli_test::ScratchDir;

constexpr std::uint64_t kMiB = 1u << 20;

RunResult Vornak(std::vector<std::string> args, const RunOptions& options = {}) {
  args.insert(args.begin(), VORNAK_CLI);
  return RunProgram(args, options);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The usable bytes a probe printed (0 when it printed none).
std::uint64_t Usable(const std::string& out) {
  std::smatch m;
  return std::regex_search(out, m, std::regex("usable: ([0-9]+) bytes")) ? std::stoull(m[1]) : 0;
}

// The recovery file a probe named on standard error.
std::string RecoveryFileOf(const std::string& err) {
  std::smatch m;
  return std::regex_search(err, m, std::regex("--restore (\\S+)\\)")) ? std::string(m[1]) : "";
}

#define NEED_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "loop devices need root"

#ifdef FAKEDISK
const char* const kFakeDisk = FAKEDISK;
#else
const char* const kFakeDisk = nullptr;
#endif
#define NEED_FAKEDISK() \
  if (!kFakeDisk) GTEST_SKIP() << "built without libfuse3 (no fakedisk)"

// A 1 GiB counterfeit holding 256 MiB (fakedisk's `kind` past it): found in
// seconds, its contents kept, refused by format, and formatted by --size
// within what it holds.
void CheckCounterfeit(const std::string& kind) {
  ScratchDir dir;
  cli_test::FakeBlockDevice fake(kFakeDisk, dir.path(),
                                 {"--size", "1G", "--capacity", "256M", kind, "--uncached"});
  if (fake.device().empty()) GTEST_SKIP() << fake.problem();
  // Everything the disk stores lies in its first 256 MiB.
  ASSERT_TRUE(cli_test::WritePattern(fake.device(), 256 * kMiB));
  const std::uint64_t before = cli_test::Digest(fake.device(), 256 * kMiB);

  const double start = Now();
  RunResult r = Vornak({"probe", fake.device(), "--yes"});
  const double seconds = Now() - start;
  EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
  const std::uint64_t usable = Usable(r.out);
  EXPECT_LE(usable, 257 * kMiB) << r.out;
  EXPECT_GE(usable, 255 * kMiB) << r.out;
  EXPECT_LT(seconds, 30.0);
  EXPECT_TRUE(Contains(r.out, kind == "--wrap" ? "the addresses wrap" : "is lost")) << r.out;
  EXPECT_TRUE(Contains(r.out, "cache: direct transfers (O_DIRECT)")) << r.out;
  EXPECT_EQ(cli_test::Digest(fake.device(), 256 * kMiB), before) << "not put back as it was";
  EXPECT_FALSE(cli_test::Exists(RecoveryFileOf(r.err))) << "the recovery file stayed";

  r = Vornak({"format", fake.device(), "--yes"});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_TRUE(Contains(r.err, "it holds only " + std::to_string(usable) + " bytes")) << r.err;
  EXPECT_TRUE(Contains(r.err, "--size " + std::to_string(usable))) << r.err;
  EXPECT_EQ(cli_test::Digest(fake.device(), 256 * kMiB), before) << "written though refused";
  r = Vornak({"format", fake.device(), "--size", "257M", "--yes"});
  EXPECT_EQ(r.exitCode, 3) << "more than it holds: " << r.err;

  r = Vornak({"format", fake.device(), "--size", "256M", "--yes"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string image = dir / "first256.img";
  ASSERT_EQ(RunProgram({"dd", "if=" + fake.device(), "of=" + image, "bs=1M", "count=256",
                        "iflag=direct", "status=none"})
                .exitCode,
            0);
  const RunResult fsck = RunProgram({"fsck.fat", "-n", image});
  EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
  // The layout is the one for 256 MiB: the volume ends within them.
  const std::string boot = cli_test::ReadFile(image).substr(0, 512);
  const auto byte = [&](int at) { return static_cast<std::uint32_t>(boot[at] & 0xFF); };
  const std::uint32_t small = byte(0x13) | byte(0x14) << 8;
  const std::uint32_t total =
      small ? small : byte(0x20) | byte(0x21) << 8 | byte(0x22) << 16 | byte(0x23) << 24;
  EXPECT_GT(total, 250 * 2048u);
  EXPECT_LE(total, 256 * 2048u);
}

TEST(VornakProbe, AWrappingCounterfeitIsFoundRefusedAndFormattedWithinWhatItHolds) {
  NEED_ROOT();
  NEED_FAKEDISK();
  if (!cli_test::HaveProgram("fsck.fat")) GTEST_SKIP() << "dosfstools is needed";
  CheckCounterfeit("--wrap");
}

TEST(VornakProbe, ALosingCounterfeitIsFoundRefusedAndFormattedWithinWhatItHolds) {
  NEED_ROOT();
  NEED_FAKEDISK();
  if (!cli_test::HaveProgram("fsck.fat")) GTEST_SKIP() << "dosfstools is needed";
  CheckCounterfeit("--drop");
}

// A wrap whose period is no power of two (200 MiB of memory in 1 GiB) is
// found too: some sample wraps onto the stamped start of the disk.
TEST(VornakProbe, AWrapOfAnyPeriodIsFound) {
  NEED_ROOT();
  NEED_FAKEDISK();
  ScratchDir dir;
  cli_test::FakeBlockDevice fake(kFakeDisk, dir.path(),
                                 {"--size", "1G", "--capacity", "200M", "--wrap", "--uncached"});
  if (fake.device().empty()) GTEST_SKIP() << fake.problem();
  ASSERT_TRUE(cli_test::WritePattern(fake.device(), 200 * kMiB));
  const std::uint64_t before = cli_test::Digest(fake.device(), 200 * kMiB);
  const RunResult r = Vornak({"probe", fake.device(), "--yes"});
  EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
  EXPECT_EQ(Usable(r.out), 200 * kMiB) << r.out;
  EXPECT_TRUE(Contains(r.out, "the addresses wrap")) << r.out;
  EXPECT_EQ(cli_test::Digest(fake.device(), 200 * kMiB), before) << "not put back as it was";
}

// The probe writes back what it overwrote by itself on Ctrl-C, and after a
// SIGKILL `probe --restore FILE` does it. The disk is slow (0.25 ms a request)
// so that the signals come in the middle of the samples.
TEST(VornakProbe, AProbeStoppedOrKilledMidwayLeavesTheDiskAsItWas) {
  NEED_ROOT();
  NEED_FAKEDISK();
  ScratchDir dir;
  cli_test::FakeBlockDevice fake(kFakeDisk, dir.path(),
                                 {"--size", "64M", "--uncached", "--delay-us", "250"});
  if (fake.device().empty()) GTEST_SKIP() << fake.problem();
  ASSERT_TRUE(cli_test::WritePattern(fake.device(), 64 * kMiB));
  const std::uint64_t before = cli_test::Digest(fake.device(), 64 * kMiB);
  const auto midway = [](int sig) {
    RunOptions options;
    options.onError = [sig](pid_t pid, const std::string& err) {
      static pid_t signalled = 0;
      if (signalled != pid && Contains(err, "--restore ") && Contains(err, "probe: writing")) {
        kill(pid, sig);
        signalled = pid;
      }
    };
    return options;
  };

  RunResult r = Vornak({"probe", fake.device(), "--yes"}, midway(SIGKILL));
  ASSERT_EQ(r.signal, SIGKILL) << r.out << r.err;
  const std::string file = RecoveryFileOf(r.err);
  ASSERT_TRUE(cli_test::Exists(file)) << r.err;
  EXPECT_NE(cli_test::Digest(fake.device(), 64 * kMiB), before) << "killed before any write";
  r = Vornak({"probe", "--restore", file});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(cli_test::Digest(fake.device(), 64 * kMiB), before);
  EXPECT_FALSE(cli_test::Exists(file));

  r = Vornak({"probe", fake.device(), "--yes"}, midway(SIGINT));
  EXPECT_EQ(r.exitCode, 128 + SIGINT) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "the overwritten blocks are written back")) << r.err;
  EXPECT_FALSE(Contains(r.out, "genuine")) << "a stopped probe gives no verdict";
  EXPECT_EQ(cli_test::Digest(fake.device(), 64 * kMiB), before);
  EXPECT_FALSE(cli_test::Exists(RecoveryFileOf(r.err)));

  // Ctrl-C in the probe before a format: the blocks are back, nothing is
  // formatted.
  r = Vornak({"format", fake.device(), "--yes"}, midway(SIGINT));
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "stopped during the capacity probe")) << r.err;
  EXPECT_FALSE(Contains(r.out, "Format Results")) << r.out;
  EXPECT_EQ(cli_test::Digest(fake.device(), 64 * kMiB), before);

  // Its progress lines going to a pipe that closes do not kill it midway.
  const std::string piped = "set -o pipefail; '" + std::string(VORNAK_CLI) + "' probe " +
                            fake.device() + " --yes 2>&1 | head -1";
  r = RunProgram({"bash", "-c", piped});
  EXPECT_EQ(cli_test::Digest(fake.device(), 64 * kMiB), before) << "killed by SIGPIPE midway";
  EXPECT_FALSE(cli_test::Exists(RecoveryFileOf(r.out))) << r.out;

  // --size on a device: whole sectors, no more than it has; refused before
  // the probe.
  for (const std::string size : {"65M", "1000"}) {
    r = Vornak({"format", fake.device(), "--size", size, "--yes"});
    EXPECT_EQ(r.exitCode, 1) << size;
    EXPECT_TRUE(Contains(r.err, "does not fit " + fake.device())) << r.err;
    EXPECT_FALSE(Contains(r.err, "probe:")) << r.err;
  }

  // A genuine device is probed, then formatted.
  r = Vornak({"format", fake.device(), "--yes"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "genuine: ")) << r.out;
  r = Vornak({"format", fake.device(), "--yes", "--no-probe"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(Contains(r.out, "genuine: ")) << r.out;
}

// What the program keeps in its recovery file, kept by the run itself.
struct InMemory : vornak_cli::ProbeJournal {
  bool Keep(const std::vector<vornak_cli::SavedBlock>&) override { return true; }
};

// 100 seeds: the first ten through the program, the others through the
// probe on the same device seam in process (a run of the program also
// flushes its recovery file, which makes it slower, not different).
TEST(VornakProbe, AGenuineLoopDeviceIsGenuineInEverySeededRun) {
  NEED_ROOT();
  // On a tmpfs where there is one: its flushes cost nothing, so the time
  // goes to the probes.
  struct stat shm {};
  ScratchDir dir(stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) ? "/dev/shm" : "/tmp");
  const std::string image = dir / "genuine.img";
  cli_test::WriteFile(image, "");
  ASSERT_EQ(truncate(image.c_str(), 1 << 30), 0);
  cli_test::LoopDevice loop(image);
  if (loop.device().empty()) GTEST_SKIP() << "no loop device: " << loop.problem();
  const std::uint64_t before = cli_test::Digest(image, 1u << 30);
  for (int seed = 1; seed <= 10; ++seed) {
    const RunResult r = Vornak({"probe", loop.device(), "--yes", "--seed", std::to_string(seed)});
    ASSERT_EQ(r.exitCode, 0) << "seed " << seed << ": " << r.out << r.err;
    ASSERT_EQ(Usable(r.out), 1u << 30) << r.out;
    ASSERT_TRUE(Contains(r.out, "seed " + std::to_string(seed) + ")")) << r.out;
  }
  struct stat st {};
  ASSERT_EQ(stat(loop.device().c_str(), &st), 0);
  for (std::uint64_t seed = 11; seed <= 100; ++seed) {
    vornak_cli::PosixProbeDevice device(loop.device(), vornak_cli::IdentityOf(st));
    ASSERT_TRUE(device.Open()) << device.FailureText();
    InMemory journal;
    vornak_cli::ProbeOptions options;
    options.seed = seed;
    options.salt = seed * 0x9E3779B97F4A7C15ull;
    const vornak_cli::ProbeResult r = vornak_cli::ProbeCapacity(device, &journal, options, {});
    ASSERT_EQ(r.verdict, vornak_cli::ProbeVerdict::Genuine) << "seed " << seed << ": " << r.failure;
    ASSERT_TRUE(r.restored);
  }
  EXPECT_EQ(cli_test::Digest(image, 1u << 30), before) << "a probe left its stamps";
}

// An image file: its cached pages are dropped instead of a device's
// buffers; --destructive leaves the stamps and makes no recovery file.
TEST(VornakProbe, AnImageFileIsProbedWithItsPagesDroppedAndDestructiveKeepsTheStamps) {
  ScratchDir dir;
  const std::string image = dir / "disk.img";
  cli_test::WriteFile(image, "");
  ASSERT_EQ(truncate(image.c_str(), 8 << 20), 0);
  ASSERT_TRUE(cli_test::WritePattern(image, 8 * kMiB));
  const std::string before = cli_test::ReadFile(image);
  RunResult r = Vornak({"probe", image});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "usable: 8388608 bytes (8.00 MiB), 16384 sectors (all of it)"))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "posix_fadvise DONTNEED")) << r.out;
  EXPECT_TRUE(cli_test::ReadFile(image) == before);

  r = Vornak({"probe", image, "--destructive", "--seed", "5"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(RecoveryFileOf(r.err).empty()) << r.err;
  const std::string stamped = cli_test::ReadFile(image);
  EXPECT_EQ(stamped.size(), before.size());
  EXPECT_FALSE(stamped == before) << "no stamps were written";
  EXPECT_EQ(stamped.compare(0, 8, "VRNKPROB"), 0) << "sector 0 holds no stamp";
}

// A recovery file is written only to the file it was made for, and only
// when it is whole.
TEST(VornakProbe, RestoreRefusesAnotherTargetAndADamagedFile) {
  ScratchDir dir;
  const std::string image = dir / "disk.img";
  cli_test::WriteFile(image, std::string(1 << 20, 'a'));
  struct stat st {};
  ASSERT_EQ(stat(image.c_str(), &st), 0);
  vornak_cli::RecoveryFile recovery;
  std::string error;
  // Made for a relative name, restored from another folder.
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const bool made = recovery.Create("disk.img", vornak_cli::IdentityOf(st), 1 << 20, error);
  ASSERT_EQ(chdir("/"), 0);
  ASSERT_TRUE(made) << error;
  vornak_cli::SavedBlock block;
  block.sector = 8;
  block.bytes.assign(4096, 'o');
  ASSERT_TRUE(recovery.Keep({block, block}));
  const std::string file = recovery.path();
  const std::string saved = cli_test::ReadFile(file);

  std::string damaged = saved;
  damaged[damaged.size() - 5000] ^= 1;  // inside the first record
  cli_test::WriteFile(file, damaged);
  RunResult r = Vornak({"probe", "--restore", file});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "is damaged")) << r.err;

  // The same name, another file.
  cli_test::WriteFile(file, saved);
  ASSERT_EQ(rename(image.c_str(), (dir / "old.img").c_str()), 0);
  cli_test::WriteFile(image, std::string(1 << 20, 'a'));
  r = Vornak({"probe", "--restore", file});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.err, "is no longer the file that was probed")) << r.err;
  EXPECT_EQ(cli_test::ReadFile(image), std::string(1 << 20, 'a'));

  // The file it was made for, with a record cut short at the end.
  ASSERT_EQ(rename((dir / "old.img").c_str(), image.c_str()), 0);
  cli_test::WriteFile(file, saved.substr(0, saved.size() - 100));
  r = Vornak({"probe", "--restore", file});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "cut short")) << r.out;
  const std::string now = cli_test::ReadFile(image);
  EXPECT_EQ(now.substr(4096, 4096), std::string(4096, 'o'));
  EXPECT_FALSE(cli_test::Exists(file));
}

}  // namespace
