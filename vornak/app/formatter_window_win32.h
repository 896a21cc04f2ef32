// The formatter's main dialog window: dialog template 102 bound to
// FormatterDialog (windows build only).
#pragma once

#include "formatter_dialog.h"
#include "startup.h"

#include "dialog_platform_win32.h"

namespace vornak {

class FormatterWindow : public MainDialog {
 public:
  FormatterWindow(HINSTANCE instance, DiskPlatform& disk, StartupPlatform& startup);

  void SetFamily(const std::string& family) override { dialog_.SetFamily(family); }
  std::vector<std::string>& DriveList() override { return dialog_.driveList; }
  int RunModal() override;

  FormatterDialog& Dialog() { return dialog_; }

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool PaintMinimised();

  HINSTANCE instance_;
  Win32DialogPlatform platform_;
  FormatterDialog dialog_;
};

}  // namespace vornak
