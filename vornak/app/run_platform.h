// The system calls of a format run that are not disk access: the clock, the
// shell notice, the system format command's process and the files it and the
// start-up files of a bootable disk need.
//
// DialogPlatform extends it with the dialog window; a front end without a
// window implements only this part for the run.
#pragma once

#include <cstdint>
#include <string>

namespace vornak {

// An opaque handle of a started process or of a directory search; 0 is none.
using ProcessHandle = std::uintptr_t;
using FindHandle = std::uintptr_t;

// One entry of a directory search.
struct FindEntry {
  std::string name;
  std::uint32_t attributes = 0;
};

// How a wait for a started process ended.
enum class WaitResult { Exited, TimedOut, Failed };

class RunPlatform {
 public:
  virtual ~RunPlatform() = default;

  // --- Clock and shell ------------------------------------------------------
  virtual void Sleep(std::uint32_t ms) = 0;
  virtual std::uint32_t GetTickCount() = 0;
  // SHChangeNotify(SHCNE_ALLEVENTS, SHCNF_PATHA, path, NULL).
  virtual void NotifyShellChanged(const std::string& path) = 0;

  // --- Processes --------------------------------------------------------------
  // Starts a command line with a hidden window; 0 when it cannot be started.
  // Where the system has job objects, the process and everything it starts
  // run in one job that ends with TerminateProcess or CloseProcess.
  virtual ProcessHandle StartHidden(const std::string& commandLine) = 0;
  // Waits for the process to end, at most `timeoutMs`. A window keeps taking
  // its messages meanwhile (it must not look hung), with the run's controls
  // disabled and its Exit command ignored.
  virtual WaitResult WaitForProcess(ProcessHandle process, std::uint32_t timeoutMs) = 0;
  // Ends the process and whatever it started (its job; the process alone on
  // systems without job objects).
  virtual void TerminateProcess(ProcessHandle process) = 0;
  // Releases the handle; a process tree still running in its job ends.
  virtual void CloseProcess(ProcessHandle process) = 0;

  // --- Files ----------------------------------------------------------------
  virtual std::string GetWindowsDirectoryA() = 0;
  virtual std::string GetModuleFileNameA() = 0;
  // CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING) succeeds
  // (the handle is closed again at once).
  virtual bool CanOpenForReading(const std::string& path) = 0;
  // Creates or truncates the file and writes the bytes as they are.
  virtual bool WriteWholeFile(const std::string& path, const std::string& bytes) = 0;
  virtual bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) = 0;
  virtual bool DeleteFileA(const std::string& path) = 0;
  // FindFirstFileA / FindNextFileA / FindClose. FindFirst returns 0 when
  // nothing is found.
  virtual FindHandle FindFirstFileA(const std::string& pattern, FindEntry& entry) = 0;
  virtual bool FindNextFileA(FindHandle search, FindEntry& entry) = 0;
  virtual void FindClose(FindHandle search) = 0;
};

}  // namespace vornak
