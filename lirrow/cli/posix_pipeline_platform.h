// lirrow-cli's system side of the conversion pipeline: the tools run as
// child processes (Windows programs through Wine), a private temporary
// folder, errno as the system error, and outputs written under temporary
// names and renamed over the old ones only when complete.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_support.h"
#include "pipeline.h"
#include "pipeline_platform.h"
#include "wine_runner.h"

namespace lirrow_cli {

struct CliStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool errIsTerminal = false;     // spin the progress texts
  bool outIsTerminal = false;     // quote names the shell would read otherwise
  std::FILE* progress = nullptr;  // where the progress texts go (nullptr: err)
  std::FILE* Progress() const { return progress ? progress : err; }
};

// An output file written under a temporary name in its own folder and
// renamed over the final name by Commit; the temporary file is removed
// unless committed. A symbolic link at the final name is kept and its
// target replaced.
class PendingOutput {
 public:
  explicit PendingOutput(const std::string& finalPath);
  ~PendingOutput() { Discard(); }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Creates the temporary file (mode 0666 less the umask). False with errno.
  bool Create();
  bool Commit();  // false with errno; the temporary file is then removed
  void Discard();
  const std::string& FinalPath() const { return final_; }
  const std::string& TempPath() const { return temp_; }
  bool Created() const { return !temp_.empty(); }

 private:
  std::string final_;
  std::string temp_;
};

// The pipeline's system side on Linux: the tools of one folder run as child
// processes (Windows programs through Wine), a private temporary folder,
// errno as the system error, and outputs that replace the old ones only when
// they are complete.
class PosixPipelinePlatform : public lirrow::PipelinePlatform {
 public:
  // `toolsDir` stands for the program directory and `tempDir` (which must
  // end with '/') for the system's temporary folder. `source` is the
  // recording being converted.
  PosixPipelinePlatform(std::string toolsDir, std::string tempDir, CliStreams streams);

  void SetSource(const std::wstring& source) { source_ = source; }
  void UseLameWithoutSqenc(bool lame) { lameFallback_ = lame; }
  void SetWine(const WineLoader& wine) { wine_ = wine; }

  std::wstring ProgramDirectory() override { return Wide(toolsDir_); }
  std::wstring TempDirectory() override { return Wide(tempDir_); }
  bool FileExists(const std::wstring& path) override;
  bool CopyFileReplacing(const std::wstring& from, const std::wstring& to) override;
  Rename RenameFile(const std::wstring& from, const std::wstring& to) override;
  bool RemoveFile(const std::wstring& path) override;
  lirrow::ToolRun RunTool(const lirrow::ToolInvocation& tool,
                          const std::wstring& baseText) override;
  std::uint32_t ReadExitCode(const lirrow::ToolRun& run) override;
  void CloseToolHandles(lirrow::ToolRun& run) override;
  std::uint32_t LastError() override { return static_cast<std::uint32_t>(lastError_); }
  void ClearLastError() override { lastError_ = 0; }
  // Prints the last error with the file it concerns; true (and nothing
  // printed) when there is none. The error is then cleared.
  bool ReportSystemError();
  // Prints the error `code`, with its file when it is the last error.
  void ShowSystemError(std::uint32_t code);
  void OpenExtractionWindow(const std::wstring& baseText) override;
  void CloseExtractionWindow() override {}
  void PumpOneMessage() override {}

  // The errno that ReportSystemError shows next (0: none), with the file it
  // concerns.
  void SetLastError(int error, const std::string& path = std::string());
  // The local form of a path the pipeline formed: the backslash it puts
  // between the tools folder and a tool's name becomes a '/'.
  std::string NativePath(const std::wstring& path) const;

  // The MP3 output: written by the encoder under a temporary name; what the
  // pipeline measures and removes under the final name.
  bool IsMp3Output(const std::wstring& path) const;
  std::string Mp3Measured() const;  // the file to measure for the MP3 output
  bool CommitMp3();

  // Messages printed for system errors.
  int errorsShown = 0;
  // Exit code of the last tool that ran (-1: none ran, or it was killed).
  long lastExitCode = -1;
  // How the last failed tool ended ("QL8_Dec.exe ended with exit code 3"),
  // empty when the last tool succeeded.
  std::string toolProblem;
  bool mp3Written = false;  // the encoder succeeded; CommitMp3 puts it in place
  bool mp3Failed = false;   // the encoder failed or was killed

 private:
  bool Spawn(const std::vector<std::string>& argv, const std::string& directory,
             const std::vector<std::string>& extraEnv, pid_t& pid);
  // Waits for the process group of `pid`; on a caught signal ends it.
  int Wait(pid_t pid, const std::wstring& baseText);
  // The program that runs `tool` and its command, with the MP3 output
  // redirected to its temporary name; false (the reason kept) when the tool
  // cannot be started.
  bool Command(ToolArguments& tool, std::string& program, std::vector<std::string>& argv,
               bool& windows);
  // Takes the tool's end from its wait status into `run` and the problem
  // texts.
  void RecordEnd(int status, bool windows, const ToolArguments& tool, const std::string& program,
                 lirrow::ToolRun& run);

  std::string toolsDir_;
  std::string tempDir_;
  CliStreams streams_;
  std::wstring source_;
  bool lameFallback_ = false;
  WineLoader wine_;
  std::unique_ptr<PendingOutput> mp3_;
  int lastError_ = 0;
  std::string lastErrorPath_;
};

// Creates the private temporary folder of one conversion under `root`
// (lirrow-cli.XXXXXX, with the run's pid in it), after removing those that
// killed runs left behind. Empty, with `error` set, when it cannot be made.
std::string CreatePrivateFolder(const std::string& root, int& error);

// Why the converter cannot take the file at `path` as a decoder's WAV (not
// RIFF WAVE, or not at the decoders' data rate), or an empty text when it
// can.
std::string WavProblem(const std::string& path);

}  // namespace lirrow_cli
