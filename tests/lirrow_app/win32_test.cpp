// The Win32 side against the real system (Windows, or Wine here): the INI
// file through the profile calls, the window icon, and the player control.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "converter_app.h"
#include "converter_dialog_win32.h"
#include "file.h"
#include "player_win32.h"
#include "resource.h"
#include "text_source_win32.h"
#include "unicode_win32.h"

namespace lirrow {
namespace {

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH];
  GetTempPathW(MAX_PATH, buffer);
  std::wstring folder = std::wstring(buffer) + L"lirrow_win32_test";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

void WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
  ASSERT_EQ(written, bytes.size());
}

void Put32(std::vector<unsigned char>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void Put16(std::vector<unsigned char>& b, uint16_t v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}

// 8 kHz, 16-bit mono: 16,000 bytes per second, a quiet sawtooth.
std::vector<unsigned char> MakeWav(uint32_t dataBytes) {
  std::vector<unsigned char> b = {'R', 'I', 'F', 'F'};
  Put32(b, 36 + dataBytes);
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<unsigned char>(c));
  Put32(b, 16);
  Put16(b, 1);
  Put16(b, 1);
  Put32(b, 8000);
  Put32(b, 16000);
  Put16(b, 2);
  Put16(b, 16);
  for (char c : std::string("data")) b.push_back(static_cast<unsigned char>(c));
  Put32(b, dataBytes);
  for (uint32_t i = 0; i < dataBytes / 2; ++i) Put16(b, static_cast<uint16_t>((i % 64) * 16));
  return b;
}

// On the NT family every entry is the system DLL's own function, and the
// program has nothing to tell the user.
TEST(UnicodeCalls, OnWindowsNtEachCallIsTheSystemDllsOwn) {
  ASSERT_EQ(BindUnicodeCalls(), UnicodeSource::kSystem);
  const UnicodeCalls& calls = Wide();
  int checked = 0;
#define LIRROW_CHECK_CALL(dll, name)                                                      \
  {                                                                                       \
    HMODULE module = LoadLibraryA(#dll ".dll");                                           \
    ASSERT_NE(module, nullptr) << #dll;                                                   \
    EXPECT_EQ(reinterpret_cast<void*>(calls.name),                                        \
              reinterpret_cast<void*>(GetProcAddress(module, LIRROW_UNICODE_NAME(name)))) \
        << LIRROW_UNICODE_NAME(name);                                                     \
    EXPECT_NE(reinterpret_cast<void*>(calls.name), nullptr) << LIRROW_UNICODE_NAME(name); \
    ++checked;                                                                            \
  }
  LIRROW_UNICODE_CALLS(LIRROW_CHECK_CALL)
#undef LIRROW_CHECK_CALL
  EXPECT_GT(checked, 40);
  EXPECT_EQ(UnicodeNotice(UnicodeSource::kSystem), "");
  EXPECT_EQ(UnicodeNotice(UnicodeSource::kLayer), "");
  EXPECT_NE(
      UnicodeNotice(UnicodeSource::kLayerMissing).find("(unicows.dll) on Windows 95, 98 and Me"),
      std::string::npos);
}

// The runtime's own W imports (libgcc's semaphores, the msvcrt helpers) are
// the table's: the import slot the linker resolved holds our thunk, not the
// system function.
TEST(UnicodeCalls, TheRuntimesWCallsGoThroughTheTable) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto viaImport = reinterpret_cast<void*>(&::GetModuleHandleW);
  EXPECT_NE(viaImport, reinterpret_cast<void*>(GetProcAddress(kernel, "GetModuleHandleW")));
  EXPECT_EQ(::GetModuleHandleW(nullptr), GetModuleHandleA(nullptr));
  HANDLE semaphore = ::CreateSemaphoreW(nullptr, 0, 1, nullptr);
  EXPECT_NE(semaphore, nullptr);
  if (semaphore) CloseHandle(semaphore);
}

// The 9x family opens files by their ANSI names. A name converts only when
// every character has its exact counterpart: code page 1252 has a best fit
// of L for the Polish L-stroke, and the file opened under it would be
// another one.
TEST(AnsiFileNames, OnlyExactConversionsOpenAndBestFitsDoNot) {
  if (GetACP() != 1252) GTEST_SKIP() << "the names below are chosen for code page 1252";
  std::string name;
  EXPECT_TRUE(AnsiFileName(L"C:\\voice\\caf\u00E9.rec", &name));
  EXPECT_EQ(name, "C:\\voice\\caf\xE9.rec");
  for (const wchar_t* refused : {L"C:\\voice\\\u0141\u00F3d\u017A.rec",  // best fits: L, z
                                 L"C:\\voice\\\u4E2D.rec",  // no counterpart: the default
                                 L""}) {
    EXPECT_FALSE(AnsiFileName(refused, &name)) << name;
  }

  // Opened through the conversion, the best-fit name does not reach the
  // file that its substitute names.
  const std::wstring folder = TempFolder();
  const std::wstring exact = folder + L"\\L\u00F3dz.rec";
  const std::wstring bestFit = folder + L"\\\u0141\u00F3d\u017A.rec";
  WriteBytes(exact, {0x05, 1, 2, 3});
  DeleteFileW(bestFit.c_str());
  UseNarrowFileNames(AnsiFileName);
  File file;
  const bool opened = file.OpenRead(bestFit);
  File plain;
  const bool plainOpened = plain.OpenRead(exact);
  UseNarrowFileNames(nullptr);
  EXPECT_FALSE(opened);
  EXPECT_TRUE(plainOpened);
  DeleteFileW(exact.c_str());
}

TEST(ProfileTexts, UnicodeIniBesideTheProgram) {
  const std::wstring ini = TempFolder() + L"\\lirrow.ini";
  // A UTF-16 INI file: the profile calls read it as Unicode.
  const std::wstring content =
      L"\uFEFF[804]\r\nTitle=\u6D4B\u8BD5\u5DE5\u5177\r\nHelpFile=\r\n[409]\r\nTitle=English "
      L"Title\r\n";
  std::vector<unsigned char> bytes;
  for (wchar_t c : content) Put16(bytes, static_cast<uint16_t>(c));
  WriteBytes(ini, bytes);

  ProfileTextSource source;
  const TextTable zh = LoadTexts(0x0804, ini, source);
  EXPECT_EQ(zh[TextKey::Title], L"\u6D4B\u8BD5\u5DE5\u5177");
  EXPECT_EQ(zh[TextKey::HelpFile], L"");      // present but empty
  EXPECT_EQ(zh[TextKey::IDC_OPEN], L"Open");  // missing: English
  EXPECT_EQ(zh[TextKey::PcmToMp3], L"      Encoding WAV to MP3...");
  EXPECT_EQ(LoadTexts(0x0C09, ini, source)[TextKey::Title], L"English Title");
  EXPECT_EQ(LoadTexts(0x0407, ini, source).texts, EnglishTexts().texts);

  DeleteFileW(ini.c_str());
  EXPECT_EQ(LoadTexts(0x0804, ini, source).texts, SimplifiedChineseTexts().texts);
}

TEST(ProfileTexts, IniPathFollowsTheProgramFile) {
  const std::wstring program = ProgramPath();
  ASSERT_GT(program.size(), 4u);
  EXPECT_EQ(IniPathForProgram(program), program.substr(0, program.size() - 4) + L".ini");
  const std::wstring current = CurrentDirectory();
  ASSERT_FALSE(current.empty());
  EXPECT_NE(current.back(), L'\\');
}

TEST(WindowIcon, IconFileThenBrandThenApplicationIcon) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  TextTable texts = EnglishTexts();
  const HICON app = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
  const HICON pellora = LoadIconW(instance, MAKEINTRESOURCEW(IDI_BRAND_PELLORA));
  const HICON vestik = LoadIconW(instance, MAKEINTRESOURCEW(IDI_BRAND_VESTIK));
  ASSERT_NE(app, nullptr);
  ASSERT_NE(pellora, nullptr);
  ASSERT_NE(app, pellora);

  EXPECT_EQ(ChooseWindowIcon(instance, texts), app);
  texts[TextKey::AboutIDC_STATIC2] = L"(C) 2003 QZR / Pellora";
  EXPECT_EQ(ChooseWindowIcon(instance, texts), pellora);
  texts[TextKey::AboutIDC_STATIC2] = L"VESTIK";
  EXPECT_EQ(ChooseWindowIcon(instance, texts), vestik);

  texts[TextKey::IconFile] = TempFolder() + L"\\missing.ico";
  EXPECT_EQ(ChooseWindowIcon(instance, texts), vestik);
  const std::wstring notIcon = TempFolder() + L"\\not.ico";
  WriteBytes(notIcon, {'t', 'e', 'x', 't'});
  texts[TextKey::IconFile] = notIcon;
  EXPECT_EQ(ChooseWindowIcon(instance, texts), vestik);

  texts[TextKey::IconFile] = LIRROW_TEST_ICON;
  const HICON fromFile = ChooseWindowIcon(instance, texts);
  ASSERT_NE(fromFile, nullptr);
  EXPECT_NE(fromFile, vestik);
  EXPECT_NE(fromFile, app);
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(fromFile, &info));
  BITMAP bitmap = {};
  GetObjectW(info.hbmMask, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 32);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(fromFile);
}

class PlayerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterPlayerClass(GetModuleHandleW(nullptr)));
    parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 100, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    window_ =
        CreateWindowExW(0, L"LirrowPlayer", L"", WS_CHILD | WS_VISIBLE, 0, 0, 282, 72, parent_,
                        reinterpret_cast<HMENU>(1044), GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    player_ = PlayerOfWindow(window_);
    ASSERT_NE(player_, nullptr);
  }
  void TearDown() override {
    if (parent_) DestroyWindow(parent_);
  }
  HWND Child(const wchar_t* text) { return FindWindowExW(window_, nullptr, nullptr, text); }
  void Pump(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    while (GetTickCount() < until) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      Sleep(10);
    }
  }

  HWND parent_ = nullptr;
  HWND window_ = nullptr;
  PlayerControl* player_ = nullptr;
};

TEST_F(PlayerWindowTest, IsOnlyFoundForItsOwnClass) {
  EXPECT_EQ(PlayerOfWindow(parent_), nullptr);
  EXPECT_EQ(PlayerOfWindow(nullptr), nullptr);
}

TEST_F(PlayerWindowTest, BooleanSettingShowsTheControls) {
  const HWND play = Child(L"Play");
  ASSERT_NE(play, nullptr);
  ASSERT_NE(Child(L"Pause"), nullptr);
  ASSERT_NE(Child(L"Stop"), nullptr);
  EXPECT_FALSE(GetWindowLongW(play, GWL_STYLE) & WS_VISIBLE);
  player_->SetBooleanSetting(true);
  EXPECT_TRUE(GetWindowLongW(play, GWL_STYLE) & WS_VISIBLE);
}

TEST_F(PlayerWindowTest, LoadsMeasuresAndUnloadsWav) {
  const std::wstring wav = TempFolder() + L"\\two and a half.wav";
  WriteBytes(wav, MakeWav(40000));
  SetLastError(1234);  // a stale error must not survive a good load
  EXPECT_EQ(player_->SetFileName(wav), 0u);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_NEAR(player_->Duration(), 2.5, 0.05);
  EXPECT_TRUE(IsWindowEnabled(Child(L"Play")));
  EXPECT_FALSE(IsWindowEnabled(Child(L"Stop")));

  EXPECT_EQ(player_->SetFileName(L""), 0u);
  EXPECT_EQ(player_->Duration(), 0.0);
  EXPECT_FALSE(IsWindowEnabled(Child(L"Play")));
  DeleteFileW(wav.c_str());
}

TEST_F(PlayerWindowTest, PlayPauseStop) {
  const std::wstring wav = TempFolder() + L"\\play.wav";
  WriteBytes(wav, MakeWav(32000));
  ASSERT_EQ(player_->SetFileName(wav), 0u);
  player_->SetBooleanSetting(true);
  SendMessageW(Child(L"Play"), BM_CLICK, 0, 0);
  Pump(100);
  EXPECT_FALSE(IsWindowEnabled(Child(L"Play")));
  EXPECT_TRUE(IsWindowEnabled(Child(L"Pause")));
  SendMessageW(Child(L"Pause"), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowEnabled(Child(L"Play")));
  EXPECT_TRUE(IsWindowEnabled(Child(L"Stop")));
  SendMessageW(Child(L"Stop"), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowEnabled(Child(L"Stop")));
  EXPECT_FALSE(IsWindowEnabled(Child(L"Pause")));
  player_->SetFileName(L"");
  DeleteFileW(wav.c_str());
}

TEST_F(PlayerWindowTest, FailedLoadsReportASystemErrorCode) {
  const std::wstring missing = TempFolder() + L"\\missing.wav";
  const unsigned code = player_->SetFileName(missing);
  EXPECT_EQ(code, static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetLastError(), code);
  EXPECT_EQ(player_->Duration(), 0.0);

  const std::wstring junk = TempFolder() + L"\\junk.wav";
  WriteBytes(junk, {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
  const unsigned junkCode = player_->SetFileName(junk);
  EXPECT_NE(junkCode, 0u);
  EXPECT_EQ(GetLastError(), junkCode);
  DeleteFileW(junk.c_str());
}

class NoConversions final : public ConversionFactory, public Conversion {
 public:
  Conversion& For(ConverterDialog&, HWND) override { return *this; }
  bool CheckDecoders() override { return false; }
  ConversionResult ConvertRecording(const ConversionRequest&) override { return {}; }
};

LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) return -1;
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(MainDialog, FailsWhenThePlayerCannotBeCreated) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  UnregisterClassW(L"LirrowPlayer", instance);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = RefuseCreation;
  wc.hInstance = instance;
  wc.lpszClassName = L"LirrowPlayer";
  ASSERT_TRUE(RegisterClassW(&wc));
  NoConversions conversions;
  EXPECT_EQ(RunConverterDialog(instance, conversions), -1);
  UnregisterClassW(L"LirrowPlayer", instance);
}

struct Observed {
  std::wstring startText, menuItem, caption;
  BOOL startEnabled = TRUE;
  bool found = false;
};

DWORD WINAPI ObserveAndExit(LPVOID parameter) {
  auto* seen = static_cast<Observed*>(parameter);
  HWND dialog = nullptr;
  for (int i = 0; i < 200 && !dialog; ++i) {
    dialog = FindWindowW(L"#32770", L"Lirrow Tool 2.0");
    if (!dialog) Sleep(25);
  }
  if (!dialog) return 1;
  seen->found = true;
  // The window exists (and has its caption) before WM_INITDIALOG has set
  // the control texts and the menu: wait for them, as a user would see them.
  wchar_t text[128] = L"";
  for (int i = 0; i < 200 && GetDlgItemTextW(dialog, 1540, text, 128) == 0; ++i) Sleep(25);
  seen->startText = text;
  seen->startEnabled = IsWindowEnabled(GetDlgItem(dialog, 1540));
  if (HMENU menu = GetSystemMenu(dialog, FALSE)) {
    text[0] = L'\0';
    for (int i = 0; i < 200 && GetMenuStringW(menu, 16, text, 128, MF_BYCOMMAND) == 0; ++i)
      Sleep(25);
    seen->menuItem = text;
  }
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(1541, BN_CLICKED), 0);
  return 0;
}

TEST(MainDialog, RunsFromItsTemplateAndEndsWithExit) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  SetAppTexts(EnglishTexts());
  SetStartDirectory(TempFolder());
  const std::wstring tempMp3 = TempFolder() + L"\\tempMP3.mp3";
  WriteBytes(tempMp3, {'x'});
  Observed seen;
  HANDLE thread = CreateThread(nullptr, 0, ObserveAndExit, &seen, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  NoConversions conversions;
  EXPECT_EQ(RunConverterDialog(instance, conversions), IDOK);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.startText, L"Convert");
  EXPECT_FALSE(seen.startEnabled);
  EXPECT_EQ(seen.menuItem, L"About Lirrow Tool(&A)");
  EXPECT_EQ(GetFileAttributesW(tempMp3.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace lirrow
