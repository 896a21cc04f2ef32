#include "posix_tools.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>

namespace lirrow::test {

bool PosixToolPlatform::FileExists(const std::wstring& path) {
  // Names are compared ignoring case, as on the converter's own systems.
  std::string p = Narrow(path);
  for (auto& c : p)
    if (c == '\\') c = '/';
  const fs::path wanted(p);
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(wanted.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    const std::string want = wanted.filename().string();
    if (name.size() == want.size() &&
        std::equal(name.begin(), name.end(), want.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      return std::ifstream(entry.path()).good();
  }
  return false;
}

bool PosixToolPlatform::CopyFileReplacing(const std::wstring& from, const std::wstring& to) {
  std::error_code error;
  fs::copy_file(Narrow(from), Narrow(to), fs::copy_options::overwrite_existing, error);
  return !error;
}

PipelinePlatform::Rename PosixToolPlatform::RenameFile(const std::wstring& from,
                                                       const std::wstring& to) {
  std::error_code error;
  if (!fs::exists(Narrow(from), error)) return Rename::kAbsent;
  if (fs::exists(Narrow(to), error)) return Rename::kFailed;
  fs::rename(Narrow(from), Narrow(to), error);
  return error ? Rename::kFailed : Rename::kRenamed;
}

bool PosixToolPlatform::RemoveFile(const std::wstring& path) {
  std::error_code error;
  fs::remove(Narrow(path), error);
  return !error;
}

ToolRun PosixToolPlatform::RunTool(const ToolInvocation& tool, const std::wstring&) {
  commandLines.push_back(CommandLineOf(tool));
  std::vector<std::string> items = {Narrow(tool.folder + L"/" + tool.program)};
  for (const std::wstring& option : tool.options) items.push_back(Narrow(option));
  items.push_back(Narrow(tool.input));
  items.push_back(Narrow(tool.output));
  ToolRun run;
  if (access(items[0].c_str(), X_OK) != 0) return run;
  std::vector<char*> argv;
  for (auto& item : items) argv.push_back(item.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return run;
  if (child == 0) {
    // Hidden, as the tools run on Windows: no output on the test's console.
    if (FILE* null = std::fopen("/dev/null", "w")) {
      dup2(fileno(null), 1);
      dup2(fileno(null), 2);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  // A POSIX exit status keeps only the low 8 bits of the code.
  std::uint32_t code = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status)) : 255u;
  run.started = true;
  run.exitCode = code;
  run.process = nextHandle++;
  run.thread = nextHandle++;
  exitCodes[run.process] = code;
  return run;
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::array<char, 4096> buffer;
    std::size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), got);
    pclose(pipe);
  }
  return out;
}

}  // namespace lirrow::test
