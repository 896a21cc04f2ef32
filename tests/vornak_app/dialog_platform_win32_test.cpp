// The Win32 binding of the dialog seam's process calls, against the real API
// (under Wine): a command that is ended, or whose handle is closed, takes the
// programs it started with it.
// The binding's header first: it brings in <windows.h> after the portable
// constants whose names are Windows macros.
#include "dialog_platform_win32.h"

#include <gtest/gtest.h>

#include <string>

namespace vornak::test {
namespace {

// The stand-in format.com, by its Windows path.
std::string StubPath() {
  std::string path = "Z:" FORMAT_STUB_EXE;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string TempFile(const char* name) {
  char dir[MAX_PATH] = {0};
  ::GetTempPathA(sizeof dir, dir);
  return std::string(dir) + "vornak_job_" + std::to_string(::GetCurrentProcessId()) + "_" + name;
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// cmd /c starts the stand-in, which waits `delayMs` and then writes its log:
// a log that appears after the command was ended means that the stand-in
// escaped.
struct SlowCommand {
  explicit SlowCommand(const char* name) : log(TempFile(name)) {
    ::DeleteFileA(log.c_str());
    ::SetEnvironmentVariableA("FORMAT_STUB_LOG", log.c_str());
    ::SetEnvironmentVariableA("FORMAT_STUB_DELAY_MS", "3000");
  }
  ~SlowCommand() {
    ::SetEnvironmentVariableA("FORMAT_STUB_DELAY_MS", nullptr);
    ::DeleteFileA(log.c_str());
  }
  std::string log;
};

TEST(Win32Processes, EndingTheCommandEndsWhatItStarted) {
  SlowCommand slow("terminate.log");
  Win32DialogPlatform platform(::GetModuleHandleA(nullptr));
  const ProcessHandle p = platform.StartHidden("cmd /c " + StubPath() + " E:/FS:FAT");
  ASSERT_NE(p, 0u);
  EXPECT_EQ(platform.WaitForProcess(p, 500), WaitResult::TimedOut);
  platform.TerminateProcess(p);
  platform.CloseProcess(p);
  ::Sleep(4500);
  EXPECT_FALSE(Exists(slow.log)) << "the started program ran on after its command was ended";
}

TEST(Win32Processes, ACommandThatEndsIsSeenToEnd) {
  SlowCommand slow("exit.log");
  ::SetEnvironmentVariableA("FORMAT_STUB_DELAY_MS", "0");
  Win32DialogPlatform platform(::GetModuleHandleA(nullptr));
  const ProcessHandle p = platform.StartHidden("cmd /c " + StubPath() + " E:/FS:FAT < NUL");
  ASSERT_NE(p, 0u);
  EXPECT_EQ(platform.WaitForProcess(p, 20000), WaitResult::Exited);
  platform.CloseProcess(p);
  EXPECT_TRUE(Exists(slow.log));
  EXPECT_EQ(platform.StartHidden("no-such-program-here.exe"), 0u);
}

// A window that records when a posted message reached it.
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    *reinterpret_cast<DWORD*>(::GetWindowLongPtrA(window, GWLP_USERDATA)) = ::GetTickCount();
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI PostLater(void* window) {
  ::Sleep(500);
  ::PostMessageA(static_cast<HWND>(window), WM_APP, 0, 0);
  return 0;
}

// While the system format command runs (minutes on a large disk), input
// posted to the window is taken at once: a window that takes none for 5 s is
// shown as not responding.
TEST(Win32Processes, TheWindowTakesPostedMessagesWhileTheCommandRuns) {
  SlowCommand slow("input.log");
  WNDCLASSA wc = {};
  wc.lpfnWndProc = RecordingProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "VornakWaitTest";
  ::RegisterClassA(&wc);
  HWND window = ::CreateWindowA("VornakWaitTest", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  DWORD handledAt = 0;
  ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&handledAt));
  Win32DialogPlatform platform(wc.hInstance);
  const ProcessHandle p = platform.StartHidden("cmd /c " + StubPath() + " E:/FS:FAT < NUL");
  ASSERT_NE(p, 0u);
  const DWORD start = ::GetTickCount();
  HANDLE poster = ::CreateThread(nullptr, 0, PostLater, window, 0, nullptr);
  EXPECT_EQ(platform.WaitForProcess(p, 20000), WaitResult::Exited);
  const DWORD ended = ::GetTickCount();
  platform.CloseProcess(p);
  ::WaitForSingleObject(poster, INFINITE);
  ::CloseHandle(poster);
  ::DestroyWindow(window);
  ASSERT_NE(handledAt, 0u) << "the posted message was not taken during the wait";
  EXPECT_LT(handledAt - start, 1500u)
      << "taken only " << handledAt - start << " ms after the start";
  EXPECT_GT(ended - start, 2500u) << "the command did not run long enough to show anything";
}

// The runtime's three W calls are served by the ANSI functions: the import
// slot holds our function, not KERNEL32's, and answers as the system would.
TEST(RuntimeImports, TheRuntimesWCallsAreServedByTheAnsiFunctions) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  EXPECT_NE(reinterpret_cast<void*>(&::GetModuleHandleW),
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetModuleHandleW")));
  EXPECT_EQ(::GetModuleHandleW(nullptr), GetModuleHandleA(nullptr));
  EXPECT_EQ(::GetModuleHandleW(L"kernel32.dll"), kernel);
  EXPECT_EQ(::LoadLibraryW(L"user32.dll"), GetModuleHandleA("user32.dll"));

  SetLastError(0);
  EXPECT_EQ(::GetModuleHandleW(L"\x4E2D\x6587.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  HANDLE named = ::CreateSemaphoreW(nullptr, 1, 1, L"vornak-runtime-imports-test");
  ASSERT_NE(named, nullptr);
  HANDLE again = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "vornak-runtime-imports-test");
  EXPECT_NE(again, nullptr) << "the semaphore must carry the name it was given";
  if (again) CloseHandle(again);
  CloseHandle(named);
}

}  // namespace
}  // namespace vornak::test
