// lirrow-cli: the recording converter's command line on Linux.
//
//   lirrow-cli classify FILE
//   lirrow-cli extract FILE OUT
//   lirrow-cli duration FILE
//   lirrow-cli convert FILE [--mp3] [--tools DIR] [--encoder sqenc|lame]
//
// `convert` runs the converter's own pipeline with the decoder and encoder
// programs of DIR (default: $LIRROW_TOOLS, else the folder of lirrow-cli;
// Windows programs there run through Wine), prints the progress texts where
// the program shows its windows, and the message texts on failure. Outputs
// are written under temporary names beside their final ones and renamed at
// the end, so a failure keeps the previous file. Exit codes: 0 success, 1
// failure (with its message), 2 bad usage; SIGINT, SIGTERM and SIGHUP end the
// tool that runs, remove the temporary files and end the program by the same
// signal.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pipeline.h"
#include "pipeline_platform.h"

namespace lirrow_cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A path given as bytes, as the converter's wide path, and back; names that
// are not UTF-8 survive the round trip (lirrow::NameFromBytes).
std::wstring Wide(const std::string& bytes);
std::string Bytes(const std::wstring& path);

// `path` when it names an existing entry; otherwise the entry of its folder
// whose name matches the last component in any letter case (the tools are
// named as on Windows, where names are not case-sensitive); `path` unchanged
// when there is none.
std::string ResolveIgnoringCase(const std::string& path);

// The machine field of a Windows (PE) program file: 0x14C for 32-bit x86,
// 0x8664 for x86-64; 0 when the file is not a PE program.
unsigned PeMachine(const std::string& path);

struct CliStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool errIsTerminal = false;  // spin the progress texts
};

// How the programs of the Windows tools are started: the Wine loader and
// what it can run.
struct WineLoader {
  std::string program;                // empty: no Wine
  std::vector<std::string> extraEnv;  // NAME=VALUE for the loader
  bool runs32 = false, runs64 = false;
};
// $WINE when set; else `wine` from PATH when it starts; else the 64-bit
// loader (`wine64` from PATH or /usr/lib/wine/wine64) when that is all that
// works.
WineLoader FindWine();

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
  struct Invocation {
    std::string name;                  // the tool as the pipeline names it
    std::vector<std::string> options;  // before the paths
    std::vector<std::string> args;     // the input and the output
    bool encoder = false;
  };
  bool Spawn(const std::vector<std::string>& argv, const std::string& directory,
             const std::vector<std::string>& extraEnv, pid_t& pid);
  // Waits for the process group of `pid`; on a caught signal ends it.
  int Wait(pid_t pid, const std::wstring& baseText);
  bool WineCommand(const std::string& program, const Invocation& run,
                   std::vector<std::string>& argv);

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

// The signal (SIGINT, SIGTERM, SIGHUP) caught since the program started, or 0.
int CaughtSignal();

int LirrowCliMain(const std::vector<std::string>& args, CliStreams& streams);

}  // namespace lirrow_cli
