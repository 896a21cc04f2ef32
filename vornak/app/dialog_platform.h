// The window and system calls of the formatter's main dialog, behind one
// narrow interface.
//
// FormatterDialog (the state, the handlers and the front end of the format
// run) reaches its window only through DialogPlatform, and the clock, the
// shell, processes and files through the RunPlatform part of it, which the
// run uses too. The program binds it to the dialog window and the Win32 API
// (dialog_platform_win32.cpp); tests bind it to a scripted fake.
#pragma once

#include <cstdint>
#include <string>

#include "../fat/format_ui.h"
#include "run_platform.h"
#include "startup_platform.h"

namespace vornak {

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

class DialogPlatform : public RunPlatform {
 public:
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
};

}  // namespace vornak
