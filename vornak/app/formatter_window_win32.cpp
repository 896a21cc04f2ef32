#include "formatter_window_win32.h"

#include "../res/resource.h"

namespace vornak {

FormatterWindow::FormatterWindow(HINSTANCE instance, DiskPlatform& disk, StartupPlatform& startup)
    : instance_(instance), platform_(instance), dialog_(platform_, disk, startup) {}

int FormatterWindow::RunModal() {
  return static_cast<int>(::DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_VORNAK_DIALOG), nullptr,
                                            Proc, reinterpret_cast<LPARAM>(this)));
}

INT_PTR CALLBACK FormatterWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
    FormatterWindow* self = reinterpret_cast<FormatterWindow*>(lParam);
    self->platform_.Attach(window);
    return self->Handle(message, wParam, lParam);
  }
  FormatterWindow* self =
      reinterpret_cast<FormatterWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  return self ? self->Handle(message, wParam, lParam) : FALSE;
}

bool FormatterWindow::PaintMinimised() {
  HWND window = platform_.Window();
  if (!::IsIconic(window)) return false;
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(window, &ps);
  ::SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(window, &client);
  const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, reinterpret_cast<HICON>(dialog_.icon));
  ::EndPaint(window, &ps);
  return true;
}

INT_PTR FormatterWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = platform_.Window();
  switch (message) {
    case WM_INITDIALOG: dialog_.OnInitDialog(); return FALSE;  // the focus has been set

    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      switch (id) {
        case IDC_START:
          if (code == BN_CLICKED) dialog_.OnStart();
          return TRUE;
        case IDC_QUICK:
          if (code == BN_CLICKED) dialog_.SetModeQuick();
          return TRUE;
        case IDC_FULL:
          if (code == BN_CLICKED) dialog_.SetModeFull();
          return TRUE;
        case IDC_LOW:
          if (code == BN_CLICKED) dialog_.SetModeLow();
          return TRUE;
        case IDC_DRIVE:
          if (code == CBN_SELCHANGE) dialog_.OnDriveSelChange();
          return TRUE;
        case IDOK:
        case IDCANCEL:
          if (!platform_.InProcessWait()) dialog_.OnExit();
          return TRUE;
      }
      return FALSE;
    }

    case WM_DEVICECHANGE:
      dialog_.OnDriveChange(static_cast<std::uint32_t>(wParam));
      ::SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
      return TRUE;

    case WM_SYSCOMMAND:
      if (dialog_.OnSysCommand(static_cast<std::uint32_t>(wParam))) return TRUE;
      return FALSE;

    case WM_SIZE: dialog_.OnSize(wParam == SIZE_MINIMIZED); return FALSE;

    case WM_PAINT: return PaintMinimised() ? TRUE : FALSE;

    case WM_QUERYDRAGICON: return static_cast<INT_PTR>(dialog_.icon);

    case WM_SETCURSOR:
      if (platform_.WaitCursorShown()) {
        ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
        ::SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
  }
  (void)lParam;
  return FALSE;
}

}  // namespace vornak
