#include "dialog_platform_win32.h"

#include <shlobj.h>

#include <vector>

#include "../res/resource.h"

namespace vornak {

namespace {

struct AboutTexts {
  const std::string* caption;
  const std::string* tool;
  const std::string* company;
};

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const AboutTexts* t = reinterpret_cast<const AboutTexts*>(lParam);
      ::SetDlgItemTextA(window, IDC_ABOUT_TOOL, t->tool->c_str());
      ::SetDlgItemTextA(window, IDC_ABOUT_COMPANY, t->company->c_str());
      ::SetWindowTextA(window, t->caption->c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

void CopyEntry(const WIN32_FIND_DATAA& data, FindEntry& entry) {
  entry.name = data.cFileName;
  entry.attributes = data.dwFileAttributes;
}

}  // namespace

int Win32DialogPlatform::MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  return ::MessageBoxA(window_, text, caption, type);
}

void Win32DialogPlatform::SetCaption(const std::string& text) {
  ::SetWindowTextA(window_, text.c_str());
}

void Win32DialogPlatform::SetControlText(int id, const std::string& text) {
  ::SetDlgItemTextA(window_, id, text.c_str());
}

std::string Win32DialogPlatform::GetControlText(int id) {
  HWND item = Item(id);
  if (!item) return std::string();
  const int length = ::GetWindowTextLengthA(item);
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const int got = ::GetWindowTextA(item, buffer.data(), length + 1);
  return std::string(buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

void Win32DialogPlatform::EnableControl(int id, bool enable) {
  ::EnableWindow(Item(id), enable ? TRUE : FALSE);
}

bool Win32DialogPlatform::IsControlEnabled(int id) { return ::IsWindowEnabled(Item(id)) != 0; }

void Win32DialogPlatform::SetCheck(int id, bool checked) {
  ::CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32DialogPlatform::GetCheck(int id) {
  return ::IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

void Win32DialogPlatform::LimitText(int id, int chars) {
  ::SendDlgItemMessageA(window_, id, EM_LIMITTEXT, static_cast<WPARAM>(chars), 0);
}

void Win32DialogPlatform::ComboReset(int id) {
  ::SendDlgItemMessageA(window_, id, CB_RESETCONTENT, 0, 0);
}

void Win32DialogPlatform::ComboAdd(int id, const std::string& text) {
  ::SendDlgItemMessageA(window_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32DialogPlatform::ComboSetSel(int id, int index) {
  ::SendDlgItemMessageA(window_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32DialogPlatform::ComboGetSel(int id) {
  return static_cast<int>(::SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0));
}

void Win32DialogPlatform::SetFocus(int id) {
  // WM_NEXTDLGCTL moves the focus the dialog way: the control also becomes
  // the dialog's current control, and the default button is kept right.
  if (HWND item = Item(id)) {
    ::SendMessageA(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
  }
}

void Win32DialogPlatform::SetWaitCursor(bool wait) {
  waitCursor_ = wait;
  ::SetCursor(::LoadCursor(nullptr, wait ? IDC_WAIT : IDC_ARROW));
}

void Win32DialogPlatform::SetIcon(IconHandle icon) {
  ::SendMessageA(window_, WM_SETICON, ICON_BIG, static_cast<LPARAM>(icon));
  ::SendMessageA(window_, WM_SETICON, ICON_SMALL, static_cast<LPARAM>(icon));
}

void Win32DialogPlatform::RedrawAll() {
  ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Win32DialogPlatform::PumpOneMessage() {
  MSG msg;
  if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
  if (msg.message == WM_QUIT) {
    // Leave the quit request for the modal loop that owns it.
    ::PostQuitMessage(static_cast<int>(msg.wParam));
    return;
  }
  // Keyboard messages for the dialog go through the dialog manager, so that
  // Esc and Enter act as they do in the modal loop.
  if (window_ && ::IsDialogMessageA(window_, &msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
}

void Win32DialogPlatform::EndDialog(int result) { ::EndDialog(window_, result); }

bool Win32DialogPlatform::AppendAboutItem(const std::string& text) {
  HMENU menu = ::GetSystemMenu(window_, FALSE);
  if (!menu) return false;
  ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text.c_str());
  return true;
}

void Win32DialogPlatform::EnableSystemMenuItem(int position, bool enable) {
  HMENU menu = ::GetSystemMenu(window_, FALSE);
  if (!menu) return;
  ::EnableMenuItem(menu, static_cast<UINT>(position),
                   MF_BYPOSITION | (enable ? MF_ENABLED : MF_GRAYED));
}

void Win32DialogPlatform::ShowAboutBox(const std::string& caption, const std::string& tool,
                                       const std::string& company) {
  AboutTexts texts{&caption, &tool, &company};
  ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUTBOX), window_, AboutProc,
                    reinterpret_cast<LPARAM>(&texts));
}

bool Win32DialogPlatform::IsDBCSLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != 0; }

void Win32DialogPlatform::Sleep(std::uint32_t ms) { ::Sleep(ms); }

std::uint32_t Win32DialogPlatform::GetTickCount() { return ::GetTickCount(); }

void Win32DialogPlatform::NotifyShellChanged(const std::string& path) {
  ::SHChangeNotify(SHCNE_ALLEVENTS, SHCNF_PATHA, path.c_str(), nullptr);
}

namespace {

// The job-object calls, bound at run time: Windows 98/ME have none of them,
// and the program must load there.
struct JobCalls {
  using CreateJobObjectAFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCSTR);
  using AssignProcessToJobObjectFn = BOOL(WINAPI*)(HANDLE, HANDLE);
  using SetInformationJobObjectFn = BOOL(WINAPI*)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD);
  using TerminateJobObjectFn = BOOL(WINAPI*)(HANDLE, UINT);
  CreateJobObjectAFn create = nullptr;
  AssignProcessToJobObjectFn assign = nullptr;
  SetInformationJobObjectFn setInformation = nullptr;
  TerminateJobObjectFn terminate = nullptr;
  bool Available() const { return create && assign && setInformation && terminate; }
};

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const JobCalls& Jobs() {
  static const JobCalls calls = [] {
    JobCalls c;
    if (HMODULE kernel = ::GetModuleHandleA("kernel32.dll")) {
      c.create = Bind<JobCalls::CreateJobObjectAFn>(kernel, "CreateJobObjectA");
      c.assign = Bind<JobCalls::AssignProcessToJobObjectFn>(kernel, "AssignProcessToJobObject");
      c.setInformation =
          Bind<JobCalls::SetInformationJobObjectFn>(kernel, "SetInformationJobObject");
      c.terminate = Bind<JobCalls::TerminateJobObjectFn>(kernel, "TerminateJobObject");
    }
    return c;
  }();
  return calls;
}

// A job whose processes all end when its last handle is closed; null where
// the system has no job objects.
HANDLE CreateKillOnCloseJob() {
  const JobCalls& jobs = Jobs();
  if (!jobs.Available()) return nullptr;
  HANDLE job = jobs.create(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  ZeroMemory(&limits, sizeof limits);
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!jobs.setInformation(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    ::CloseHandle(job);
    return nullptr;
  }
  return job;
}

// What StartHidden hands out: the process and the job that holds it and
// everything it starts (null without job objects).
struct StartedProcess {
  HANDLE process;
  HANDLE job;
};

StartedProcess* Started(ProcessHandle process) {
  return reinterpret_cast<StartedProcess*>(process);
}

}  // namespace

ProcessHandle Win32DialogPlatform::StartHidden(const std::string& commandLine) {
  // As WinExec(commandLine, SW_HIDE) does, but keeping the process handle so
  // that the caller can wait for the command to end, and inside a job so that
  // ending it also ends what it started (cmd starts format.com). The process
  // starts suspended and runs only once it is in the job: nothing it starts
  // can escape.
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  HANDLE job = CreateKillOnCloseJob();
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
    if (job) ::CloseHandle(job);
    return 0;
  }
  // A program that runs inside a job of its own may not be able to nest one
  // (before Windows 8): the command then runs outside any job.
  if (job && !Jobs().assign(job, info.hProcess)) {
    ::CloseHandle(job);
    job = nullptr;
  }
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  return reinterpret_cast<ProcessHandle>(new StartedProcess{info.hProcess, job});
}

WaitResult Win32DialogPlatform::WaitForProcess(ProcessHandle process, std::uint32_t timeoutMs) {
  HANDLE handle = Started(process)->process;
  const DWORD start = ::GetTickCount();
  // The window takes every message while the command runs (a wait of many
  // minutes on a large disk): a window that takes no input for 5 s is shown
  // as not responding, and a user who then ends it ends the command too.
  // The run's controls are disabled meanwhile and the Exit command is
  // ignored (InProcessWait), so input changes nothing of the run.
  inProcessWait_ = true;
  WaitResult result = WaitResult::Failed;
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeoutMs) {
      result = WaitResult::TimedOut;
      break;
    }
    const DWORD r =
        ::MsgWaitForMultipleObjects(1, &handle, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) {
      result = WaitResult::Exited;
      break;
    }
    if (r == WAIT_TIMEOUT) {
      result = WaitResult::TimedOut;
      break;
    }
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
      PumpOneMessage();
    }
  }
  inProcessWait_ = false;
  return result;
}

void Win32DialogPlatform::TerminateProcess(ProcessHandle process) {
  const StartedProcess* started = Started(process);
  if (started->job && Jobs().terminate(started->job, 1)) return;
  ::TerminateProcess(started->process, 1);
}

void Win32DialogPlatform::CloseProcess(ProcessHandle process) {
  StartedProcess* started = Started(process);
  ::CloseHandle(started->process);
  // The last handle of the job: whatever still runs in it ends.
  if (started->job) ::CloseHandle(started->job);
  delete started;
}

std::string Win32DialogPlatform::GetWindowsDirectoryA() {
  char buffer[300] = {0};
  const UINT n = ::GetWindowsDirectoryA(buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

std::string Win32DialogPlatform::GetModuleFileNameA() {
  char buffer[MAX_PATH + 1] = {0};
  const DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::string(buffer, n <= MAX_PATH ? n : 0);
}

bool Win32DialogPlatform::CanOpenForReading(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

bool Win32DialogPlatform::WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  const BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  ::CloseHandle(h);
  return ok && done == bytes.size();
}

bool Win32DialogPlatform::CopyFileA(const std::string& from, const std::string& to,
                                    bool failIfExists) {
  return ::CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != 0;
}

bool Win32DialogPlatform::DeleteFileA(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != 0;
}

FindHandle Win32DialogPlatform::FindFirstFileA(const std::string& pattern, FindEntry& entry) {
  WIN32_FIND_DATAA data;
  HANDLE h = ::FindFirstFileA(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return 0;
  CopyEntry(data, entry);
  return reinterpret_cast<FindHandle>(h);
}

bool Win32DialogPlatform::FindNextFileA(FindHandle search, FindEntry& entry) {
  WIN32_FIND_DATAA data;
  if (!::FindNextFileA(reinterpret_cast<HANDLE>(search), &data)) return false;
  CopyEntry(data, entry);
  return true;
}

void Win32DialogPlatform::FindClose(FindHandle search) {
  ::FindClose(reinterpret_cast<HANDLE>(search));
}

}  // namespace vornak
