#include "wine_runner.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli_support.h"

namespace lirrow_cli {

namespace {

// Links in the private folder to the tools folder and the MP3's folder.
constexpr const char* kToolsLink = "tools";
constexpr const char* kOutputLink = "out";

}  // namespace

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

bool PrepareWineRun(const WineLoader& wine, const std::string& privateDir,
                    const std::string& toolsDir, const std::string& program,
                    const ToolArguments& run, std::vector<std::string>& argv) {
  // The tool runs under cmd from a batch file in the private folder, which
  // records its exit code whole (the loader's own status keeps 8 bits, and
  // 262 is the decoders' abandon code). Every name the batch file holds is
  // plain ASCII and relative to the private folder: links there lead to the
  // tools folder, the recording and the MP3's folder.
  const std::string dir = privateDir.substr(0, privateDir.size() - 1);
  auto link = [&](const std::string& name, const std::string& target) {
    const std::string at = dir + "/" + name;
    unlink(at.c_str());
    return symlink(Absolute(target).c_str(), at.c_str()) == 0;
  };
  auto windowsName = [&](const std::string& path) -> std::string {
    if (StartsWith(path, privateDir)) return path.substr(privateDir.size());
    return "";
  };
  if (!link(kToolsLink, toolsDir)) return false;
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
  argv = {wine.program, "cmd.exe", "/c", "run.bat"};
  return true;
}

bool ReadWineExitCode(const std::string& privateDir, long& code) {
  std::FILE* f = std::fopen((privateDir + "exitcode.txt").c_str(), "rb");
  if (!f) return false;
  bool read = false;
  char line[32] = {};
  if (std::fgets(line, sizeof line, f)) {
    char* end = nullptr;
    code = std::strtol(line, &end, 10);
    read = end != line;
  }
  std::fclose(f);
  return read;
}

}  // namespace lirrow_cli
