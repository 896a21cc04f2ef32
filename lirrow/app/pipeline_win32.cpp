// The conversion pipeline's platform on Win32.
#include "pipeline_win32.h"

#include "converter_app.h"
#include "unicode_win32.h"

namespace lirrow {

namespace {

class Win32PipelinePlatform final : public PipelinePlatform {
 public:
  explicit Win32PipelinePlatform(ConversionHost& host) : host_(host) {}
  ~Win32PipelinePlatform() override { CloseExtractionWindow(); }

  std::wstring ProgramDirectory() override {
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = Wide().GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, length < MAX_PATH ? length : 0);
    const auto slash = program.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash);
  }
  std::wstring TempDirectory() override {
    wchar_t path[256] = L"";
    const DWORD length = Wide().GetTempPathW(256, path);
    return std::wstring(path, length < 256 ? length : 0);
  }
  bool FileExists(const std::wstring& path) override { return lirrow::FileExists(path); }
  bool CopyFileReplacing(const std::wstring& from, const std::wstring& to) override {
    return Wide().CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
  }
  Rename RenameFile(const std::wstring& from, const std::wstring& to) override {
    if (Wide().MoveFileW(from.c_str(), to.c_str())) return Rename::kRenamed;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Rename::kAbsent : Rename::kFailed;
  }
  bool RemoveFile(const std::wstring& path) override {
    return Wide().DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
  }

  ToolRun RunTool(const ToolInvocation& tool, const std::wstring& baseText) override {
    std::wstring commandLine = CommandLineOf(tool);  // CreateProcess may write into it
    return lirrow::RunTool(Owner(), commandLine, baseText);
  }
  std::uint32_t ReadExitCode(const ToolRun& run) override {
    DWORD code = run.exitCode;
    GetExitCodeProcess(reinterpret_cast<HANDLE>(run.process), &code);
    return code;
  }
  void CloseToolHandles(ToolRun& run) override {
    if (run.thread) CloseHandle(reinterpret_cast<HANDLE>(run.thread));
    if (run.process) CloseHandle(reinterpret_cast<HANDLE>(run.process));
    run.thread = run.process = 0;
  }

  std::uint32_t LastError() override { return GetLastError(); }
  void ClearLastError() override { SetLastError(0); }

  void OpenExtractionWindow(const std::wstring& baseText) override {
    CloseExtractionWindow();
    extraction_ = lirrow::OpenExtractionWindow(Owner(), baseText);
  }
  void CloseExtractionWindow() override {
    lirrow::CloseExtractionWindow(extraction_);
    extraction_ = nullptr;
  }
  void PumpOneMessage() override {
    MSG message;
    if (Wide().PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Not ours to take: leave it for the loop that owns it.
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      TranslateMessage(&message);
      Wide().DispatchMessageW(&message);
    }
  }

 private:
  HWND Owner() { return static_cast<HWND>(host_.OwnerWindow()); }

  ConversionHost& host_;
  HWND extraction_ = nullptr;
};

class Win32Conversion final : public Conversion {
 public:
  Win32Conversion(ConversionHost& host, RecordingFiles& files)
      : platform_(host), pipeline_(host, platform_, files) {}
  bool CheckDecoders() override { return pipeline_.CheckDecoders(); }
  ConversionResult ConvertRecording(const ConversionRequest& request) override {
    return pipeline_.ConvertRecording(request);
  }

 private:
  Win32PipelinePlatform platform_;
  ConversionPipeline pipeline_;
};

}  // namespace

std::unique_ptr<Conversion> CreateWin32Pipeline(ConversionHost& host) {
  return CreateWin32Pipeline(host, LibraryRecordingFiles());
}

std::unique_ptr<Conversion> CreateWin32Pipeline(ConversionHost& host, RecordingFiles& files) {
  return std::make_unique<Win32Conversion>(host, files);
}

}  // namespace lirrow
