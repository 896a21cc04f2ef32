// A pipeline platform that really runs native programs: the stand-in
// decoders built by this project and, as the encoder, lame.
#pragma once

#include "pipeline_fakes.h"

namespace lirrow::test {

// Runs the tools with fork/exec and waits for them; the tools folder is a
// POSIX folder here.
struct PosixToolPlatform final : PipelinePlatform {
  std::wstring programDirectory;
  std::wstring tempDirectory;
  std::vector<std::wstring> commandLines;
  std::map<std::uintptr_t, std::uint32_t> exitCodes;
  std::uintptr_t nextHandle = 1;

  std::wstring ProgramDirectory() override { return programDirectory; }
  std::wstring TempDirectory() override { return tempDirectory; }
  bool FileExists(const std::wstring& path) override;
  bool CopyFileReplacing(const std::wstring& from, const std::wstring& to) override;
  Rename RenameFile(const std::wstring& from, const std::wstring& to) override;
  bool RemoveFile(const std::wstring& path) override;
  ToolRun RunTool(const ToolInvocation& tool, const std::wstring& baseText) override;
  std::uint32_t ReadExitCode(const ToolRun& run) override { return exitCodes.at(run.process); }
  void CloseToolHandles(ToolRun& run) override { run.process = run.thread = 0; }
  // No system call here leaves an error to show.
  std::uint32_t LastError() override { return 0; }
  void ClearLastError() override {}
  void OpenExtractionWindow(const std::wstring&) override {}
  void CloseExtractionWindow() override {}
  void PumpOneMessage() override {}
};

// Output of a shell command (its standard output), for independent checkers.
std::string CommandOutput(const std::string& command);

}  // namespace lirrow::test
