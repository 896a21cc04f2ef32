#include "converter_dialog_win32.h"

#include <commdlg.h>
#include <shellapi.h>

#include <memory>
#include <vector>

#include "about_dialog_win32.h"
#include "converter_app.h"
#include "pipeline_win32.h"
#include "player_win32.h"
#include "resource.h"
#include "unicode_win32.h"

namespace lirrow {

namespace {

class Win32DialogWindow final : public DialogWindow {
 public:
  Win32DialogWindow(HWND dialog, HINSTANCE instance) : dialog_(dialog), instance_(instance) {}

  HICON Icon() const { return icon_; }

  std::wstring ControlText(int id) override {
    const HWND control = GetDlgItem(dialog_, id);
    const int length = control ? Wide().GetWindowTextLengthW(control) : 0;
    if (length <= 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
    const int got = Wide().GetWindowTextW(control, buffer.data(), length + 1);
    return std::wstring(buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  void SetControlText(int id, const std::wstring& text) override {
    Wide().SetDlgItemTextW(dialog_, id, text.c_str());
  }
  bool IsChecked(int id) override { return IsDlgButtonChecked(dialog_, id) == BST_CHECKED; }
  void SetChecked(int id, bool checked) override {
    CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
  }
  void EnableControl(int id, bool enable) override {
    if (const HWND control = GetDlgItem(dialog_, id)) EnableWindow(control, enable);
  }
  void SetCaption(const std::wstring& text) override {
    Wide().SetWindowTextW(dialog_, text.c_str());
  }
  void AppendSystemMenuItem(unsigned command, const std::wstring& caption) override {
    if (const HMENU menu = GetSystemMenu(dialog_, FALSE)) {
      Wide().AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      Wide().AppendMenuW(menu, MF_STRING, command, caption.c_str());
    }
  }
  void InstallWindowIcon(const TextTable& texts) override {
    icon_ = ChooseWindowIcon(instance_, texts);
    Wide().SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    Wide().SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  }
  void ShowMessage(const std::wstring& text, MessageIcon icon) override {
    UINT type = MB_OK;
    switch (icon) {
      case MessageIcon::Warning: type |= MB_ICONWARNING; break;
      case MessageIcon::Error: type |= MB_ICONERROR; break;
      case MessageIcon::Stop: type |= MB_ICONSTOP; break;
    }
    // The box must not disturb the thread's last error: callers report
    // it with the system's text right after some of their messages.
    const DWORD error = GetLastError();
    Wide().MessageBoxW(dialog_, text.c_str(), kAppName, type);
    SetLastError(error);
  }
  bool ChooseFileToOpen(const std::wstring& filter, std::wstring& path) override {
    std::wstring list = filter;  // '|' separators become NULs
    for (auto& c : list)
      if (c == L'|') c = L'\0';
    wchar_t directory[MAX_PATH] = L"";
    Wide().GetCurrentDirectoryW(MAX_PATH, directory);
    std::vector<wchar_t> file(32768, L'\0');
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog_;
    ofn.lpstrFilter = list.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = directory;
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!Wide().GetOpenFileNameW(&ofn)) return false;
    path = file.data();
    return true;
  }
  void FocusAndSelectAll(int id) override {
    const HWND control = GetDlgItem(dialog_, id);
    Wide().SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    Wide().SendMessageW(control, EM_SETSEL, 0, -1);
    Wide().SendMessageW(control, EM_SCROLLCARET, 0, 0);
  }
  std::wstring WindowsDirectory() override {
    wchar_t directory[MAX_PATH] = L"";
    const UINT length = Wide().GetWindowsDirectoryW(directory, MAX_PATH);
    return std::wstring(directory, length < MAX_PATH ? length : 0);
  }
  long ShellOpen(const std::wstring& program, const std::wstring& arguments) override {
    const HINSTANCE result = Wide().ShellExecuteW(dialog_, L"open", program.c_str(),
                                                  arguments.c_str(), nullptr, SW_SHOWNORMAL);
    return static_cast<long>(reinterpret_cast<INT_PTR>(result));
  }
  void DeleteFileIfPresent(const std::wstring& path) override { Wide().DeleteFileW(path.c_str()); }
  void EndDialog(int result) override { ::EndDialog(dialog_, result); }
  void ShowAboutBox(const TextTable& texts) override { ShowAboutDialog(dialog_, texts); }
  bool ReportSystemError() override { return lirrow::ReportSystemError(dialog_); }
  void ShowSystemError(std::uint32_t code) override {
    if (code != 0) lirrow::ShowSystemError(dialog_, code);
  }

 private:
  HWND dialog_;
  HINSTANCE instance_;
  HICON icon_ = nullptr;
};

struct DialogContext;

// Start's conversion, bound to the dialog once it exists.
class DeferredConversion final : public Conversion {
 public:
  DeferredConversion(DialogContext& context, HWND window) : context_(context), window_(window) {}
  bool CheckDecoders() override;
  ConversionResult ConvertRecording(const ConversionRequest& request) override;

 private:
  DialogContext& context_;
  HWND window_;
};

struct DialogContext {
  HINSTANCE instance;
  ConversionFactory* conversions;
  std::unique_ptr<Win32DialogWindow> window;
  std::unique_ptr<DeferredConversion> conversion;
  std::unique_ptr<ConverterDialog> dialog;
};

bool DeferredConversion::CheckDecoders() {
  return context_.conversions->For(*context_.dialog, window_).CheckDecoders();
}

ConversionResult DeferredConversion::ConvertRecording(const ConversionRequest& request) {
  return context_.conversions->For(*context_.dialog, window_).ConvertRecording(request);
}

void PaintMinimised(HWND dialog, HICON icon) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  Wide().SendMessageW(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(dialog, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon);
  EndPaint(dialog, &ps);
}

INT_PTR CALLBACK MainProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* context = reinterpret_cast<DialogContext*>(Wide().GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      context = reinterpret_cast<DialogContext*>(lParam);
      Wide().SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
      context->window = std::make_unique<Win32DialogWindow>(dialog, context->instance);
      PlayerControl* player = PlayerOfWindow(GetDlgItem(dialog, IDC_PLAYER));
      if (!player) {
        // Without its player the dialog is not usable: fail like a
        // dialog whose control could not be created.
        EndDialog(dialog, -1);
        return TRUE;
      }
      context->conversion = std::make_unique<DeferredConversion>(*context, dialog);
      context->dialog = std::make_unique<ConverterDialog>(
          *context->window, *player, *context->conversion, AppTexts(), StartDirectory());
      context->dialog->Initialise();
      return TRUE;
    }
    case WM_COMMAND: {
      if (!context || !context->dialog) break;
      ConverterDialog& d = *context->dialog;
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      switch (id) {
        case IDC_OPEN_BUTTON:
          if (code == BN_CLICKED) d.Open();
          return TRUE;
        case IDC_SOURCE:
          if (code == EN_CHANGE) d.UpdateStartButton();
          return TRUE;
        case IDC_WAV_CHECK:
        case IDC_MP3_CHECK:
          if (code == BN_CLICKED) d.OnOutputOptionClicked();
          return TRUE;
        case IDC_START:
          if (code == BN_CLICKED) d.Start();
          return TRUE;
        case IDC_HELP_BUTTON:
          if (code == BN_CLICKED) d.Help();
          return TRUE;
        case IDC_EXIT:
          if (code == BN_CLICKED) d.Exit();
          return TRUE;
        case IDOK:
        case IDCANCEL: return TRUE;  // Enter on the hidden OK, Esc and the close request do nothing
        default: break;
      }
      break;
    }
    case WM_SYSCOMMAND:
      if (context && context->dialog &&
          context->dialog->SystemCommand(static_cast<unsigned>(wParam))) {
        Wide().SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      if (context && context->window && IsIconic(dialog)) {
        PaintMinimised(dialog, context->window->Icon());
        return TRUE;
      }
      break;
    case WM_QUERYDRAGICON:
      if (context && context->window) {
        Wide().SetWindowLongPtrW(dialog, DWLP_MSGRESULT,
                                 reinterpret_cast<LONG_PTR>(context->window->Icon()));
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

}  // namespace

HICON ChooseWindowIcon(HINSTANCE instance, const TextTable& texts) {
  const std::wstring& file = texts[TextKey::IconFile];
  if (!file.empty()) {
    if (HANDLE icon = Wide().LoadImageW(nullptr, file.c_str(), IMAGE_ICON, 32, 32, LR_LOADFROMFILE))
      return static_cast<HICON>(icon);
  }
  return Wide().LoadIconW(instance,
                          MAKEINTRESOURCEW(BrandIconId(texts[TextKey::AboutIDC_STATIC2])));
}

INT_PTR RunConverterDialog(HINSTANCE instance, ConversionFactory& conversions) {
  if (!RegisterPlayerClass(instance)) return -1;
  DialogContext context{instance, &conversions, nullptr, nullptr, nullptr};
  return Wide().DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainProc,
                                reinterpret_cast<LPARAM>(&context));
}

}  // namespace lirrow
