// Throughput of the Low surface passes over an image file, side by side with
// badblocks -w -t 0xff and dd on the same file.
//
// usage: bench_surface [FILE] [SIZE_MIB] [FLUSHED_MIB]
//        bench_surface --loop [SIZE_MIB] [IMAGE] [RUNS]
//   --loop       attaches an image file (default /tmp/vornak-loop.img, 256 MiB)
//                to a free loop device and runs, RUNS times each (default 5;
//                medians), both passes over the device through vornak-cli's
//                disk seam with the dialog's 16 KiB requests and with the
//                front end's stamped, retried requests of 256 KiB, 1 MiB and
//                4 MiB; dd bs=1M oflag=direct then iflag=direct; badblocks
//                -w -t 0xff -b 512 -c 32; and, where vornak-cli has a probe
//                command, the probe on that device and on a 1 GiB fakedisk
//                that holds 256 MiB (attached as a loop device).
//   FILE         image file to use (created; default /tmp/vornak-surface.img)
//   SIZE_MIB     size of the file and of every run (default 1024)
//   FLUSHED_MIB  size of the run with a flush after every write (default SIZE_MIB;
//                each flush is an fdatasync, which can be slow on some disks)
//
// badblocks reads and writes with O_DIRECT; the passes go through the page
// cache like the volume handle does, so a second figure adds one fdatasync at
// the end of the write pass, which makes it comparable with dd and badblocks.
//
// The passes run through the real DiskAccess NT path: 16 KiB chunks, one
// FlushFileBuffers after every write. Each run is measured twice: once with
// that flush as an fdatasync and once with it stubbed out, so the cost of
// everything else is visible on its own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "disk_access.h"
#include "fat_layout.h"
#include "format_ui.h"
#include "posix_file_platform.h"
#if BENCH_WITH_CLI
#include "posix_disk_platform.h"
#endif
#include "surface_pass.h"
#include "system_area.h"

namespace {

using Clock = std::chrono::steady_clock;

class NullDiskUi : public vornak::DiskUi {
 public:
  int MessageBoxA(const char*, const char*, std::uint32_t) override { return 1; }
};

class CountingUi : public vornak::FormatUi {
 public:
  int MessageBoxA(const char* text, const char*, std::uint32_t) override {
    std::fprintf(stderr, "message box: %s\n", text);
    return 1;
  }
  void PumpOneMessage() override { ++pumps; }
  void ShowPassProgress(const vornak::PassProgress& p) override { last = p; }
  bool IsRunning() override { return true; }
  long long pumps = 0;
  vornak::PassProgress last;
};

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Seconds the command took, -1 when its exit status was not `expected`.
double TimeCommand(const std::string& command, int expected = 0) {
  const auto t0 = Clock::now();
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  const auto t1 = Clock::now();
  if (!WIFEXITED(rc) || WEXITSTATUS(rc) != expected) {
    std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    return -1;
  }
  return Seconds(t0, t1);
}

// The median of the runs, -1 when one failed.
double Median(std::vector<double> v) {
  if (v.empty() || *std::min_element(v.begin(), v.end()) < 0) return -1;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The system area of a new volume of `layout`: no label, no old bad clusters.
std::vector<std::uint8_t> FreshSystemArea(const vornak::FatLayout& layout, vornak::FormatUi& ui,
                                          const vornak::FatTexts& texts) {
  std::vector<std::uint8_t> image(vornak::SystemAreaBytes(layout));
  bool quick = false;
  std::string label;
  std::uint32_t bad = 0;
  vornak::BuildSystemArea(image.data(), static_cast<std::uint32_t>(image.size()), layout,
                          {quick, label, bad}, nullptr, ui, texts);
  return image;
}

struct PassTimes {
  double write = -1, verify = -1;
  double durable = -1;  // the write pass plus one fdatasync of the file at its end
  long long flushes = 0;
  double sync = 0;  // of the write pass: the fdatasync when its handle closes
};

PassTimes RunPasses(const std::string& file, std::uint32_t mib, bool flush) {
  PassTimes t;
  vornak::bench::PosixFilePlatform platform(file, flush);
  NullDiskUi diskUi;
  const std::string lockText = "Lock volume error!";
  vornak::DiskAccess disk(platform, diskUi, "Windows2K", lockText);
  const std::uint32_t size = mib >= 4096 ? 0xFFFFFFFFu : mib << 20;
  vornak::FatLayout layout;
  vornak::ChooseLayout(size, layout);
  if (layout.kind == vornak::LayoutKind::Unsupported) {
    std::fprintf(stderr, "no layout for %u MiB\n", mib);
    return t;
  }
  CountingUi ui;
  vornak::FatTexts texts;
  std::vector<std::uint8_t> image = FreshSystemArea(layout, ui, texts);
  const std::uint32_t a = vornak::SystemAreaSectors(layout);
  const std::uint32_t b = (size >> 9) - a;
  vornak::BadClusterList list;
  std::uint32_t badBytes = 0;

  auto t0 = Clock::now();
  bool ok = vornak::SurfacePass(disk, ui, texts, layout, "E:", a, b, image.data(),
                                vornak::PassMode::Write, {list, badBytes});
  auto t1 = Clock::now();
  if (!ok) {
    std::fprintf(stderr, "write pass failed\n");
    return t;
  }
  t.write = Seconds(t0, t1);
  t.flushes = platform.Flushes();
  {
    const int fd = ::open(file.c_str(), O_RDWR);
    if (fd >= 0) {
      ::fdatasync(fd);
      ::close(fd);
    }
    t.durable = Seconds(t0, Clock::now());
  }
  t0 = Clock::now();
  ok = vornak::SurfacePass(disk, ui, texts, layout, "E:", a, b, image.data(),
                           vornak::PassMode::Verify, {list, badBytes});
  t1 = Clock::now();
  if (!ok || !list.empty()) {
    std::fprintf(stderr, "verify pass failed (%zu bad clusters)\n", list.size());
    return t;
  }
  t.verify = Seconds(t0, t1);
  return t;
}

#if BENCH_WITH_CLI
// Both passes over a block device through the front end's disk seam.
PassTimes RunDevicePasses(const std::string& device, std::uint32_t mib,
                          const vornak::SurfaceOptions& options) {
  PassTimes t;
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) return t;
  vornak_cli::PosixDiskPlatform platform(device, true, vornak_cli::IdentityOf(st));
  long long syncs = 0;
  double syncSeconds = 0;
  platform.syncFile = [&](int fd) {
    ++syncs;
    const auto t0 = Clock::now();
    const int rc = ::fdatasync(fd);
    syncSeconds += Seconds(t0, Clock::now());
    return rc;
  };
  NullDiskUi diskUi;
  const std::string lockText = "Lock volume error!";
  vornak::DiskAccess disk(platform, diskUi, "Windows2K", lockText);
  const std::uint32_t size = mib << 20;
  vornak::FatLayout layout;
  vornak::ChooseLayout(size, layout);
  CountingUi ui;
  vornak::FatTexts texts;
  std::vector<std::uint8_t> image = FreshSystemArea(layout, ui, texts);
  const std::uint32_t a = vornak::SystemAreaSectors(layout);
  const std::uint32_t b = (size >> 9) - a;
  vornak::BadClusterList list;
  std::uint32_t badBytes = 0;
  auto t0 = Clock::now();
  vornak::SurfaceFindings findings;
  if (!vornak::SurfacePass(disk, ui, texts, layout, "E:", a, b, image.data(),
                           vornak::PassMode::Write, {list, badBytes, &findings}, options) ||
      platform.WritesLost()) {
    std::fprintf(stderr, "write pass failed: %s\n", platform.FailureText().c_str());
    return t;
  }
  t.write = Seconds(t0, Clock::now());
  t0 = Clock::now();
  if (!vornak::SurfacePass(disk, ui, texts, layout, "E:", a, b, image.data(),
                           vornak::PassMode::Verify, {list, badBytes, &findings}, options) ||
      !list.empty()) {
    std::fprintf(stderr, "verify pass failed\n");
    return t;
  }
  t.verify = Seconds(t0, Clock::now());
  t.flushes = syncs;
  t.sync = syncSeconds;
  return t;
}
#endif

void Line(const char* what, double mib, double seconds) {
  if (seconds <= 0) {
    std::printf("  %-44s  failed\n", what);
    return;
  }
  std::printf("  %-44s %8.2f s %9.1f MB/s\n", what, seconds, mib * 1.048576 / seconds);
}

}  // namespace

#if BENCH_WITH_CLI
namespace {

std::string Attach(const std::string& file) {
  std::string device;
  if (FILE* p = popen(("losetup -f --show '" + file + "'").c_str(), "r")) {
    char line[256] = {0};
    if (std::fgets(line, sizeof line, p)) device = line;
    pclose(p);
  }
  while (!device.empty() && (device.back() == '\n' || device.back() == ' ')) device.pop_back();
  return device;
}

vornak::SurfaceOptions FrontEndPasses(std::uint32_t chunkSectors) {
  vornak::SurfaceOptions o;
  o.chunkSectors = chunkSectors;
  o.retrySmaller = true;
  o.stamped = true;
  o.salt = 0x0123456789ABCDEFull;
  return o;
}

// The runs of one way of making the passes.
struct PassSamples {
  PassSamples(const char* w, const vornak::SurfaceOptions& o) : what(w), options(o) {}
  const char* what;
  vornak::SurfaceOptions options;
  std::vector<double> writes, syncs, verifies, both, unsynced;

  void Add(const PassTimes& t) {
    const bool ok = t.write > 0 && t.verify > 0;
    writes.push_back(t.write);
    syncs.push_back(t.sync);
    verifies.push_back(t.verify);
    both.push_back(ok ? t.write + t.verify : -1);
    unsynced.push_back(ok ? t.write - t.sync + t.verify : -1);
  }
  void Print(std::uint32_t mib) const {
    std::printf("  %s\n", what);
    Line("    write pass", mib, Median(writes));
    std::printf("      of which the flush at its end     %8.2f s\n", Median(syncs));
    Line("    verify pass", mib, Median(verifies));
    Line("    both passes", mib * 2.0, Median(both));
    Line("    both passes without the flush", mib * 2.0, Median(unsynced));
  }
};

// The probe of vornak-cli on the genuine device and on a counterfeit one;
// skipped where this vornak-cli has no probe command.
void ProbeBench(const std::string& device, int runs) {
#if defined(VORNAK_CLI_PATH) && defined(FAKEDISK_PATH)
  const std::string cli = VORNAK_CLI_PATH;
  if (std::system(("'" + cli + "' probe --help >/dev/null 2>&1").c_str()) != 0) {
    std::printf("probe: skipped (%s has no probe command)\n", cli.c_str());
    return;
  }
  // Loop devices are not flagged removable: --yes lets the probe at them.
  const auto probe = [&](const std::string& target, int seed) {
    return "'" + cli + "' probe " + target + " --yes --seed " + std::to_string(seed);
  };
  std::vector<double> genuine;
  for (int i = 0; i < runs; ++i) genuine.push_back(TimeCommand(probe(device, i)));
  std::printf("probe (median of %d)\n", runs);
  std::printf("  %-44s %8.2f s\n", "genuine loop device (exit 0)", Median(genuine));

  for (const char* variant : {"--wrap", "--drop"}) {
    char dir[] = "/tmp/vornak-probe-XXXXXX";
    if (!mkdtemp(dir)) return;
    const pid_t pid = fork();
    if (pid == 0) {
      execl(FAKEDISK_PATH, "fakedisk", dir, "--size", "1G", "--capacity", "256M", variant,
            "--uncached", static_cast<char*>(nullptr));
      _exit(127);
    }
    const std::string disk = std::string(dir) + "/disk";
    struct stat st {};
    for (int i = 0; i < 500 && stat(disk.c_str(), &st) != 0; ++i) usleep(10000);
    const std::string fake = stat(disk.c_str(), &st) == 0 ? Attach(disk) : std::string();
    const std::string name =
        std::string("1 GiB fakedisk holding 256 MiB, ") + (variant + 2) + " (exit 3)";
    if (fake.empty()) {
      std::printf("  %s: skipped (fakedisk --uncached did not mount)\n", name.c_str());
    } else {
      std::vector<double> counterfeit;
      for (int i = 0; i < runs; ++i) counterfeit.push_back(TimeCommand(probe(fake, i), 3));
      std::printf("  %-44s %8.2f s\n", name.c_str(), Median(counterfeit));
      TimeCommand("losetup -d " + fake);
    }
    TimeCommand(std::string("fusermount3 -u ") + dir);
    int status = 0;
    waitpid(pid, &status, 0);
    rmdir(dir);
  }
#else
  (void)device;
  (void)runs;
  std::printf("probe: skipped (built without vornak-cli or fakedisk)\n");
#endif
}

}  // namespace

int LoopBench(std::uint32_t mib, const std::string& image, int runs) {
  std::remove(image.c_str());
  // The whole file is written first, so that neither run pays for allocating it.
  if (TimeCommand("dd if=/dev/zero of='" + image + "' bs=1M count=" + std::to_string(mib) +
                  " conv=fdatasync") < 0)
    return 1;
  const std::string device = Attach(image);
  if (device.empty()) {
    std::fprintf(stderr, "no loop device could be attached\n");
    std::remove(image.c_str());
    return 1;
  }
  std::printf("surface passes over %s (loop device of %s), %u MiB, medians of %d runs\n",
              device.c_str(), image.c_str(), mib, runs);
  // The runs of every case take turns, so that a change in the machine's
  // load falls on all of them alike.
  std::vector<PassSamples> passes = {
      {"the dialog's passes: 16 KiB requests of 0xFF", vornak::SurfaceOptions()},
      {"stamped, retried, 256 KiB requests", FrontEndPasses(512)},
      {"stamped, retried, 1 MiB requests (vornak-cli)", FrontEndPasses(2048)},
      {"stamped, retried, 4 MiB requests", FrontEndPasses(8192)}};
  const std::string count = std::to_string(mib);
  std::vector<double> ddWrite, ddSynced, ddRead, ddBoth, bb;
  for (int i = 0; i < runs; ++i) {
    for (PassSamples& p : passes) p.Add(RunDevicePasses(device, mib, p.options));
    ddSynced.push_back(TimeCommand("dd if=/dev/zero of=" + device + " bs=1M count=" + count +
                                   " oflag=direct conv=fdatasync"));
    ddWrite.push_back(
        TimeCommand("dd if=/dev/zero of=" + device + " bs=1M count=" + count + " oflag=direct"));
    ddRead.push_back(
        TimeCommand("dd if=" + device + " of=/dev/null bs=1M count=" + count + " iflag=direct"));
    ddBoth.push_back(ddWrite.back() > 0 && ddRead.back() > 0 ? ddWrite.back() + ddRead.back() : -1);
    bb.push_back(TimeCommand("badblocks -w -t 0xff -b 512 -c 32 " + device + " " +
                             std::to_string(mib * 2048)));
  }
  for (const PassSamples& p : passes) p.Print(mib);
  const PassSamples& ours = passes[2];
  std::printf("  dd bs=1M, direct\n");
  Line("    oflag=direct conv=fdatasync", mib, Median(ddSynced));
  Line("    oflag=direct", mib, Median(ddWrite));
  Line("    iflag=direct", mib, Median(ddRead));
  Line("    both", mib * 2.0, Median(ddBoth));
  Line("  badblocks -w -t 0xff -b 512 -c 32 (both)", mib * 2.0, Median(bb));
  const double dd = Median(ddBoth), badblocks = Median(bb);
  const double ddSyncedPair =
      Median(ddSynced) > 0 && Median(ddRead) > 0 ? Median(ddSynced) + Median(ddRead) : -1;
  const auto ratio = [](const char* what, double theirs, double mine) {
    if (theirs > 0 && mine > 0) std::printf("  %-58s %5.2f\n", what, theirs / mine);
  };
  std::printf("speed of the 1 MiB passes against (goals: dd pair 0.8, badblocks 3)\n");
  ratio("the dd pair, neither flushed", dd, Median(ours.unsynced));
  ratio("the dd pair, its write with conv=fdatasync; passes flushed", ddSyncedPair,
        Median(ours.both));
  ratio("badblocks; passes flushed", badblocks, Median(ours.both));
  ratio("badblocks; passes without the flush", badblocks, Median(ours.unsynced));
  ProbeBench(device, runs);
  TimeCommand("losetup -d " + device);
  std::remove(image.c_str());
  return 0;
}
#endif

namespace {
const char kUsage[] =
    "usage: bench_surface [FILE] [SIZE_MIB] [FLUSHED_MIB]\n"
    "       bench_surface --loop [SIZE_MIB] [IMAGE] [RUNS]\n"
    "  FILE         image file to use (created; default /tmp/vornak-surface.img)\n"
    "  SIZE_MIB     size of the file and of every run (default 1024)\n"
    "  FLUSHED_MIB  size of the run with a flush after every write (default SIZE_MIB)\n"
    "  --loop       both passes over a loop device on IMAGE (default\n"
    "               /tmp/vornak-loop.img, 256 MiB) with 16 KiB, 256 KiB, 1 MiB\n"
    "               and 4 MiB requests, then dd, badblocks and the probe on it,\n"
    "               RUNS times each (default 5; medians)\n";
}  // namespace

int main(int argc, char** argv) {
  // An option is never taken for a file name: FILE is created and written.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!a.empty() && a[0] == '-' && !(i == 1 && a == "--loop")) {
      std::fprintf(stderr, "bench_surface: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (argc > 1 && std::string(argv[1]) == "--loop") {
#if BENCH_WITH_CLI
    const std::uint32_t mib = argc > 2 ? static_cast<std::uint32_t>(std::atoi(argv[2])) : 256;
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    return LoopBench(mib, argc > 3 ? argv[3] : "/tmp/vornak-loop.img", runs);
#else
    std::fprintf(stderr, "built without vornak-cli's disk seam\n");
    return 2;
#endif
  }
  const std::string file = argc > 1 ? argv[1] : "/tmp/vornak-surface.img";
  const std::uint32_t mib = argc > 2 ? static_cast<std::uint32_t>(std::atoi(argv[2])) : 1024;
  const std::uint32_t flushedMib = argc > 3 ? static_cast<std::uint32_t>(std::atoi(argv[3])) : mib;
  const std::string quoted = "'" + file + "'";
  std::printf("surface passes over %s, %u MiB (flushed run: %u MiB)\n", file.c_str(), mib,
              flushedMib);

  // dd creates the file: one sequential write of the whole size.
  std::remove(file.c_str());
  const double dd = TimeCommand("dd if=/dev/zero of=" + quoted +
                                " bs=16384 count=" + std::to_string(mib * 64) + " conv=fdatasync");
  Line("dd bs=16k (one fdatasync at the end)", mib, dd);

  const PassTimes plain = RunPasses(file, mib, false);
  Line("write pass, flush stubbed", mib, plain.write);
  Line("  the same + one fdatasync at the end", mib, plain.durable);
  Line("verify pass", mib, plain.verify);

  // badblocks: one 0xFF write pass and one read-back pass, 16 KiB at a time
  // like the passes (-b 512 -c 32).
  const double bb =
      TimeCommand("badblocks -w -t 0xff -b 512 -c 32 " + quoted + " " + std::to_string(mib * 2048));
  Line("badblocks -w -t 0xff -b 512 -c 32 (both)", mib * 2.0, bb);

  PassTimes flushed;
  if (flushedMib > 0) {
    // The flushed run covers the first FLUSHED_MIB of the same file.
    flushed = RunPasses(file, flushedMib, true);
    Line("write pass, fdatasync after every write", flushedMib, flushed.write);
    Line("verify pass (after the flushed write)", flushedMib, flushed.verify);
  }
  std::remove(file.c_str());

  std::printf("ratios\n");
  if (plain.write > 0 && plain.verify > 0 && bb > 0) {
    const double ours = mib * 2.0 / (plain.write + plain.verify);
    const double theirs = mib * 2.0 / bb;
    std::printf("  passes (flush stubbed) / badblocks: %.2f (goal >= 0.70)\n", ours / theirs);
  }
  if (plain.durable > 0 && plain.verify > 0 && bb > 0) {
    std::printf("  passes (stubbed, synced once) / badblocks: %.2f\n",
                bb / (plain.durable + plain.verify));
  }
  if (plain.durable > 0 && dd > 0)
    std::printf("  write pass (stubbed, synced once) / dd: %.2f\n", dd / plain.durable);
  if (flushed.write > 0 && plain.write > 0)
    std::printf("  flushed / stubbed write throughput: %.3f (%lld flushes)\n",
                (flushedMib / flushed.write) / (mib / plain.write), flushed.flushes);
  return 0;
}
