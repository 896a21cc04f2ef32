// The Win32 tool runner, progress windows and pipeline binding against the
// real system (Wine here), with the mingw builds of the stand-in tools.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "converter_app.h"
#include "pipeline_fakes.h"
#include "pipeline_win32.h"
#include "resource.h"
#include "tool_spinner.h"

#ifndef STANDINS_DIR
#error "STANDINS_DIR must name the folder of the stand-in tools"
#endif

namespace lirrow::test {
namespace {

// The converter's temporary files have fixed names in the user's temporary
// folder, and the GUI conversion tests, running meanwhile in the same Wine
// prefix, create and clear the same files there. This process takes a
// temporary folder of its own: GetTempPath looks at TMP first, then TEMP.
class PrivateTempFolder final : public ::testing::Environment {
 public:
  void SetUp() override {
    wchar_t shared[MAX_PATH] = L"";
    ASSERT_NE(GetTempPathW(MAX_PATH, shared), 0u);
    folder_ =
        std::wstring(shared) + L"lirrow-pipeline-tests-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    SetEnvironmentVariableW(L"TMP", folder_.c_str());
    SetEnvironmentVariableW(L"TEMP", folder_.c_str());
    wchar_t now[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, now);
    ASSERT_EQ(std::wstring(now), folder_ + L"\\");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(fs::path(folder_), ignored);
  }

 private:
  std::wstring folder_;
};
::testing::Environment* const kPrivateTemp =
    ::testing::AddGlobalTestEnvironment(new PrivateTempFolder);

std::wstring TextOf(HWND window, int id) {
  wchar_t text[300] = L"";
  GetDlgItemTextW(window, id, text, 300);
  return text;
}

// A folder with copies of the stand-ins, so control files stay private.
class ToolsFolder {
 public:
  ToolsFolder() {
    for (const char* tool : {"Vrn_dec.exe", "QL8_Dec.exe", "QL4_Dec.exe", "sqenc.exe"})
      CopyFileW(Wide(std::string(STANDINS_DIR) + "\\" + tool).c_str(), Wide(Path(tool)).c_str(),
                FALSE);
  }
  std::string Path(const char* name) const { return (dir.Path() / name).string(); }
  std::wstring W() const { return dir.W(); }
  void Control(const char* file, const std::string& words) const {
    std::ofstream(Path(file)) << words << "\n";
  }
  std::wstring Command(const char* tool, const std::wstring& in, const std::wstring& out) const {
    return CommandLineOf({W(), Wide(tool), {}, in, out});
  }
  TempDir dir;
};

// A plain top-level window to own the progress windows.
HWND OwnerWindow() {
  static HWND window = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 100, 80, 500,
                                       300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  return window;
}

// Watches the tool progress window from another thread while RunTool waits
// in its modal loop: records the distinct lines shown, and can knock on the
// window with the ways a user would try to close it.
class ProgressWatcher {
 public:
  explicit ProgressWatcher(bool knock)
      : owner_(OwnerWindow()), knock_(knock), thread_([this] { Watch(); }) {}
  ~ProgressWatcher() { Stop(); }
  void Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::wstring> lines;
  std::wstring cancelCaption;
  bool sawHiddenOk = false;

 private:
  void Watch() {
    while (!done_) {
      HWND dialog = FindProgressWindow();
      // The line is never empty while the window is up; an empty read
      // is a window that is closing.
      const std::wstring line = dialog ? TextOf(dialog, IDC_PROGRESS_LINE) : std::wstring();
      if (!line.empty()) {
        if (lines.empty() || lines.back() != line) lines.push_back(line);
        const std::wstring cancel = TextOf(dialog, IDCANCEL);
        if (!cancel.empty()) cancelCaption = cancel;
        sawHiddenOk = !IsWindowVisible(GetDlgItem(dialog, IDOK)) &&
                      !IsWindowVisible(GetDlgItem(dialog, IDCANCEL));
        if (knock_ && !knocked_) {
          knocked_ = true;
          PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
          PostMessageW(dialog, WM_COMMAND, IDOK, 0);
          PostMessageW(dialog, WM_CLOSE, 0, 0);
          PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
          PostMessageW(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
          PostMessageW(dialog, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        }
      }
      Sleep(50);
    }
  }
  HWND FindProgressWindow() {
    HWND found = nullptr;
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
         w = FindWindowExW(nullptr, w, L"#32770", nullptr))
      if (GetWindow(w, GW_OWNER) == owner_ && GetDlgItem(w, IDC_PROGRESS_LINE)) found = w;
    return found;
  }
  HWND owner_;
  bool knock_;
  bool knocked_ = false;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

class Win32RunnerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SetAppTexts(EnglishTexts()); }
  ToolsFolder tools;
  TempDir work;
};

TEST_F(Win32RunnerTest, RunToolRecordsTheExitCodeAndHandsBackBothHandles) {
  WriteBytes(work.Path() / "in.rec", std::vector<unsigned char>(100, 7));
  for (std::uint32_t code : {0u, 7u, 262u}) {
    tools.Control("Vrn_dec.ctl", "exit " + std::to_string(code));
    std::wstring command = tools.Command("Vrn_dec.exe", Wide((work.Path() / "in.rec").string()),
                                         Wide((work.Path() / "out.wav").string()));
    const std::wstring before = command;
    ToolRun run = RunTool(OwnerWindow(), command, L"Decoding");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(command, before);
    EXPECT_EQ(run.exitCode, code);
    DWORD fromProcess = 99;
    ASSERT_TRUE(GetExitCodeProcess(reinterpret_cast<HANDLE>(run.process), &fromProcess));
    EXPECT_EQ(fromProcess, code);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(run.thread), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(run.thread)));
    EXPECT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(run.process)));
    // 16 bytes of sound per input byte behind a 44-byte header.
    EXPECT_EQ(fs::file_size(work.Path() / "out.wav"), 44u + 1600u);
  }
}

TEST_F(Win32RunnerTest, AProgramThatDoesNotExistIsNotStartedAndLeavesTheSystemsReason) {
  std::wstring command = L"\"" + tools.W() + L"\\nothing.exe\" \"a\" \"b\"";
  SetLastError(0);
  const ToolRun run = RunTool(OwnerWindow(), command, L"x");
  EXPECT_FALSE(run.started);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_TRUE(ReportSystemError(OwnerWindow()));  // nothing to report: no box
}

TEST_F(Win32RunnerTest, TheSpinnerTurnsWhileTheToolRunsAndContinuesInTheNextRun) {
  WriteBytes(work.Path() / "in.sbs", std::vector<unsigned char>(10, 1));
  auto run = [&](bool knock) {
    std::wstring command = tools.Command("QL8_Dec.exe", Wide((work.Path() / "in.sbs").string()),
                                         Wide((work.Path() / "out.wav").string()));
    ProgressWatcher watcher(knock);
    const DWORD started = GetTickCount();
    ToolRun result = RunTool(OwnerWindow(), command, L"Busy");
    const DWORD elapsed = GetTickCount() - started;
    watcher.Stop();
    CloseHandle(reinterpret_cast<HANDLE>(result.thread));
    CloseHandle(reinterpret_cast<HANDLE>(result.process));
    EXPECT_TRUE(result.started);
    EXPECT_GE(elapsed, 2000u) << "the window closed before the tool ended";
    EXPECT_EQ(watcher.cancelCaption, L"Cancel");
    EXPECT_TRUE(watcher.sawHiddenOk);
    return watcher.lines;
  };
  tools.Control("QL8_Dec.ctl", "sleep 2.2");
  const unsigned first = ToolProgressSpinner().Count();
  const std::vector<std::wstring> one = run(true);  // Esc, Enter, close and clicks change nothing
  const unsigned second = ToolProgressSpinner().Count();
  const std::vector<std::wstring> two = run(false);
  const unsigned third = ToolProgressSpinner().Count();

  // Ticks at 0.8 s and 1.6 s, more when the tool started slowly.
  EXPECT_GE(second - first, 2u);
  EXPECT_LE(second - first, 4u);  // a slow start can add a tick
  EXPECT_GE(third - second, 2u);
  // The lines shown: the text alone, then one frame per tick from where the
  // counter stood; the second run continues the first one's cycle.
  auto expected = [](unsigned from, unsigned to) {
    std::vector<std::wstring> lines{L"Busy"};
    for (unsigned i = from; i < to; ++i) lines.push_back(SpinnerFrame(i, L"Busy"));
    return lines;
  };
  EXPECT_EQ(one, expected(first, second));
  EXPECT_EQ(two, expected(second, third));
}

TEST_F(Win32RunnerTest,
       TheExtractionWindowIsCentredModelessAndSpinsOnlyWhileMessagesAreDispatched) {
  const HWND owner = OwnerWindow();
  const unsigned before = ExtractionSpinner().Count();
  const HWND window = OpenExtractionWindow(owner, L"Extracting");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(TextOf(window, IDC_EXTRACTION_LINE), L"");

  RECT ownerRect, ownerClient, rect, client;
  GetWindowRect(owner, &ownerRect);
  GetClientRect(owner, &ownerClient);
  GetWindowRect(window, &rect);
  GetClientRect(window, &client);
  EXPECT_EQ(rect.left, ownerRect.left + (ownerClient.right - client.right) / 2);
  EXPECT_EQ(rect.top, ownerRect.top + (ownerClient.bottom - client.bottom) / 2);

  Sleep(1000);  // no dispatching: no tick is handled
  EXPECT_EQ(TextOf(window, IDC_EXTRACTION_LINE), L"");
  const DWORD until = GetTickCount() + 1000;
  while (GetTickCount() < until) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(10);
  }
  const unsigned after = ExtractionSpinner().Count();
  EXPECT_GE(after, before + 1);
  EXPECT_EQ(TextOf(window, IDC_EXTRACTION_LINE), SpinnerFrame(after - 1, L"Extracting"));
  CloseExtractionWindow(window);
  EXPECT_FALSE(IsWindow(window));
}

// ---- the pipeline over the Win32 platform -----------------------------------

struct WindowHost final : ConversionHost {
  FakeHost& inner;
  explicit WindowHost(FakeHost& host) : inner(host) {}
  void ShowMessage(const std::wstring& t, MessageIcon i) override { inner.ShowMessage(t, i); }
  void* OwnerWindow() override { return test::OwnerWindow(); }
  const TextTable& Texts() override { return inner.Texts(); }
  unsigned LanguageId() override { return inner.LanguageId(); }
  const std::wstring& StartDirectory() override { return inner.StartDirectory(); }
};

std::wstring TempFile(const wchar_t* name) {
  wchar_t temp[256] = L"";
  GetTempPathW(256, temp);
  return std::wstring(temp) + name;
}

TEST_F(Win32RunnerTest, ThePipelineConvertsEachLayoutWithTheRealTools) {
  std::vector<std::wstring> log;
  FakeHost fake(log, tools.W());
  fake.mp3 = true;
  WindowHost host(fake);
  std::unique_ptr<Conversion> conversion = CreateWin32Pipeline(host);
  for (const wchar_t* temp : {L"temp.sbs", L"temp.wav", L"tmp.wav"})  // an earlier abandoned run's
    DeleteFileW(TempFile(temp).c_str());
  for (unsigned char first : {0x05, 0x81, 0x41}) {
    SCOPED_TRACE(static_cast<int>(first));
    std::vector<unsigned char> recording(512 + 40 * 512, 0x33);
    recording[0] = first;
    WriteBytes(work.Path() / "memo x.rec", recording);
    const std::wstring source = Wide((work.Path() / "memo x.rec").string());
    ASSERT_TRUE(fake.Convert(*conversion, source));
    EXPECT_TRUE(fake.messages.empty());
    const std::wstring mp3 = Wide((work.Path() / "memo x.mp3").string());
    // The WAV output stays the result only when the encoder did not start:
    // the stand-ins' log tells whether it did.
    const std::vector<unsigned char> runs = ReadBytes(tools.Path("standins.log"));
    EXPECT_EQ(fake.caption, mp3) << "stand-in runs:\n" << std::string(runs.begin(), runs.end());
    EXPECT_TRUE(fs::exists(work.Path() / "memo x.wav"));
    EXPECT_TRUE(fs::exists(work.Path() / "memo x.mp3"));
    for (const wchar_t* temp : {L"temp.sbs", L"temp.wav", L"tmp.wav"})
      EXPECT_EQ(GetFileAttributesW(TempFile(temp).c_str()), INVALID_FILE_ATTRIBUTES)
          << Narrow(temp);
  }
}

TEST_F(Win32RunnerTest, ThePipelineAbandonsSilentlyOn262) {
  std::vector<std::wstring> log;
  FakeHost fake(log, tools.W());
  WindowHost host(fake);
  std::unique_ptr<Conversion> conversion = CreateWin32Pipeline(host);
  tools.Control("QL4_Dec.ctl", "exit 262");
  std::vector<unsigned char> recording(512 + 4 * 512, 0x10);
  recording[0] = 0x40;
  WriteBytes(work.Path() / "a.rec", recording);
  EXPECT_FALSE(fake.Convert(*conversion, Wide((work.Path() / "a.rec").string())));
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_FALSE(fs::exists(work.Path() / "a.wav"));
  EXPECT_NE(GetFileAttributesW(TempFile(L"temp.sbs").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(TempFile(L"temp.wav").c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileW(TempFile(L"temp.sbs").c_str());
  DeleteFileW(TempFile(L"temp.wav").c_str());
}

// Answers the message boxes captioned "Lirrow" that appear meanwhile with
// OK and keeps their texts, so that a box the code under test should not
// show fails the test instead of blocking it.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher() : thread_([this] { Watch(); }) {}
  ~MessageBoxWatcher() { Stop(); }
  void Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::wstring> texts;

 private:
  void Watch() {
    while (!done_) {
      for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", L"Lirrow"); w;
           w = FindWindowExW(nullptr, w, L"#32770", L"Lirrow")) {
        if (!IsWindowVisible(w) || answered_ == w) continue;
        answered_ = w;
        texts.push_back(TextOf(w, 0xFFFF));
        PostMessageW(w, WM_COMMAND, IDOK, 0);
      }
      Sleep(50);
    }
  }
  HWND answered_ = nullptr;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// A window whose one posted message cuts the file `path` down to 1024
// bytes: the extraction's message pump dispatches it while it reads.
class Truncator {
 public:
  explicit Truncator(const std::wstring& path) : path_(path) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"LirrowTestTruncator";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Truncator() { DestroyWindow(window_); }
  void Arm() { PostMessageW(window_, WM_APP, 0, 0); }
  bool truncated = false;

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Truncator*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (message == WM_APP && self) {
      const HANDLE file =
          CreateFileW(self->path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        SetFilePointer(file, 1024, nullptr, FILE_BEGIN);
        self->truncated = SetEndOfFile(file) != 0;
        CloseHandle(file);
      }
      return 0;
    }
    return DefWindowProcW(w, message, wParam, lParam);
  }
  std::wstring path_;
  HWND window_ = nullptr;
};

// The converter library, noting the last error as the extraction begins,
// and leaving behind, once it has ended, the error of a failed call
// (ERROR_ALREADY_EXISTS from creating a folder that is there), as a window
// procedure run by the last dispatched message may.
struct StaleErrorFiles final : RecordingFiles {
  RecordingFiles& library = LibraryRecordingFiles();
  DWORD errorAtStart = 12345;
  int result = 12345;
  RecordingKind ClassifyRecording(const std::wstring& path) override {
    return library.ClassifyRecording(path);
  }
  int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                       ExtractionHooks& hooks) override {
    errorAtStart = GetLastError();
    result = library.ExtractBitstream(source, target, hooks);
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    CreateDirectoryW(temp, nullptr);
    return result;
  }
  double MeasureDuration(const std::wstring& path) override {
    return library.MeasureDuration(path);
  }
};

TEST_F(Win32RunnerTest, AShortReadAfterAStaleLastErrorShowsConvertErrNotTheStaleText) {
  std::vector<std::wstring> log;
  FakeHost fake(log, tools.W());
  WindowHost host(fake);
  StaleErrorFiles files;
  std::unique_ptr<Conversion> conversion = CreateWin32Pipeline(host, files);
  // An earlier failed run's temp.sbs, created over again.
  WriteBytes(Narrow(TempFile(L"temp.sbs")), std::vector<unsigned char>(10, 1));
  // Longer than the reader's read-ahead, so that it reads again after the cut.
  std::vector<unsigned char> recording(512 + 300 * 512, 0x22);
  recording[0] = 0x80;
  WriteBytes(work.Path() / "short.rec", recording);
  const std::wstring source = Wide((work.Path() / "short.rec").string());

  Truncator truncator(source);
  truncator.Arm();
  MessageBoxWatcher boxes;
  SetLastError(ERROR_ACCESS_DENIED);  // left by some earlier call
  EXPECT_FALSE(fake.Convert(*conversion, source));
  boxes.Stop();

  EXPECT_TRUE(truncator.truncated);
  EXPECT_EQ(files.result, -5);  // a short block
  EXPECT_EQ(files.errorAtStart, 0u);
  EXPECT_TRUE(boxes.texts.empty()) << Narrow(boxes.texts.empty() ? L"" : boxes.texts[0]);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text,
            L"Failed to convert file!Perhaps have no enough space for write!");
  EXPECT_EQ(fake.messages[0].icon, MessageIcon::Warning);
  DeleteFileW(TempFile(L"temp.sbs").c_str());
}

}  // namespace
}  // namespace lirrow::test
