#include "pipeline_fakes.h"

#include <fstream>
#include <random>

namespace lirrow::test {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c);
  return out;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> items;
  std::size_t i = 0;
  while (i < commandLine.size()) {
    if (commandLine[i] == L' ') {
      ++i;
    } else if (commandLine[i] == L'"') {
      const auto end = commandLine.find(L'"', i + 1);
      items.push_back(
          commandLine.substr(i + 1, end == std::wstring::npos ? std::wstring::npos : end - i - 1));
      i = end == std::wstring::npos ? commandLine.size() : end + 1;
    } else {
      auto end = commandLine.find(L' ', i);
      if (end == std::wstring::npos) end = commandLine.size();
      items.push_back(commandLine.substr(i, end - i));
      i = end;
    }
  }
  return items;
}

void WriteBytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
}

void WriteSized(const fs::path& path, std::uintmax_t size) {
  { std::ofstream out(path, std::ios::binary | std::ios::trunc); }
  fs::resize_file(path, size);
}

TempDir::TempDir() {
  std::random_device random;
  for (;;) {
    path_ = fs::temp_directory_path() / ("lirrow-pipeline-" + std::to_string(random()));
    if (fs::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

FakeHost::FakeHost(std::vector<std::wstring>& eventLog, std::wstring startDirectory)
    : log(eventLog), texts(EnglishTexts()), start(std::move(startDirectory)) {}

std::function<void(const std::vector<std::wstring>&)> WritesOutput(std::uintmax_t size) {
  return [size](const std::vector<std::wstring>& items) { WriteSized(Narrow(items.back()), size); };
}

bool ScriptedPlatform::CopyFileReplacing(const std::wstring& from, const std::wstring& to) {
  log.push_back(L"copy:" + from + L">" + to);
  if (copyFails) {
    lastError = 5;  // ERROR_ACCESS_DENIED
    return false;
  }
  // A plain byte copy: std::filesystem's overwriting copy is not reliable
  // in every build of the library.
  if (!fs::exists(Narrow(from))) {
    lastError = 2;  // ERROR_FILE_NOT_FOUND
    return false;
  }
  WriteBytes(Narrow(to), ReadBytes(Narrow(from)));
  return fs::file_size(Narrow(to)) == fs::file_size(Narrow(from));
}

void ScriptedPlatform::RemoveFile(const std::wstring& path) {
  log.push_back(L"delete:" + path);
  std::error_code ignored;
  fs::remove(Narrow(path), ignored);
}

ToolRun ScriptedPlatform::RunTool(std::wstring& commandLine, const std::wstring& baseText) {
  calls.push_back({commandLine, baseText});
  log.push_back(L"run:" + baseText);
  ToolRun run;
  if (runs.empty() || !runs.front().started) {  // no such tool
    if (!runs.empty()) runs.pop_front();
    lastError = 2;  // ERROR_FILE_NOT_FOUND
    return run;
  }
  ScriptedRun script = runs.front();
  runs.pop_front();
  if (script.effect) script.effect(SplitCommandLine(commandLine));
  run.started = true;
  run.exitCode = script.windowExitCode;
  run.process = nextHandle++;
  run.thread = nextHandle++;
  processExit[run.process] = script.processExitCode;
  openHandles.insert(run.process);
  openHandles.insert(run.thread);
  return run;
}

void ScriptedPlatform::CloseToolHandles(ToolRun& run) {
  openHandles.erase(run.process);
  openHandles.erase(run.thread);
  log.push_back(L"close-handles");
}

}  // namespace lirrow::test
