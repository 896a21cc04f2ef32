#include "about_dialog_win32.h"

#include "resource.h"
#include "unicode_win32.h"

namespace lirrow {

namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto& texts = *reinterpret_cast<const TextTable*>(lParam);
      Wide().SetWindowTextW(dialog, texts[TextKey::AboutTitle].c_str());
      Wide().SetDlgItemTextW(dialog, IDOK, texts[TextKey::AboutIDOK].c_str());
      Wide().SetDlgItemTextW(dialog, IDC_ABOUT_LINE1, texts[TextKey::AboutIDC_STATIC1].c_str());
      Wide().SetDlgItemTextW(dialog, IDC_ABOUT_LINE2, texts[TextKey::AboutIDC_STATIC2].c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

}  // namespace

void ShowAboutDialog(HWND owner, const TextTable& texts) {
  const HINSTANCE instance =
      reinterpret_cast<HINSTANCE>(Wide().GetWindowLongPtrW(owner, GWLP_HINSTANCE));
  Wide().DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc,
                         reinterpret_cast<LPARAM>(&texts));
}

}  // namespace lirrow
