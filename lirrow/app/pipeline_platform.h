// The system operations of the conversion pipeline: folders, files, tool
// runs behind the progress windows, the extraction window and the system's
// error. The Win32 binding is in pipeline_win32.cpp; lirrow-cli has its
// POSIX binding (lirrow/cli/posix_pipeline_platform.h), and the tests use
// fakes and a binding that runs the native stand-in tools
// (tests/lirrow_pipeline).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording.h"

namespace lirrow {

// The result of a tool run. The two handles belong to the caller, who reads
// the final exit code from the process and closes both (CloseToolHandles).
struct ToolRun {
  bool started = false;
  std::uint32_t exitCode = 0;  // as the progress window recorded it
  std::uintptr_t process = 0;
  std::uintptr_t thread = 0;
};

// A tool run as the pipeline asks for it: a program of the tools folder, its
// options and the two paths it works on. Only the Windows binding makes a
// command line of it (CommandLineOf, pipeline.h); other bindings start the
// program with these arguments.
struct ToolInvocation {
  std::wstring folder;                // StartDirectory
  std::wstring program;               // "Vrn_dec.exe", "QL8_Dec.exe", "QL4_Dec.exe", "sqenc.exe"
  std::vector<std::wstring> options;  // before the paths ("-b", "32" for the encoder)
  std::wstring input;
  std::wstring output;
  bool Encoder() const { return !options.empty(); }
};

// Exit code with which a decoder asks for the conversion to be abandoned.
constexpr std::uint32_t kAbandonExitCode = 262;

class PipelinePlatform {
 public:
  virtual ~PipelinePlatform() = default;

  // The program file's folder, without its trailing backslash.
  virtual std::wstring ProgramDirectory() = 0;
  // The system's temporary folder, ending with a backslash.
  virtual std::wstring TempDirectory() = 0;
  // True when `path` can be opened for reading as an existing file.
  virtual bool FileExists(const std::wstring& path) = 0;
  // Copies `from` to `to`, replacing an existing file. False on failure,
  // with the thread's last error set.
  virtual bool CopyFileReplacing(const std::wstring& from, const std::wstring& to) = 0;
  // What RenameFile did.
  enum class Rename { kRenamed, kAbsent, kFailed };
  // Renames `from` to `to` in the same folder (MoveFile: an existing `to` is
  // never replaced). kAbsent when there is no `from`; kFailed otherwise,
  // with the thread's last error set.
  virtual Rename RenameFile(const std::wstring& from, const std::wstring& to) = 0;
  // Deletes the file. True when it is gone or was never there; false when
  // it stays (read-only, or open in another program without delete
  // sharing), with the thread's last error set.
  virtual bool RemoveFile(const std::wstring& path) = 0;

  // Starts the tool hidden and waits behind the tool progress window
  // showing `baseText`.
  virtual ToolRun RunTool(const ToolInvocation& tool, const std::wstring& baseText) = 0;
  // The exit code as the process reports it now.
  virtual std::uint32_t ReadExitCode(const ToolRun& run) = 0;
  virtual void CloseToolHandles(ToolRun& run) = 0;

  // The thread's last error (GetLastError): why the latest call failed.
  virtual std::uint32_t LastError() = 0;
  // Sets the thread's last error to 0 (SetLastError), so that a later
  // LastError tells only what failed after it.
  virtual void ClearLastError() = 0;

  // The extraction window over the dialog, with its own spinner.
  virtual void OpenExtractionWindow(const std::wstring& baseText) = 0;
  virtual void CloseExtractionWindow() = 0;
  // Takes at most one pending message of the thread, translates and
  // dispatches it.
  virtual void PumpOneMessage() = 0;
};

// The recording and duration operations, from the converter library.
class RecordingFiles {
 public:
  virtual ~RecordingFiles() = default;
  virtual RecordingKind ClassifyRecording(const std::wstring& path) = 0;
  // One of the kExtract... results.
  virtual int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                               ExtractionHooks& hooks) = 0;
  virtual double MeasureDuration(const std::wstring& path) = 0;
};

// RecordingFiles over the converter library (lirrow_convert).
RecordingFiles& LibraryRecordingFiles();

}  // namespace lirrow
