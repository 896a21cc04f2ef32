// Throughput of the bitstream extraction against cp of the same file, and
// of MeasureDuration against mpg123's own length scan of the same MP3.
//
// Usage: bench_convert [WORK_DIR] [EXTRACT_MB] [MP3_MB]
// (defaults: a folder under the temporary folder, 200, 100). Needs cp, dd,
// sox, lame and mpg123 on the PATH. Each figure is the best of three runs on a
// warm page cache; the work folder is removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "duration.h"
#include "recording.h"

namespace fs = std::filesystem;

namespace {

// CPU seconds (user + system) of this process and of its waited-for children.
double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

// Best wall-clock and best CPU time of `times` runs. The machine may be
// shared; CPU time is the steadier figure then.
struct Timing {
  double wall = 1e30;
  double cpu = 1e30;
  void Keep(const Timing& other) {
    wall = std::min(wall, other.wall);
    cpu = std::min(cpu, other.cpu);
  }
};

Timing Best(const std::function<void()>& run, int times = 3) {
  Timing best;
  for (int i = 0; i < times; ++i) {
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best.Keep(Timing{took.count(), CpuSeconds() - cpuStart});
  }
  return best;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

void MustRun(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "bench_convert: failed: %s\n", command.c_str());
    std::exit(1);
  }
}

std::string Capture(const std::string& command) {
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  pclose(pipe);
  return out;
}

// A framed recording of `megabytes` MB: the kind byte, the header block and
// data blocks of varying bytes.
void MakeRecording(const fs::path& path, unsigned char kind, size_t megabytes) {
  std::vector<char> block(512);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  block[0] = static_cast<char>(kind);
  out.write(block.data(), 512);
  const size_t blocks = megabytes * 1000000 / 512;
  for (size_t b = 0; b < blocks; ++b) {
    for (size_t i = 0; i < 512; ++i) block[i] = static_cast<char>(b * 13 + i);
    out.write(block.data(), 512);
  }
}

// mpg123's total length after its index scan: the "+[H:]MM:SS.xx" that
// follows the elapsed "00:00.00" in its status line.
double Mpg123Seconds(const std::string& output) {
  const size_t elapsed = output.find("00:00.00+");
  if (elapsed == std::string::npos) return -1;
  double total = 0;
  const char* p = output.c_str() + elapsed + 9;
  for (;;) {
    char* end = nullptr;
    const double part = std::strtod(p, &end);
    if (end == p) return -1;
    total = total * 60 + part;
    if (*end != ':') break;
    p = end + 1;
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  // An option is never taken for the work folder, which is made and removed.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.empty() || a[0] != '-') continue;
    const bool help = a == "--help" || a == "-h";
    std::fprintf(help ? stdout : stderr,
                 "%susage: bench_convert [WORK_DIR] [EXTRACT_MB] [MP3_MB]\n"
                 "(defaults: a folder under the temporary folder, 200, 100)\n",
                 help ? "" : ("bench_convert: unknown option " + a + "\n").c_str());
    return help ? 0 : 2;
  }
  const fs::path work =
      argc > 1 ? fs::path(argv[1])
               : fs::temp_directory_path() / ("lirrow-bench-" + std::to_string(getpid()));
  const size_t extractMb = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 200;
  const size_t mp3Mb = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100;
  fs::create_directories(work);

  std::printf("%-34s %8s %11s %11s %7s %7s %11s\n", "extraction (best of 3)", "MB", "extract", "cp",
              "ratio", "cpu", "dd bs=64K");
  struct CountingHooks : lirrow::ExtractionHooks {
    unsigned long pumps = 0;
    void OnPump() override { ++pumps; }
  };
  for (const unsigned char kind : {0x80, 0x41}) {
    const fs::path source = work / "recording.rec";
    const fs::path copy = work / "copy.rec";
    const fs::path stream = work / "temp.sbs";
    MakeRecording(source, kind, extractMb);
    const double mb = static_cast<double>(fs::file_size(source)) / 1e6;
    lirrow::ExtractionHooks quiet;
    CountingHooks counting;
    for (lirrow::ExtractionHooks* hooks :
         {&quiet, static_cast<lirrow::ExtractionHooks*>(&counting)}) {
      int result = 0;
      auto extract = [&] {
        fs::remove(stream);
        result = lirrow::ExtractBitstream(source.wstring(), stream.wstring(), *hooks);
      };
      auto cp = [&] {
        fs::remove(copy);
        MustRun("cp " + Quote(source) + " " + Quote(copy));
      };
      // A copy through user space, for scale: cp may copy inside the
      // kernel (copy_file_range) without the data passing through it.
      auto dd = [&] {
        fs::remove(copy);
        MustRun("dd status=none bs=64K if=" + Quote(source) + " of=" + Quote(copy));
      };
      // Alternated, so that all see the same cache state.
      Timing ours = Best(extract);
      const Timing theirs = Best(cp);
      ours.Keep(Best(extract));
      const Timing userCopy = Best(dd, 2);
      if (result != 0) {
        std::fprintf(stderr, "bench_convert: extraction failed with %d\n", result);
        return 1;
      }
      std::string what = kind == 0x80 ? "10-byte frames (0x80)" : "22-byte frames (0x41)";
      what += hooks == &quiet ? ", no-op hooks" : ", counting hook";
      std::printf("%-34s %8.1f %6.0f MB/s %6.0f MB/s %7.2f %7.2f %6.0f MB/s\n", what.c_str(), mb,
                  mb / ours.wall, mb / theirs.wall, theirs.wall / ours.wall, theirs.cpu / ours.cpu,
                  mb / userCopy.wall);
    }
    fs::remove(source);
    fs::remove(copy);
    fs::remove(stream);
  }
  std::printf(
      "(ratio: extraction throughput / cp throughput by wall clock; cpu: the same by CPU time)\n");

  // An MP3 of about mp3Mb MB: one minute from lame, repeated.
  const fs::path wav = work / "minute.wav";
  const fs::path minute = work / "minute.mp3";
  const fs::path mp3 = work / "long.mp3";
  MustRun("sox -n -r 44100 -c 1 -b 16 " + Quote(wav) + " synth 60 sine 300-3000 vol 0.5");
  MustRun("lame --silent -t --cbr -b 128 " + Quote(wav) + " " + Quote(minute));
  {
    std::ifstream in(minute, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(mp3, std::ios::binary | std::ios::trunc);
    while (static_cast<size_t>(out.tellp()) < mp3Mb * 1000000)
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const double mb = static_cast<double>(fs::file_size(mp3)) / 1e6;
  double ours = 0, theirs = 0;
  const Timing measure = Best([&] { ours = lirrow::MeasureDuration(mp3.wstring()); });
  const std::string command = "mpg123 -i -t -n 1 -v " + Quote(mp3) + " 2>&1";
  const Timing scan = Best([&] { theirs = Mpg123Seconds(Capture(command)); });
  std::printf("\n%-34s %8s %11s %11s %7s %7s\n", "duration of an MP3 (best of 3)", "MB", "ours",
              "mpg123 -i", "speedup", "cpu");
  std::printf("%-34s %8.1f %9.3f s %9.3f s %7.1f %7.1f\n", "MPEG-1 Layer III 128 kbit/s", mb,
              measure.wall, scan.wall, scan.wall / measure.wall, scan.cpu / measure.cpu);
  std::printf("%-34s %8s %9.2f s %9.2f s\n", "length found", "", ours, theirs);

  fs::remove_all(work);
  return 0;
}
