// The external tool runner on Win32: the hidden tool process, the modal tool
// progress window that waits for it (template 130), the modeless extraction
// window (template 131) and the system error report.
#include <windows.h>

#include <string>

#include "converter_app.h"
#include "pipeline_win32.h"
#include "resource.h"
#include "text_table.h"
#include "tool_spinner.h"
#include "unicode_win32.h"

namespace lirrow {

namespace {

constexpr UINT_PTR kToolTimer = 1;
constexpr UINT_PTR kExtractionTimer = 2;
constexpr UINT kSpinnerPeriodMs = 800;

struct ToolWait {
  std::wstring baseText;
  HANDLE process = nullptr;  // not owned
  DWORD exitCode = 0;
};

struct ExtractionState {
  std::wstring baseText;
};

// Window rectangle and client size of a window.
struct Extent {
  RECT window;
  long clientWidth;
  long clientHeight;
};

Extent ExtentOf(HWND window) {
  Extent extent{};
  GetWindowRect(window, &extent.window);
  RECT client{};
  GetClientRect(window, &client);
  extent.clientWidth = client.right - client.left;
  extent.clientHeight = client.bottom - client.top;
  return extent;
}

// Places `window` centred over `parent` (client sizes against the parent's
// window corner), keeping its size and z-order.
void CentreOver(HWND window, HWND parent) {
  if (!parent) return;
  const Extent p = ExtentOf(parent);
  const Extent own = ExtentOf(window);
  const WindowPosition at = CentreOverParent(p.window.left, p.window.top, p.clientWidth,
                                             p.clientHeight, own.clientWidth, own.clientHeight);
  SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK ToolProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* wait = reinterpret_cast<ToolWait*>(Wide().GetWindowLongPtrW(window, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      wait = reinterpret_cast<ToolWait*>(lParam);
      Wide().SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(wait));
      Wide().SetDlgItemTextW(window, IDC_PROGRESS_LINE, wait->baseText.c_str());
      Wide().SetDlgItemTextW(window, IDCANCEL, AppTexts()[TextKey::InforIDCANCEL].c_str());
      CentreOver(window, GetWindow(window, GW_OWNER));
      SetTimer(window, kToolTimer, kSpinnerPeriodMs, nullptr);
      return TRUE;
    case WM_TIMER: {
      if (wParam != kToolTimer || !wait) break;
      const bool running = WaitForSingleObject(wait->process, 0) == WAIT_TIMEOUT;
      const ToolTick tick = ToolProgressTick(running, ToolProgressSpinner(), wait->baseText);
      if (tick.close) {
        DWORD code = 0;
        if (GetExitCodeProcess(wait->process, &code)) wait->exitCode = code;
        KillTimer(window, kToolTimer);
        EndDialog(window, IDOK);
      } else {
        Wide().SetDlgItemTextW(window, IDC_PROGRESS_LINE, tick.line.c_str());
        if (HWND line = GetDlgItem(window, IDC_PROGRESS_LINE)) UpdateWindow(line);
      }
      return TRUE;
    }
    case WM_COMMAND:
      // Enter, Esc and the close request: the window lasts as long as the tool.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) return TRUE;
      break;
    default: break;
  }
  return FALSE;
}

INT_PTR CALLBACK ExtractionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<ExtractionState*>(Wide().GetWindowLongPtrW(window, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      state = reinterpret_cast<ExtractionState*>(lParam);
      Wide().SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
      Wide().SetDlgItemTextW(window, IDC_EXTRACTION_LINE, L"");
      SetTimer(window, kExtractionTimer, kSpinnerPeriodMs, nullptr);
      return TRUE;
    case WM_TIMER:
      if (wParam != kExtractionTimer || !state) break;
      Wide().SetDlgItemTextW(window, IDC_EXTRACTION_LINE,
                             ExtractionSpinner().Advance(state->baseText).c_str());
      if (HWND line = GetDlgItem(window, IDC_EXTRACTION_LINE)) UpdateWindow(line);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) return TRUE;
      break;
    case WM_DESTROY:
      KillTimer(window, kExtractionTimer);
      delete state;
      Wide().SetWindowLongPtrW(window, DWLP_USER, 0);
      return TRUE;
    default: break;
  }
  return FALSE;
}

}  // namespace

ToolRun RunTool(HWND owner, std::wstring& commandLine, const std::wstring& baseText) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  Wide().GetStartupInfoW(&startup);
  startup.cb = 68;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  static_assert(sizeof(STARTUPINFOW) >= 68, "start-up record holds the 68-byte layout");

  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  // CreateProcessW may write into the command line: hand it a writable,
  // terminated buffer.
  commandLine.push_back(L'\0');
  const BOOL created = Wide().CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                             nullptr, nullptr, &startup, &info);
  const DWORD error = GetLastError();
  commandLine.pop_back();
  ToolRun run;
  if (!created) {
    SetLastError(error);
    return run;
  }

  ToolWait wait;
  wait.baseText = baseText;
  wait.process = info.hProcess;
  Wide().DialogBoxParamW(Wide().GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_TOOL_PROGRESS),
                         owner, ToolProgressProc, reinterpret_cast<LPARAM>(&wait));

  run.started = true;
  run.exitCode = wait.exitCode;
  run.process = reinterpret_cast<std::uintptr_t>(info.hProcess);
  run.thread = reinterpret_cast<std::uintptr_t>(info.hThread);
  return run;
}

HWND OpenExtractionWindow(HWND parent, const std::wstring& baseText) {
  auto* state = new ExtractionState;
  HWND window =
      Wide().CreateDialogParamW(Wide().GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_EXTRACTION),
                                parent, ExtractionProc, reinterpret_cast<LPARAM>(state));
  if (!window) {
    delete state;
    return nullptr;
  }
  CentreOver(window, parent);
  // The line stays empty until the first tick.
  state->baseText = baseText;
  UpdateWindow(window);
  return window;
}

void CloseExtractionWindow(HWND window) {
  if (window) DestroyWindow(window);
}

bool ReportSystemError(HWND owner) {
  const DWORD code = GetLastError();
  if (code == 0) return true;
  ShowSystemError(owner, code);
  return false;
}

void ShowSystemError(HWND owner, DWORD code) {
  wchar_t text[260] = L"";
  const DWORD length =
      Wide().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, 260, nullptr);
  std::wstring message = text;
  if (length == 0)  // the system has no text for it: show the code at least
    message = L"System Error Code :" + std::to_wstring(code);
  Wide().MessageBoxW(owner, message.c_str(), kAppName, MB_OK | MB_ICONWARNING);
}

}  // namespace lirrow
