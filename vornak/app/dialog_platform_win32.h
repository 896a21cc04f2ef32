// DialogPlatform bound to the formatter's dialog window and the Win32 API
// (windows build only).
#pragma once

// The portable headers come first: their constants share names with
// <windows.h> macros.
#include "dialog_platform.h"

#include <windows.h>

namespace vornak {

class Win32DialogPlatform : public DialogPlatform {
 public:
  explicit Win32DialogPlatform(HINSTANCE instance) : instance_(instance) {}

  // The dialog window, known from its WM_INITDIALOG on.
  void Attach(HWND window) { window_ = window; }
  HWND Window() const { return window_; }
  bool WaitCursorShown() const { return waitCursor_; }
  // A started process is being waited for (the system format command): the
  // window takes its messages meanwhile, but the Exit command (Esc, the close
  // box) must not ask to stop a run that cannot be stopped there.
  bool InProcessWait() const { return inProcessWait_; }

  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;
  void SetCaption(const std::string& text) override;
  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id) override;
  void EnableControl(int id, bool enable) override;
  bool IsControlEnabled(int id) override;
  void SetCheck(int id, bool checked) override;
  bool GetCheck(int id) override;
  void LimitText(int id, int chars) override;
  void ComboReset(int id) override;
  void ComboAdd(int id, const std::string& text) override;
  void ComboSetSel(int id, int index) override;
  int ComboGetSel(int id) override;
  void SetFocus(int id) override;
  void SetWaitCursor(bool wait) override;
  void SetIcon(IconHandle icon) override;
  void RedrawAll() override;
  void PumpOneMessage() override;
  void EndDialog(int result) override;
  bool AppendAboutItem(const std::string& text) override;
  void EnableSystemMenuItem(int position, bool enable) override;
  void ShowAboutBox(const std::string& caption, const std::string& tool,
                    const std::string& company) override;
  bool IsDBCSLeadByte(unsigned char byte) override;
  void Sleep(std::uint32_t ms) override;
  std::uint32_t GetTickCount() override;
  void NotifyShellChanged(const std::string& path) override;
  ProcessHandle StartHidden(const std::string& commandLine) override;
  WaitResult WaitForProcess(ProcessHandle process, std::uint32_t timeoutMs) override;
  void TerminateProcess(ProcessHandle process) override;
  void CloseProcess(ProcessHandle process) override;
  std::string GetWindowsDirectoryA() override;
  std::string GetModuleFileNameA() override;
  bool CanOpenForReading(const std::string& path) override;
  bool WriteWholeFile(const std::string& path, const std::string& bytes) override;
  bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) override;
  bool DeleteFileA(const std::string& path) override;
  FindHandle FindFirstFileA(const std::string& pattern, FindEntry& entry) override;
  bool FindNextFileA(FindHandle search, FindEntry& entry) override;
  void FindClose(FindHandle search) override;

 private:
  HWND Item(int id) const { return ::GetDlgItem(window_, id); }

  HINSTANCE instance_;
  bool inProcessWait_ = false;
  HWND window_ = nullptr;
  bool waitCursor_ = false;
};

}  // namespace vornak
