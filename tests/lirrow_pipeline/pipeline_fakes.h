// Test doubles for the conversion pipeline: a dialog host and a platform
// that records what the pipeline asks for, with tool runs scripted per test.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "file_sharing.h"
#include "pipeline.h"
#include "pipeline_platform.h"

namespace lirrow::test {

namespace fs = std::filesystem;

// Narrow <-> wide for the ASCII paths the tests use.
std::wstring Wide(const std::string& text);
std::string Narrow(const std::wstring& text);

// The items of a command line: double-quoted items lose their quotes,
// others are split at blanks.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

void WriteBytes(const fs::path& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadBytes(const fs::path& path);
// A file of `size` bytes (content irrelevant: only sizes are measured).
void WriteSized(const fs::path& path, std::uintmax_t size);

// A fresh directory under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }
  // The directory as the pipeline sees it, without a trailing separator.
  std::wstring W() const { return Wide(path_.string()); }

 private:
  fs::path path_;
};

// The dialog's side: the pipeline's host, and the view its results are
// shown in.
struct FakeHost final : ConversionHost, ConversionView {
  std::vector<std::wstring>& log;
  TextTable texts;
  std::wstring start;
  bool wav = true;
  bool mp3 = false;
  std::wstring outputPath;
  std::wstring totalTime;
  std::wstring caption;
  std::vector<std::wstring> playerFiles;
  struct Message {
    std::wstring text;
    MessageIcon icon;
  };
  std::vector<Message> messages;
  std::vector<std::uint32_t> shownErrors;  // system errors shown, by code

  FakeHost(std::vector<std::wstring>& eventLog, std::wstring startDirectory);

  void SetCaption(const std::wstring& text) override { caption = text; }
  void SetPlayerFile(const std::wstring& path) override {
    playerFiles.push_back(path);
    log.push_back(L"player:" + path);
  }
  void ShowMessage(const std::wstring& text, MessageIcon icon) override {
    messages.push_back({text, icon});
    log.push_back(L"message:" + text);
  }
  void ShowSystemError(std::uint32_t code) override {
    shownErrors.push_back(code);
    log.push_back(L"system-error");
  }
  void* OwnerWindow() override { return nullptr; }
  unsigned language = 0x0409;
  const TextTable& Texts() override { return texts; }
  unsigned LanguageId() override { return language; }
  const std::wstring& StartDirectory() override { return start; }

  // Converts `source` as the dialog's Start does: the player unloaded, the
  // conversion run, its result shown. True when an output was produced.
  bool Convert(Conversion& conversion, const std::wstring& source);
  ConversionResult result;  // of the latest Convert
};

// What one scripted tool run does.
struct ScriptedRun {
  bool started = true;
  std::uint32_t windowExitCode = 0;   // as the progress window recorded it
  std::uint32_t processExitCode = 0;  // as the process reports it afterwards
  // Runs "inside" the tool with its command-line items.
  std::function<void(const std::vector<std::wstring>&)> effect;
};

// The effect of a decoder that writes `size` bytes to its third item.
std::function<void(const std::vector<std::wstring>&)> WritesOutput(std::uintmax_t size);

// What Windows keeps about one file beyond its bytes: its attributes and the
// handles other programs hold open on it. The real files of the tests stay
// writable; the fake refuses what Windows would refuse. Wine is no judge
// here: it lets CopyFile replace a read-only or hidden file and CREATE_ALWAYS
// open a hidden one (it does refuse deleting a read-only or held file).
struct WindowsFileState {
  bool readOnly = false;                  // FILE_ATTRIBUTE_READONLY
  bool hidden = false;                    // FILE_ATTRIBUTE_HIDDEN
  std::vector<fakes::OpenMode> heldOpen;  // by other processes
};

struct ScriptedPlatform;
// The effect of a tool that creates its last item (CREATE_ALWAYS, normal
// attributes, no sharing) and writes `bytes` into it, or writes nothing
// when Windows refuses the creation.
std::function<void(const std::vector<std::wstring>&)> CreatesOutput(
    ScriptedPlatform& platform, const std::vector<unsigned char>& bytes);

struct ScriptedPlatform final : PipelinePlatform {
  std::vector<std::wstring>& log;
  std::wstring programDirectory;
  std::wstring tempDirectory;
  std::set<std::wstring> present;  // files FileExists reports
  std::vector<std::wstring> existsQueries;
  std::deque<ScriptedRun> runs;  // consumed one per RunTool
  struct Call {
    std::wstring commandLine;
    std::wstring baseText;
  };
  std::vector<Call> calls;
  std::map<std::uintptr_t, std::uint32_t> processExit;
  std::set<std::uintptr_t> openHandles;
  bool copyFails = false;
  int pumps = 0;
  bool extractionOpen = false;
  std::uintptr_t nextHandle = 100;

  explicit ScriptedPlatform(std::vector<std::wstring>& eventLog) : log(eventLog) {}

  std::wstring ProgramDirectory() override { return programDirectory; }
  std::wstring TempDirectory() override { return tempDirectory; }
  // Files by the path the pipeline names them with.
  std::map<std::wstring, WindowsFileState> fileStates;
  // The error with which Windows refuses to open the existing file `path`
  // with `mode` (0: the open succeeds).
  std::uint32_t OpenRefusal(const std::wstring& path, fakes::OpenMode mode) const;
  // As OpenRefusal, for CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL.
  std::uint32_t CreateAlwaysRefusal(const std::wstring& path, fakes::OpenMode mode) const;

  // Opened for reading with FILE_SHARE_READ only.
  bool FileExists(const std::wstring& path) override;
  bool CopyFileReplacing(const std::wstring& from, const std::wstring& to) override;
  Rename RenameFile(const std::wstring& from, const std::wstring& to) override;
  bool RemoveFile(const std::wstring& path) override;
  // Records the run by its Windows command line.
  ToolRun RunTool(const ToolInvocation& tool, const std::wstring& baseText) override;
  std::uint32_t ReadExitCode(const ToolRun& run) override { return processExit.at(run.process); }
  void CloseToolHandles(ToolRun& run) override;
  // The thread's last error as the fake's failing calls leave it (and as
  // a test sets it, for a value left behind by earlier calls).
  std::uint32_t lastError = 0;
  void ClearLastError() override { lastError = 0; }
  std::uint32_t LastError() override { return lastError; }
  void OpenExtractionWindow(const std::wstring& baseText) override {
    extractionOpen = true;
    log.push_back(L"extraction-open:" + baseText);
  }
  void CloseExtractionWindow() override {
    extractionOpen = false;
    log.push_back(L"extraction-close");
  }
  void PumpOneMessage() override { ++pumps; }
};

}  // namespace lirrow::test
