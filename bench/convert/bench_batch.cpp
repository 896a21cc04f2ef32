// lirrow-cli convert over a folder of synthetic recordings with the
// stand-in tools: -j 1 against -j (the number of processors) in one run, the
// speed-up, the front end's cost per recording beyond the tools' own time,
// and a re-run over the converted folder (which converts nothing).
//
// Usage: bench_batch [--help] [COUNT] [WORK_DIR]
// (defaults: 100 recordings, a folder under the temporary folder, removed
// at the end). The tools' own time is that of running the stand-in decoder
// on each recording directly.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

extern char** environ;

namespace {

const char kUsage[] =
    "Usage: bench_batch [--help] [COUNT] [WORK_DIR]\n"
    "Converts COUNT (100) synthetic recordings with lirrow-cli and the stand-in\n"
    "tools, with -j 1 and with -j the number of processors, and prints the\n"
    "speed-up, the front end's time per recording beyond the tools' own, and\n"
    "the time of a re-run that finds every output up to date.\n";

// Runs `argv` with its output dropped; its exit code (-1: it did not exit).
int Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (failed || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// `count` framed recordings (kind 3, eight data blocks) in `folder`.
void WriteRecordings(const fs::path& folder, int count) {
  fs::create_directories(folder);
  std::string bytes(512 * 9, '\0');
  bytes[0] = '\x80';
  for (std::size_t i = 512; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
  for (int i = 0; i < count; ++i) {
    std::ofstream(folder / ("memo" + std::to_string(i) + ".rec"), std::ios::binary) << bytes;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const int count = argc > 1 ? std::atoi(argv[1]) : 100;
  if (count < 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const fs::path work =
      argc > 2 ? fs::path(argv[2])
               : fs::temp_directory_path() / ("bench_batch." + std::to_string(getpid()));
  const fs::path memos = work / "memos";
  WriteRecordings(memos, count);
  const std::string cli = LIRROW_CLI, tools = STANDINS_DIR;
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);

  const double toolsOnly = Seconds([&] {
    for (int i = 0; i < count; ++i)
      Run({tools + "/QL8_Dec.exe", (memos / ("memo" + std::to_string(i) + ".rec")).string(),
           (work / "direct.wav").string()});
  });
  auto batch = [&](const std::string& jobs, bool force) {
    std::vector<std::string> args = {cli, "convert", memos.string(), "--tools", tools, "-j", jobs};
    if (force) args.push_back("--force");
    int code = 0;
    const double took = Seconds([&] { code = Run(args); });
    if (code != 0) std::fprintf(stderr, "bench_batch: lirrow-cli exited with %d\n", code);
    return took;
  };
  const double one = batch("1", true);
  const double many = batch(std::to_string(processors), true);
  const double rerun = batch(std::to_string(processors), false);
  fs::remove_all(work);

  std::printf("%d recordings, %ld processors\n", count, processors);
  std::printf("tools alone     %8.3f s\n", toolsOnly);
  std::printf("-j 1            %8.3f s\n", one);
  std::printf("-j %-3ld          %8.3f s  speed-up %.2f (goal %.2f)\n", processors, many,
              one / many, 0.8 * processors);
  std::printf("front end       %8.3f ms a recording beyond the tools (goal under 5)\n",
              (one - toolsOnly) * 1000.0 / count);
  std::printf("re-run          %8.3f s  (every output up to date; goal under 1)\n", rerun);
  return 0;
}
