// A small dialog that the GUI driver's own test drives: every control kind the
// driver handles, message boxes with each icon, owned and unowned, and a status
// line that reports which notification arrived last.
#include <windows.h>

#include <string>

#include "testapp_ids.h"

namespace {

int g_changes = 0;

void Status(HWND dlg, const std::wstring& text) { SetDlgItemTextW(dlg, IDC_STATUS, text.c_str()); }

UINT IconFlag(int sel) {
  switch (sel) {
    case 1: return MB_ICONHAND;
    case 2: return MB_ICONQUESTION;
    case 3: return MB_ICONEXCLAMATION;
    case 4: return MB_ICONASTERISK;
    default: return 0;
  }
}

// The slow box: shown and painted from WM_INITDIALOG, which then goes on
// working for `lp` ms before the dialog's message loop starts.
INT_PTR CALLBACK SlowBoxProc(HWND box, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      SendDlgItemMessageW(box, IDC_SLOW_ICON, STM_SETICON,
                          reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_EXCLAMATION)), 0);
      ShowWindow(box, SW_SHOW);
      RedrawWindow(box, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      Sleep(static_cast<DWORD>(lp));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) EndDialog(box, LOWORD(wp));
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      HWND combo = GetDlgItem(dlg, IDC_ICON_COMBO);
      for (const wchar_t* item : {L"none", L"hand", L"question", L"exclamation", L"asterisk"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
      SendMessageW(combo, CB_SETCURSEL, 0, 0);
      HMENU sys = GetSystemMenu(dlg, FALSE);
      AppendMenuW(sys, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(sys, MF_STRING, IDM_ABOUT, L"About Test App");
      return TRUE;
    }
    case WM_COMMAND: {
      int id = LOWORD(wp), code = HIWORD(wp);
      switch (id) {
        case IDC_EDIT:
          if (code == EN_CHANGE) {
            wchar_t buf[200];
            GetDlgItemTextW(dlg, IDC_EDIT, buf, 200);
            Status(dlg, L"change=" + std::to_wstring(++g_changes) + L" text=" + buf);
          }
          return TRUE;
        case IDC_ICON_COMBO:
          if (code == CBN_SELCHANGE)
            Status(dlg, L"sel=" + std::to_wstring(SendDlgItemMessageW(dlg, IDC_ICON_COMBO,
                                                                      CB_GETCURSEL, 0, 0)));
          return TRUE;
        case IDC_OWNED:
          if (code == BN_CLICKED)
            Status(dlg, L"check=" + std::to_wstring(IsDlgButtonChecked(dlg, IDC_OWNED)));
          return TRUE;
        case IDC_SHOW_BOX: {
          int sel = static_cast<int>(SendDlgItemMessageW(dlg, IDC_ICON_COMBO, CB_GETCURSEL, 0, 0));
          HWND owner = IsDlgButtonChecked(dlg, IDC_OWNED) ? dlg : nullptr;
          int r = MessageBoxW(owner, L"Proceed with the test?\nSecond line.", L"Driver Box",
                              MB_YESNOCANCEL | IconFlag(sel));
          Status(dlg, L"box=" + std::to_wstring(r));
          return TRUE;
        }
        case IDC_RETRY_BOX: {
          // Like a program that insists on a device: Retry asks again at once.
          int retries = 0;
          while (MessageBoxW(nullptr, L"Test device not found!", L"Driver Retry",
                             MB_RETRYCANCEL | MB_ICONEXCLAMATION) == IDRETRY)
            ++retries;
          Status(dlg, L"retries=" + std::to_wstring(retries));
          return TRUE;
        }
        case IDC_DISABLED: Status(dlg, L"disabled button clicked"); return TRUE;
        case IDOK: Status(dlg, L"ok"); return TRUE;
        case IDCANCEL: Status(dlg, L"cancel"); return TRUE;
        case IDC_QUIT:
          EndDialog(dlg, 3);  // a status the harness must pass on
          return TRUE;
      }
      return FALSE;
    }
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == IDM_ABOUT) {
        Status(dlg, L"about");
        return TRUE;
      }
      return FALSE;
    case WM_SIZE:
      if (wp == SIZE_MINIMIZED)
        Status(dlg, L"size=minimized");
      else if (wp == SIZE_RESTORED && IsWindowVisible(dlg))
        Status(dlg, L"size=restored");
      return FALSE;
    case WM_DEVICECHANGE: {
      // DEV_BROADCAST_VOLUME: size, device type, reserved, unit mask, flags.
      struct Volume {
        DWORD size, type, reserved, mask;
        WORD flags;
      };
      wchar_t buf[96];
      const Volume* v = reinterpret_cast<const Volume*>(lp);
      if (v && !IsBadReadPtr(v, sizeof(DWORD) * 4) && v->type == 2)
        wsprintfW(buf, L"devchange=0x%X volume mask=0x%X", static_cast<unsigned>(wp),
                  static_cast<unsigned>(v->mask));
      else
        wsprintfW(buf, L"devchange=0x%X", static_cast<unsigned>(wp));
      Status(dlg, buf);
      SetWindowLongPtrW(dlg, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    case WM_APP_SLOW_BOX: {
      // Long work without messages (as a run that waits seconds in Sleep),
      // then the box.
      Sleep(static_cast<DWORD>(wp));
      const INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SLOW_BOX),
                                        dlg, SlowBoxProc, lp);
      Status(dlg, L"slow box=" + std::to_wstring(r));
      return TRUE;
    }
    case WM_APP + 7:
      SetWindowLongPtrW(dlg, DWLP_MSGRESULT, static_cast<LONG_PTR>(wp + lp));
      return TRUE;
    case WM_CLOSE: EndDialog(dlg, 0); return TRUE;
  }
  (void)lp;
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return static_cast<int>(
      DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_TESTAPP), nullptr, DialogProc, 0));
}
