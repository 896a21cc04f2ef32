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

bool FakeHost::Convert(Conversion& conversion, const std::wstring& source) {
  SetPlayerFile(L"");
  result = conversion.ConvertRecording({source, wav, mp3});
  PresentConversion(result, texts, outputPath, totalTime, *this);
  return result.Produced();
}

std::function<void(const std::vector<std::wstring>&)> WritesOutput(std::uintmax_t size) {
  return [size](const std::vector<std::wstring>& items) { WriteSized(Narrow(items.back()), size); };
}

namespace {

constexpr std::uint32_t kShareAll = fakes::kShareRead | fakes::kShareWrite | fakes::kShareDelete;

bool Exists(const std::wstring& path) {
  std::error_code ignored;
  return fs::exists(Narrow(path), ignored);
}

}  // namespace

std::uint32_t ScriptedPlatform::OpenRefusal(const std::wstring& path, fakes::OpenMode mode) const {
  const auto it = fileStates.find(path);
  if (it == fileStates.end()) return 0;
  // A read-only file opens for reading only.
  if (it->second.readOnly && (mode.access & (fakes::kGenericWrite | fakes::kDeleteAccess)))
    return fakes::kErrorAccessDenied;
  for (const fakes::OpenMode& held : it->second.heldOpen)
    if (!fakes::SharingAllows(held, mode)) return fakes::kErrorSharingViolation;
  return 0;
}

std::uint32_t ScriptedPlatform::CreateAlwaysRefusal(const std::wstring& path,
                                                    fakes::OpenMode mode) const {
  // CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL fails with ERROR_ACCESS_DENIED
  // over an existing file that has the hidden (or system) attribute.
  const auto it = fileStates.find(path);
  if (it != fileStates.end() && it->second.hidden && Exists(path)) return fakes::kErrorAccessDenied;
  return OpenRefusal(path, mode);
}

bool ScriptedPlatform::FileExists(const std::wstring& path) {
  existsQueries.push_back(path);
  if (present.count(path) == 0) {
    lastError = 2;  // ERROR_FILE_NOT_FOUND
    return false;
  }
  // A file that another program holds open without FILE_SHARE_READ, or
  // holds open for writing, cannot be opened this way: it is not found.
  if (const std::uint32_t refusal = OpenRefusal(path, {fakes::kGenericRead, fakes::kShareRead})) {
    lastError = refusal;
    return false;
  }
  return true;
}

bool ScriptedPlatform::CopyFileReplacing(const std::wstring& from, const std::wstring& to) {
  log.push_back(L"copy:" + from + L">" + to);
  if (copyFails) {
    lastError = fakes::kErrorAccessDenied;
    return false;
  }
  if (!Exists(from)) {
    lastError = 2;  // ERROR_FILE_NOT_FOUND
    return false;
  }
  // The source is read: other programs' handles on it must share reading.
  std::uint32_t refusal = OpenRefusal(from, {fakes::kGenericRead, kShareAll});
  // An existing destination must not be hidden or read-only, and one that
  // another program holds open must share writing.
  const auto target = fileStates.find(to);
  if (refusal == 0 && target != fileStates.end() && Exists(to)) {
    refusal = fakes::CopyTargetRefusal(target->second.readOnly, target->second.hidden);
    if (refusal == 0) refusal = OpenRefusal(to, {fakes::kGenericWrite, kShareAll});
  }
  if (refusal != 0) {
    lastError = refusal;
    return false;
  }
  // A plain byte copy: std::filesystem's overwriting copy is not reliable
  // in every build of the library.
  WriteBytes(Narrow(to), ReadBytes(Narrow(from)));
  // The copy carries the source's attributes.
  const auto source = fileStates.find(from);
  WindowsFileState& copy = fileStates[to];
  copy.readOnly = source != fileStates.end() && source->second.readOnly;
  copy.hidden = source != fileStates.end() && source->second.hidden;
  return fs::file_size(Narrow(to)) == fs::file_size(Narrow(from));
}

PipelinePlatform::Rename ScriptedPlatform::RenameFile(const std::wstring& from,
                                                      const std::wstring& to) {
  log.push_back(L"rename:" + from + L">" + to);
  if (!Exists(from)) {
    lastError = 2;  // ERROR_FILE_NOT_FOUND
    return Rename::kAbsent;
  }
  // MoveFile never replaces, and needs DELETE access to the file: another
  // program's handle must share deleting. The attributes do not matter.
  std::uint32_t refusal = Exists(to) ? 183 : 0;  // ERROR_ALREADY_EXISTS
  const auto it = fileStates.find(from);
  if (refusal == 0 && it != fileStates.end())
    for (const fakes::OpenMode& held : it->second.heldOpen)
      if (!fakes::SharingAllows(held, {fakes::kDeleteAccess, kShareAll}))
        refusal = fakes::kErrorSharingViolation;
  if (refusal != 0) {
    lastError = refusal;
    return Rename::kFailed;
  }
  fs::rename(Narrow(from), Narrow(to));
  if (it != fileStates.end()) {
    const WindowsFileState state = it->second;
    fileStates.erase(it);
    fileStates[to] = state;
  }
  return Rename::kRenamed;
}

bool ScriptedPlatform::RemoveFile(const std::wstring& path) {
  log.push_back(L"delete:" + path);
  if (!Exists(path)) return true;
  // Beside the attribute rule, DeleteFile fails with ERROR_SHARING_VIOLATION
  // while another program holds the file open without FILE_SHARE_DELETE.
  const auto it = fileStates.find(path);
  std::uint32_t refusal = fakes::DeleteRefusal(it != fileStates.end() && it->second.readOnly);
  if (refusal == 0) refusal = OpenRefusal(path, {fakes::kDeleteAccess, kShareAll});
  if (refusal != 0) {
    lastError = refusal;
    return false;
  }
  std::error_code ignored;
  fs::remove(Narrow(path), ignored);
  fileStates.erase(path);
  return true;
}

std::function<void(const std::vector<std::wstring>&)> CreatesOutput(
    ScriptedPlatform& platform, const std::vector<unsigned char>& bytes) {
  return [&platform, bytes](const std::vector<std::wstring>& items) {
    // The tool's own failure does not touch the pipeline's last error.
    if (platform.CreateAlwaysRefusal(items.back(), {fakes::kGenericWrite, 0}) != 0) return;
    WriteBytes(Narrow(items.back()), bytes);
    platform.fileStates.erase(items.back());  // a new file, normal attributes
  };
}

ToolRun ScriptedPlatform::RunTool(const ToolInvocation& tool, const std::wstring& baseText) {
  const std::wstring commandLine = CommandLineOf(tool);
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
