// ConverterApp: the converter's process start-up and end.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "converter_app.h"
#include "converter_dialog_win32.h"
#include "conversion_binding_win32.h"
#include "text_source_win32.h"
#include "unicode_win32.h"

namespace lirrow {

int RunConverterApp(HINSTANCE instance) {
  // Without its Unicode calls the program can show nothing of its own: say
  // so in plain ANSI and end.
  const std::string notice = UnicodeNotice(BindUnicodeCalls());
  if (!notice.empty()) {
    MessageBoxA(nullptr, notice.c_str(), "Lirrow", MB_OK | MB_ICONSTOP);
    return 1;
  }
  InitCommonControls();

  ProfileTextSource source;
  const unsigned language = GetSystemDefaultLangID();
  SetAppTexts(LoadTexts(language, IniPathForProgram(ProgramPath()), source));
  SetAppLanguage(MapLanguageId(language));
  SetStartDirectory(CurrentDirectory());

  PipelineConversions conversions;
  const INT_PTR result = RunConverterDialog(instance, conversions);
  if (result == -1) {
    Wide().MessageBoxW(nullptr, AppTexts()[TextKey::AppNoMsdxm].c_str(), kAppName,
                       MB_OK | MB_ICONWARNING);
    return 1;
  }
  return 0;
}

}  // namespace lirrow

// The ANSI entry point: the program takes no command line, and the C
// runtime's wide start-up would read it through W calls that fail on
// Windows 95/98/ME.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return lirrow::RunConverterApp(instance);
}
