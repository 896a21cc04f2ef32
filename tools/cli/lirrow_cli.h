// lirrow-cli: the recording converter's command line on Linux.
//
//   lirrow-cli classify FILE
//   lirrow-cli extract FILE OUT
//   lirrow-cli duration FILE
//   lirrow-cli convert FILE [--mp3] [--tools DIR]
//
// `convert` runs the converter's own pipeline with the decoder and encoder
// programs of DIR (default: the recording's folder), prints the progress
// texts where the program shows its windows, and the message texts on
// failure. Exit codes: 0 success, 1 failure (with its message), 2 bad usage.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pipeline.h"
#include "pipeline_platform.h"

namespace lirrow_cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// `path` when it names an existing entry; otherwise the entry of its folder
// whose name matches the last component in any letter case (the tools are
// named as on Windows, where names are not case-sensitive); `path` unchanged
// when there is none.
std::string ResolveIgnoringCase(const std::string& path);

// The items of a Windows-style command line: blank-separated words, a
// double-quoted item taken whole without its quotes.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

struct CliStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool errIsTerminal = false;  // spin the progress texts
};

// The pipeline's system side on Linux: the tools of one folder run as child
// processes, a private temporary folder, errno as the system error.
class PosixPipelinePlatform : public lirrow::PipelinePlatform {
 public:
  // `toolsDir` stands for the program directory and `tempDir` (which must
  // end with '/') for the system's temporary folder.
  PosixPipelinePlatform(std::string toolsDir, std::string tempDir, CliStreams streams);

  std::wstring ProgramDirectory() override { return FromUtf8(toolsDir_); }
  std::wstring TempDirectory() override { return FromUtf8(tempDir_); }
  bool FileExists(const std::wstring& path) override;
  bool CopyFileReplacing(const std::wstring& from, const std::wstring& to) override;
  void RemoveFile(const std::wstring& path) override;
  lirrow::ToolRun RunTool(std::wstring& commandLine, const std::wstring& baseText) override;
  std::uint32_t ReadExitCode(const lirrow::ToolRun& run) override;
  void CloseToolHandles(lirrow::ToolRun& run) override;
  bool ReportSystemError() override;
  void ClearLastError() override { lastError_ = 0; }
  void OpenExtractionWindow(const std::wstring& baseText) override;
  void CloseExtractionWindow() override {}
  void PumpOneMessage() override {}

  // The errno that ReportSystemError shows next (0: none).
  void SetLastError(int error) { lastError_ = error; }
  // Messages printed for system errors.
  int errorsShown = 0;
  // Exit code of the last tool that ran (-1: none ran, or it was killed).
  long lastExitCode = -1;

  // The local form of a path the pipeline formed: the backslash it puts
  // between the tools folder and a tool's name becomes a '/'.
  std::string NativePath(const std::wstring& path) const;

 private:
  std::string toolsDir_;
  std::string tempDir_;
  CliStreams streams_;
  int lastError_ = 0;
};

int LirrowCliMain(const std::vector<std::string>& args, CliStreams& streams);

}  // namespace lirrow_cli
