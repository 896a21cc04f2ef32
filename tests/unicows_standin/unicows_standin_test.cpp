// The stand-in Layer for Unicode against the real system (Wine here): calls
// through its exports reach the system's functions with every argument,
// return their results and last errors, and each is logged once by name.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "unicode_win32.h"

namespace {

// The stand-in's path as LoadLibrary wants it (backslashes).
std::string DllPath(const char* path) {
  std::string p = path;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

std::string TempPath(const std::string& name) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "unicows_standin_" + std::to_string(GetCurrentProcessId()) + "_" +
         name;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return lines;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(f);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no newline>");
  return lines;
}

// Each test loads the stand-in afresh (its log file is chosen at its first
// call) with UNICOWS_STANDIN_LOG naming a file of its own.
class UnicowsStandin : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = TempPath(::testing::UnitTest::GetInstance()->current_test_info()->name() +
                    std::string(".log"));
    DeleteFileA(log_.c_str());
    SetEnvironmentVariableA("UNICOWS_STANDIN_LOG", log_.c_str());
  }
  void TearDown() override {
    if (dll_) FreeLibrary(dll_);
    SetEnvironmentVariableA("UNICOWS_STANDIN_LOG", nullptr);
    DeleteFileA(log_.c_str());
  }
  void Load(const char* path = UNICOWS_STANDIN_DLL) {
    dll_ = LoadLibraryA(DllPath(path).c_str());
    ASSERT_NE(dll_, nullptr) << path << ": error " << GetLastError();
  }
  // The stand-in's export NAME, typed like the system's function.
  template <typename F>
  F Get(const char* name, F) {
    FARPROC p = GetProcAddress(dll_, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
  }

  std::string log_;
  HMODULE dll_ = nullptr;
};

#define STANDIN_GET(name) Get(LIRROW_UNICODE_NAME(name), &::name)

TEST_F(UnicowsStandin, ExportsEveryFunctionOfTheTableAsItsOwnCode) {
  Load();
  int count = 0;
#define CHECK_EXPORT(dll, name)                                                                \
  {                                                                                            \
    FARPROC own = GetProcAddress(dll_, LIRROW_UNICODE_NAME(name));                             \
    FARPROC system = GetProcAddress(LoadLibraryA(#dll ".dll"), LIRROW_UNICODE_NAME(name));     \
    EXPECT_NE(own, nullptr) << LIRROW_UNICODE_NAME(name);                                      \
    EXPECT_NE(system, nullptr) << LIRROW_UNICODE_NAME(name);                                   \
    EXPECT_NE(reinterpret_cast<void*>(own), reinterpret_cast<void*>(system))                   \
        << LIRROW_UNICODE_NAME(name) << " is the system's own function, not a logged forward"; \
    ++count;                                                                                   \
  }
  LIRROW_UNICODE_CALLS(CHECK_EXPORT)
#undef CHECK_EXPORT
  EXPECT_GT(count, 0);
  // Nothing else: the layer's exports are the table.
  auto* base = reinterpret_cast<const unsigned char*>(dll_);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
  EXPECT_EQ(exports->NumberOfNames, static_cast<DWORD>(count));
}

TEST_F(UnicowsStandin, TheIncompleteVariantLacksCopyFileWAndMciSendStringW) {
  Load(UNICOWS_STANDIN_INCOMPLETE_DLL);
  EXPECT_EQ(GetProcAddress(dll_, "CopyFileW"), nullptr);
  EXPECT_EQ(GetProcAddress(dll_, "mciSendStringW"), nullptr);
  EXPECT_NE(GetProcAddress(dll_, "CreateFileW"), nullptr);
  EXPECT_NE(GetProcAddress(dll_, "lstrcmpiW"), nullptr);
}

// Seven arguments, three of them on the stack on x86_64 (all of them on
// i686, where the callee pops them): the creation disposition and the flags
// must arrive, or CREATE_NEW would not refuse and the file would stay.
TEST_F(UnicowsStandin, CreateFileWGetsEveryArgumentAndItsResultAndLastError) {
  Load();
  auto create = STANDIN_GET(CreateFileW);
  auto attributes = STANDIN_GET(GetFileAttributesW);
  const std::wstring path = Wide(TempPath("created.bin"));
  DeleteFileW(path.c_str());

  HANDLE f = create(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(f, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 3u);
  EXPECT_NE(attributes(path.c_str()), INVALID_FILE_ATTRIBUTES);

  SetLastError(0);
  HANDLE again = create(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);

  CloseHandle(f);  // delete on close
  SetLastError(0);
  EXPECT_EQ(attributes(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_EQ(ReadLines(log_), (std::vector<std::string>{"CreateFileW", "GetFileAttributesW",
                                                       "CreateFileW", "GetFileAttributesW"}));
}

// Twelve arguments, the deepest on the stack (lpParam) read back by the
// window procedure from its CREATESTRUCT; the text comes back through
// another forward, and messages sent through SendMessageW reach the window.
struct Created {
  int x, y, cx, cy;
  void* param;
  LRESULT answered;
};
Created g_created;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    g_created = {cs->x, cs->y, cs->cx, cs->cy, cs->lpCreateParams, 0};
  }
  if (msg == WM_APP + 1) return static_cast<LRESULT>(wp * 1000 + lp);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST_F(UnicowsStandin, WindowCallsGetEveryArgumentAndCallBack) {
  Load();
  auto register_class = STANDIN_GET(RegisterClassExW);
  auto create_window = STANDIN_GET(CreateWindowExW);
  auto get_text = STANDIN_GET(GetWindowTextW);
  auto send = STANDIN_GET(SendMessageW);

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = RecordingProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"UnicowsStandinTest";
  ASSERT_NE(register_class(&wc), 0) << GetLastError();
  int param = 0;
  HWND hwnd = create_window(WS_EX_TOOLWINDOW, L"UnicowsStandinTest", L"Lirrow \u00fc\u4e2d",
                            WS_POPUP, 11, 22, 333, 144, nullptr, nullptr, wc.hInstance, &param);
  ASSERT_NE(hwnd, nullptr) << GetLastError();
  EXPECT_EQ(g_created.x, 11);
  EXPECT_EQ(g_created.y, 22);
  EXPECT_EQ(g_created.cx, 333);
  EXPECT_EQ(g_created.cy, 144);
  EXPECT_EQ(g_created.param, &param);

  wchar_t text[32] = {};
  EXPECT_EQ(get_text(hwnd, text, 32), 9);
  EXPECT_STREQ(text, L"Lirrow \u00fc\u4e2d");
  EXPECT_EQ(send(hwnd, WM_APP + 1, 7, 42), 7042);

  DestroyWindow(hwnd);
  UnregisterClassW(L"UnicowsStandinTest", wc.hInstance);
  EXPECT_EQ(ReadLines(log_), (std::vector<std::string>{"RegisterClassExW", "CreateWindowExW",
                                                       "GetWindowTextW", "SendMessageW"}));
}

// SetWindowLongPtr does not clear the last error when it succeeds, so a
// caller sets it to 0 first to tell a previous value of 0 from a failure.
// The first call opens the log file, which already exists: OPEN_ALWAYS then
// sets ERROR_ALREADY_EXISTS, which must not reach the caller.
TEST_F(UnicowsStandin, TheLoggingLeavesTheCallersLastError) {
  HANDLE f = CreateFileA(log_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written;
  WriteFile(f, "earlier\n", 8, &written, nullptr);
  CloseHandle(f);
  HWND hwnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                              nullptr);
  ASSERT_NE(hwnd, nullptr);
  Load();
  auto set_long = STANDIN_GET(SetWindowLongPtrW);
  auto compare = STANDIN_GET(lstrcmpiW);

  SetLastError(0);
  EXPECT_EQ(set_long(hwnd, GWLP_USERDATA, 42), 0);
  EXPECT_EQ(GetLastError(), 0u);
  SetLastError(0);
  EXPECT_EQ(set_long(hwnd, GWLP_USERDATA, 43), 42);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_USERDATA), 43);
  SetLastError(12345);
  EXPECT_EQ(compare(L"Lirrow", L"LIRROW"), 0);
  EXPECT_EQ(GetLastError(), 12345u);
  DestroyWindow(hwnd);
  // Appended to what was there.
  EXPECT_EQ(ReadLines(log_),
            (std::vector<std::string>{"earlier", LIRROW_UNICODE_NAME(SetWindowLongPtrW),
                                      LIRROW_UNICODE_NAME(SetWindowLongPtrW), "lstrcmpiW"}));
}

// Calls of several threads at once: every one is logged, on a line of its
// own (the first calls race to open the log file).
DWORD WINAPI CompareMany(void* compare) {
  auto fn = reinterpret_cast<decltype(&::lstrcmpiW)>(compare);
  for (int i = 0; i < 500; ++i) {
    if (fn(L"abc", L"ABD") >= 0) return 1;
  }
  return 0;
}

TEST_F(UnicowsStandin, CallsFromSeveralThreadsAreEachLoggedWhole) {
  Load();
  auto compare = STANDIN_GET(lstrcmpiW);
  HANDLE threads[4];
  for (HANDLE& t : threads) {
    t = CreateThread(nullptr, 0, CompareMany, reinterpret_cast<void*>(compare), 0, nullptr);
    ASSERT_NE(t, nullptr);
  }
  ASSERT_EQ(WaitForMultipleObjects(4, threads, TRUE, 20000), WAIT_OBJECT_0);
  for (HANDLE t : threads) {
    DWORD code = 1;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(t);
  }
  const std::vector<std::string> lines = ReadLines(log_);
  EXPECT_EQ(lines.size(), 2000u);
  for (const std::string& line : lines) ASSERT_EQ(line, "lstrcmpiW");
}

TEST_F(UnicowsStandin, WritesNoLogWhenTheVariableIsUnset) {
  SetEnvironmentVariableA("UNICOWS_STANDIN_LOG", nullptr);
  Load();
  auto compare = STANDIN_GET(lstrcmpiW);
  EXPECT_LT(compare(L"a", L"B"), 0);
  EXPECT_EQ(GetFileAttributesA(log_.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
