// Throughput of the Low surface passes over an image file, side by side with
// badblocks -w -t 0xff and dd on the same file.
//
// usage: bench_surface [FILE] [SIZE_MIB] [FLUSHED_MIB]
//        bench_surface --loop [SIZE_MIB] [IMAGE]
//   --loop       attaches an image file (default /tmp/vornak-loop.img, 256 MiB)
//                to a free loop device, runs both passes over the device
//                through vornak-cli's disk seam (direct writes, one flush per
//                pass), then badblocks -w -t 0xff on the same device.
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

double TimeCommand(const std::string& command) {
  const auto t0 = Clock::now();
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  const auto t1 = Clock::now();
  if (rc != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    return -1;
  }
  return Seconds(t0, t1);
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
PassTimes RunDevicePasses(const std::string& device, std::uint32_t mib) {
  PassTimes t;
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) return t;
  vornak_cli::PosixDiskPlatform platform(device, true, vornak_cli::IdentityOf(st));
  long long syncs = 0;
  platform.syncFile = [&](int fd) {
    ++syncs;
    return ::fdatasync(fd);
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
  if (!vornak::SurfacePass(disk, ui, texts, layout, "E:", a, b, image.data(),
                           vornak::PassMode::Write, {list, badBytes}) ||
      platform.WritesLost()) {
    std::fprintf(stderr, "write pass failed: %s\n", platform.FailureText().c_str());
    return t;
  }
  t.write = Seconds(t0, Clock::now());
  t0 = Clock::now();
  if (!vornak::SurfacePass(disk, ui, texts, layout, "E:", a, b, image.data(),
                           vornak::PassMode::Verify, {list, badBytes}) ||
      !list.empty()) {
    std::fprintf(stderr, "verify pass failed\n");
    return t;
  }
  t.verify = Seconds(t0, Clock::now());
  t.flushes = syncs;
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
int LoopBench(std::uint32_t mib, const std::string& image) {
  std::remove(image.c_str());
  // The whole file is written first, so that neither run pays for allocating it.
  if (TimeCommand("dd if=/dev/zero of='" + image + "' bs=1M count=" + std::to_string(mib) +
                  " conv=fdatasync") < 0)
    return 1;
  std::string device;
  if (FILE* p = popen(("losetup -f --show '" + image + "'").c_str(), "r")) {
    char line[256] = {0};
    if (std::fgets(line, sizeof line, p)) device = line;
    pclose(p);
  }
  while (!device.empty() && (device.back() == '\n' || device.back() == ' ')) device.pop_back();
  if (device.empty()) {
    std::fprintf(stderr, "no loop device could be attached\n");
    std::remove(image.c_str());
    return 1;
  }
  std::printf("surface passes over %s (loop device of %s), %u MiB\n", device.c_str(), image.c_str(),
              mib);
  const PassTimes ours = RunDevicePasses(device, mib);
  Line("write pass (direct, one flush)", mib, ours.write);
  Line("verify pass", mib, ours.verify);
  Line("both passes", mib * 2.0, ours.write > 0 && ours.verify > 0 ? ours.write + ours.verify : -1);
  std::printf("  flushes: %lld\n", ours.flushes);
  const double bb =
      TimeCommand("badblocks -w -t 0xff -b 512 -c 32 " + device + " " + std::to_string(mib * 2048));
  Line("badblocks -w -t 0xff -b 512 -c 32 (both)", mib * 2.0, bb);
  TimeCommand("losetup -d " + device);
  std::remove(image.c_str());
  if (ours.write > 0 && ours.verify > 0 && bb > 0)
    std::printf("ratio passes / badblocks: %.2f (goal >= 0.80)\n", bb / (ours.write + ours.verify));
  return 0;
}
#endif

namespace {
const char kUsage[] =
    "usage: bench_surface [FILE] [SIZE_MIB] [FLUSHED_MIB]\n"
    "       bench_surface --loop [SIZE_MIB] [IMAGE]\n"
    "  FILE         image file to use (created; default /tmp/vornak-surface.img)\n"
    "  SIZE_MIB     size of the file and of every run (default 1024)\n"
    "  FLUSHED_MIB  size of the run with a flush after every write (default SIZE_MIB)\n"
    "  --loop       both passes over a loop device on IMAGE (default\n"
    "               /tmp/vornak-loop.img, 256 MiB), then badblocks on it\n";
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
    return LoopBench(mib, argc > 3 ? argv[3] : "/tmp/vornak-loop.img");
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
