// The formatter's window seam on a terminal: the dialog's questions are asked
// on standard input (or answered by --yes), its message boxes are printed,
// the Low passes' progress becomes a bar drawn from the pass's numbers (the
// dialog's status lines, one per percent, when the output is not a
// terminal), and Ctrl-C acts as a confirmed Stop.
//
// The controls keep their state here as a window would, so that the dialog's
// data exchange reads back what it wrote. The only files the run reaches
// here are the start-up files of a bootable disk; the system format command
// of Windows 2000/XP has no Linux counterpart and is not run.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "dialog_platform.h"
#include "startup_platform.h"

namespace vornak {
class FormatterDialog;
}

namespace vornak_cli {

// Set by the SIGINT, SIGTERM and SIGHUP handler; the next pumped message
// turns it into Stop, and it ends the wait for an answer.
extern volatile std::sig_atomic_t g_interrupted;
// Installs (true) or removes (false) the handler that sets it.
void CatchInterrupt(bool on);

// The regular file `name` in `folder`, found whatever the case of its
// letters (an exact match first); "" when there is none.
std::string FindInFolder(const std::string& folder, const std::string& name);

struct TerminalOptions {
  std::string target;        // shown in place of the drive string in captions
  bool assumeYes = false;    // answer Yes to the confirmation
  bool progressBar = false;  // the output is a terminal
  std::string sysDir;        // folder of the start-up files (--sys)
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// The folder the dialog takes for its own program file, and the start-up
// files folder beside it, which stands for TerminalOptions::sysDir.
constexpr const char* kProgramPath = "C:\\vornak\\vornak.exe";
constexpr const char* kSysPrefix = "C:\\vornak\\sys\\";
constexpr const char* kWindowsDirectory = "C:\\WINDOWS";

// Converts a results report in the language's code page (GBK, Big5 or
// ASCII) to UTF-8; the text unchanged when it cannot be converted.
std::string ReportToUtf8(const std::string& text, std::uint16_t languageId);

class TerminalFormatUi : public vornak::DialogPlatform, public vornak::StartupPlatform {
 public:
  TerminalFormatUi(TerminalOptions options, std::uint16_t languageId);

  // The dialog whose running flag Ctrl-C clears.
  void Bind(vornak::FormatterDialog* dialog) { dialog_ = dialog; }

  // What the run showed.
  bool confirmed = false;             // the confirmation was answered Yes
  bool failureShown = false;          // a box with the stop icon ("Sorry!")
  bool reportShown = false;           // the results report
  bool stopped = false;               // Ctrl-C cleared the running flag
  std::vector<std::string> messages;  // every message box text, in order

  // --- DialogPlatform --------------------------------------------------------
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;
  void SetCaption(const std::string& text) override { caption_ = text; }
  void SetControlText(int id, const std::string& text) override;
  void SetPassStatus(int id, const std::string& text,
                     const vornak::PassProgress& progress) override;
  std::string GetControlText(int id) override { return texts_[id]; }
  void EnableControl(int id, bool enable) override { disabled_[id] = !enable; }
  bool IsControlEnabled(int id) override { return !disabled_[id]; }
  void SetCheck(int id, bool checked) override { checks_[id] = checked; }
  bool GetCheck(int id) override { return checks_[id]; }
  void LimitText(int, int) override {}
  void ComboReset(int id) override;
  void ComboAdd(int id, const std::string& text) override;
  void ComboSetSel(int id, int index) override;
  int ComboGetSel(int id) override;
  void SetFocus(int) override {}
  void SetWaitCursor(bool) override {}
  void SetIcon(vornak::IconHandle) override {}
  void RedrawAll() override {}
  void PumpOneMessage() override;
  void EndDialog(int) override {}
  bool AppendAboutItem(const std::string&) override { return false; }
  void EnableSystemMenuItem(int, bool) override {}
  void ShowAboutBox(const std::string&, const std::string&, const std::string&) override {}
  // The waits of the run give Windows time to settle after raw writes; here
  // the writes are on the device when their calls return, so nothing waits.
  // Linux front end: UTF-8 is no double-byte code page.
  bool IsDBCSLeadByte(unsigned char) override { return false; }
  void Sleep(std::uint32_t) override {}
  std::uint32_t GetTickCount() override;
  void NotifyShellChanged(const std::string&) override {}
  // No program is started: the run's only one is the system format command.
  vornak::ProcessHandle StartHidden(const std::string&) override { return 0; }
  vornak::WaitResult WaitForProcess(vornak::ProcessHandle, std::uint32_t) override {
    return vornak::WaitResult::Exited;
  }
  void TerminateProcess(vornak::ProcessHandle) override {}
  void CloseProcess(vornak::ProcessHandle) override {}
  std::string GetWindowsDirectoryA() override { return kWindowsDirectory; }
  std::string GetModuleFileNameA() override { return kProgramPath; }
  bool CanOpenForReading(const std::string& path) override;
  bool WriteWholeFile(const std::string&, const std::string&) override { return false; }
  bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) override;
  bool DeleteFileA(const std::string&) override { return false; }
  vornak::FindHandle FindFirstFileA(const std::string& pattern, vornak::FindEntry& entry) override;
  bool FindNextFileA(vornak::FindHandle search, vornak::FindEntry& entry) override;
  void FindClose(vornak::FindHandle search) override;

  // --- StartupPlatform (the dialog's start-up texts: built-in, no fmt.ini) ---
  std::uint16_t GetSystemDefaultLangID() override { return languageId_; }
  std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) override;
  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultText, char* out, std::uint32_t size,
                                         const char* file) override;
  vornak::IconHandle LoadIconFile(const char*, int, int) override { return 0; }
  vornak::IconHandle LoadResourceIcon(int) override { return 0; }

 private:
  std::string ShownCaption(const std::string& caption) const;
  // The text of the pass's area: the dialog's own, or the built-in default.
  std::string AreaText(const vornak::PassProgress& progress) const;
  void EndProgressLine();
  bool AskYesNo(const std::string& question);
  // The local path of a start-up file named by its dialog path, "" if none.
  std::string SysPath(const std::string& dialogPath) const;

  TerminalOptions options_;
  std::uint16_t languageId_;
  vornak::FormatterDialog* dialog_ = nullptr;
  std::string caption_;
  std::map<int, std::string> texts_;
  std::map<int, bool> disabled_;
  std::map<int, bool> checks_;
  std::vector<std::string> combo_;
  int comboSel_ = -1;
  // Progress line state.
  bool barOpen_ = false;
  int lastArea_ = -1;  // write and data-area bits of the last progress shown
  std::uint32_t lastPercent_ = 1000;
  // Directory searches of the start-up files folder.
  std::map<vornak::FindHandle, std::vector<vornak::FindEntry>> searches_;
  vornak::FindHandle nextSearch_ = 1;
};

// Copies a local file into the root directory of the FAT volume on `target`
// under `name` (mcopy of mtools); false when it could not be copied.
bool CopyIntoVolume(const std::string& target, const std::string& source, const std::string& name);

}  // namespace vornak_cli
