// The format run's front end on a terminal: the confirmation is asked on
// standard error and answered from standard input (or by --yes), the run's
// notices and the engines' messages are printed, the Low passes' progress
// becomes a bar drawn from the pass's numbers with the speed and the time
// left (one status line per percent and a speed line at the end when the
// output is not a terminal), the report goes to standard output, and Ctrl-C
// acts as a confirmed Stop.
//
// The start-up files of a bootable disk come from the --sys folder and are
// copied into the volume with mtools; the system format command of Windows
// 2000/XP has no Linux counterpart and is not run.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "format_run.h"
#include "texts.h"

namespace vornak_cli {

// Set by the SIGINT, SIGTERM and SIGHUP handler; the next pumped message
// turns it into Stop, and it ends the wait for an answer.
extern volatile std::sig_atomic_t g_interrupted;
// Installs (true) or removes (false) the handler that sets it.
void CatchInterrupt(bool on);

// The regular file `name` in `folder`, found whatever the case of its
// letters (an exact match first); "" when there is none.
std::string FindInFolder(const std::string& folder, const std::string& name);

// Whether a file name can be a file of the volume as the system copies it:
// none of : * ? " < > | \ or control characters, and no device name such as
// CON or LPT1 before its first dot.
bool IsVolumeFileName(const std::string& name);

struct TerminalOptions {
  std::string target;        // the device or image file, named in the captions
  bool assumeYes = false;    // answer Yes to the confirmation
  bool progressBar = false;  // the output is a terminal
  std::string sysDir;        // folder of the start-up files (--sys)
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // Milliseconds of a monotonic clock (CLOCK_MONOTONIC when empty).
  std::function<std::uint64_t()> clockMs;
};

// How the front end runs the Low passes: 1 MiB transfers, every data-area
// sector stamped with its number and a salt new for each run, so that a disk
// answering for a sector with another one's data is caught. On a block
// device a failed transfer is tried again in pieces down to the single
// sector, so that only the bad sectors' clusters are marked; on an image
// file a failure is the file system's, and ends the pass.
vornak::SurfaceOptions LowPassOptions(bool blockDevice);

// Eight random bytes for a salt or a seed (from /dev/urandom, else from the
// clock and the process id).
std::uint64_t RandomWord();

// The line printed after a Low run's report: how many sectors read back
// another sector's data ("" when the verify pass found none and did not
// cover the disk).
std::string MisplacedLine(const vornak::FormatOutcome& outcome);

// Converts a results report in the language's code page (GBK, Big5 or
// ASCII) to UTF-8; the text unchanged when it cannot be converted.
std::string ReportToUtf8(const std::string& text, std::uint16_t languageId);

class TerminalFormatUi : public vornak::FormatCallbacks, public vornak::RunPlatform {
 public:
  TerminalFormatUi(TerminalOptions options, std::uint16_t languageId);

  // --- FormatCallbacks --------------------------------------------------------
  // The engines' own boxes ("Invalid volume label!", "Lock volume error!"):
  // printed on standard error; answered OK.
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;
  // Turns a pending Ctrl-C into Stop.
  void PumpOneMessage() override;
  void ShowPassProgress(const vornak::PassProgress& progress) override;
  bool IsRunning() override { return running_; }
  bool Confirm(const vornak::FormatRequest& request) override;
  void RunBegins() override { running_ = true; }
  void PassesBegin() override {}
  void CopyingBootFiles(bool copying) override;
  void Notice(vornak::FormatNotice kind, std::uint32_t systemError,
              const std::string& path) override;
  // The Windows 98 re-plug request cannot be met here: cancelled.
  std::string AwaitReplug() override;
  void ShowReport(const std::string& drive, const vornak::FormatResults& results) override;
  // Nothing tells a Linux process of a disk change; the run still checks the
  // target before every write.
  bool DeviceChangeNoted() override { return false; }
  // The --sys folder, sorted by name; a file is found whatever the case of
  // its name, as Windows finds it.
  bool ListBootFiles(std::vector<std::string>& names) override;
  bool CopyBootFile(const std::string& name, const std::string& drive) override;
  vornak::RunPlatform& Platform() override { return *this; }

  // --- RunPlatform --------------------------------------------------------------
  // The waits of the run give Windows time to settle after raw writes; here
  // the writes are on the device when their calls return, so nothing waits.
  void Sleep(std::uint32_t) override {}
  std::uint32_t GetTickCount() override;
  void NotifyShellChanged(const std::string&) override {}
  // No program is started and no Windows file is reached: the run's only
  // process is the system format command, which is not run here, and the
  // start-up files come through ListBootFiles and CopyBootFile.
  vornak::ProcessHandle StartHidden(const std::string&) override { return 0; }
  vornak::WaitResult WaitForProcess(vornak::ProcessHandle, std::uint32_t) override {
    return vornak::WaitResult::Failed;
  }
  void TerminateProcess(vornak::ProcessHandle) override {}
  void CloseProcess(vornak::ProcessHandle) override {}
  std::string GetWindowsDirectoryA() override { return std::string(); }
  std::string GetModuleFileNameA() override { return std::string(); }
  bool CanOpenForReading(const std::string&) override { return false; }
  bool WriteWholeFile(const std::string&, const std::string&) override { return false; }
  bool CopyFileA(const std::string&, const std::string&, bool) override { return false; }
  bool DeleteFileA(const std::string&) override { return false; }
  vornak::FindHandle FindFirstFileA(const std::string&, vornak::FindEntry&) override { return 0; }
  bool FindNextFileA(vornak::FindHandle, vornak::FindEntry&) override { return false; }
  void FindClose(vornak::FindHandle) override {}

  // The texts of the formatter's own messages (the built-in English ones).
  const vornak::FormatterTexts& Texts() const { return texts_; }
  // Where the front end's own remarks go (standard error).
  std::FILE* Err() const { return options_.err; }

 private:
  std::string AreaText(const vornak::PassProgress& progress) const;
  std::uint64_t NowMs() const;
  // "  42.1 MB/s   0:07 left" from the data area's start to `p`, blanks of
  // the same width while too little has moved to tell.
  std::string RateText(const vornak::PassProgress& p, std::uint64_t now) const;
  // "64.0 MiB in 0.52 s, 129.1 MB/s": the data area just covered.
  std::string AreaSummary(const vornak::PassProgress& end, std::uint64_t now) const;
  void DrawBar(const vornak::PassProgress& p, std::uint64_t now);
  void EndProgressLine();
  bool AskYesNo(const std::string& question);
  void Line(std::FILE* f, const std::string& text);

  TerminalOptions options_;
  std::uint16_t languageId_;
  vornak::FormatterTexts texts_;
  vornak::FatTexts fatTexts_;
  bool running_ = false;
  std::string copyFailure_;  // why the last start-up file was not copied
  // "Format fail!" has been printed: a run that fails twice (a pass, then
  // the rewrite after it on a disk that is gone) says it once, and the
  // command names the cause after the run.
  bool formatFailShown_ = false;
  // Progress line state.
  bool barOpen_ = false;
  int lastArea_ = -1;  // write and data-area bits of the last progress shown
  std::uint32_t lastPercent_ = 1000;
  std::uint64_t lastDrawMs_ = 0;
  // Where and when the current area began, for its speed.
  std::uint64_t areaStartMs_ = 0;
  std::uint32_t areaStartSector_ = 0;
};

// The program `name` in the absolute folders of PATH, "" when none has it
// (an empty or relative entry would find a program planted in the current
// folder).
std::string FindOnPath(const std::string& name);

// Copies a local file into the root directory of the FAT volume on `target`
// under `name` (mcopy of mtools); false, with the reason in `reason`, when
// it could not be copied.
bool CopyIntoVolume(const std::string& target, const std::string& source, const std::string& name,
                    std::string& reason);

}  // namespace vornak_cli
