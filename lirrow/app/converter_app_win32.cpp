// ConverterApp: the converter's process start-up and end.
#include <windows.h>
#include <commctrl.h>

#include "converter_app.h"
#include "converter_dialog_win32.h"
#include "conversion_binding_win32.h"
#include "text_source_win32.h"

namespace lirrow {

int RunConverterApp(HINSTANCE instance) {
  InitCommonControls();

  ProfileTextSource source;
  const unsigned language = GetSystemDefaultLangID();
  SetAppTexts(LoadTexts(language, IniPathForProgram(ProgramPath()), source));
  SetAppLanguage(MapLanguageId(language));
  SetStartDirectory(CurrentDirectory());

  PipelineConversions conversions;
  const INT_PTR result = RunConverterDialog(instance, conversions);
  if (result == -1) {
    MessageBoxW(nullptr, AppTexts()[TextKey::AppNoMsdxm].c_str(), kAppName, MB_OK | MB_ICONWARNING);
    return 1;
  }
  return 0;
}

}  // namespace lirrow

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return lirrow::RunConverterApp(instance);
}
