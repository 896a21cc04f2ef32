// The window and system calls of the formatter's main dialog, behind one
// narrow interface.
//
// FormatterDialog (the state, the handlers and the format run) reaches its
// window, the clock, the shell, processes and files only through
// DialogPlatform. The program binds it to the dialog window and the Win32 API
// (dialog_platform_win32.cpp); tests bind it to a scripted fake.
#pragma once

#include <cstdint>
#include <string>

#include "../fat/format_ui.h"
#include "startup_platform.h"

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

// Windows values used by the dialog (named apart from <windows.h>'s macros).
namespace dlg {
constexpr std::uint32_t kMbOk = 0x00000000u;
constexpr std::uint32_t kMbOkCancel = 0x00000001u;
constexpr std::uint32_t kMbYesNo = 0x00000004u;
constexpr std::uint32_t kMbIconHand = 0x00000010u;  // stop
constexpr std::uint32_t kMbIconQuestion = 0x00000020u;
constexpr std::uint32_t kMbIconExclamation = 0x00000030u;
constexpr std::uint32_t kMbIconAsterisk = 0x00000040u;  // information
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
constexpr std::uint32_t kFileAttributeDirectory = 0x00000010u;
constexpr std::uint32_t kDbtDeviceArrival = 0x8000u;
constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004u;
}  // namespace dlg

class DialogPlatform {
 public:
  virtual ~DialogPlatform() = default;

  // --- The dialog window -----------------------------------------------------
  // A message box owned by the dialog; returns the button pressed.
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;
  virtual void SetCaption(const std::string& text) = 0;
  virtual void SetControlText(int id, const std::string& text) = 0;
  // The status line of a Low pass: the text the dialog made and the numbers
  // it made it from. A window shows the text; a front end that draws its own
  // progress takes the numbers.
  virtual void SetPassStatus(int id, const std::string& text, const PassProgress& progress) {
    (void)progress;
    SetControlText(id, text);
  }
  virtual std::string GetControlText(int id) = 0;
  virtual void EnableControl(int id, bool enable) = 0;
  virtual bool IsControlEnabled(int id) = 0;
  virtual void SetCheck(int id, bool checked) = 0;
  virtual bool GetCheck(int id) = 0;
  // Edit control: the most characters the user can type (EM_LIMITTEXT).
  virtual void LimitText(int id, int chars) = 0;
  // Combo box: empty it, append an item, select an item, the selection (-1 for none).
  virtual void ComboReset(int id) = 0;
  virtual void ComboAdd(int id, const std::string& text) = 0;
  virtual void ComboSetSel(int id, int index) = 0;
  virtual int ComboGetSel(int id) = 0;
  // Keyboard focus to a control, which also becomes the dialog's current control.
  virtual void SetFocus(int id) = 0;
  // The wait cursor (true) or the arrow (false).
  virtual void SetWaitCursor(bool wait) = 0;
  virtual void SetIcon(IconHandle icon) = 0;
  // Repaints the whole dialog, erasing the background.
  virtual void RedrawAll() = 0;
  // Removes at most one pending message and dispatches it.
  virtual void PumpOneMessage() = 0;
  // Ends the modal dialog.
  virtual void EndDialog(int result) = 0;
  // System menu: a separator and the About item (command 0x10) appended; an
  // item enabled or greyed by position. False when the window has no system menu.
  virtual bool AppendAboutItem(const std::string& text) = 0;
  virtual void EnableSystemMenuItem(int position, bool enable) = 0;
  // Runs the About box modally with its three texts.
  virtual void ShowAboutBox(const std::string& caption, const std::string& tool,
                            const std::string& company) = 0;

  // --- Code page ------------------------------------------------------------
  // IsDBCSLeadByte: whether the byte starts a double-byte character in the
  // system code page (always false on a single-byte one).
  virtual bool IsDBCSLeadByte(unsigned char byte) = 0;

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
  // Waits for the process to end, at most `timeoutMs`, keeping the dialog
  // painted meanwhile (paint messages only: the user cannot act on it).
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
