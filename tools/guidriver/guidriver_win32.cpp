// guidriver: drives the windows of another program for end-to-end tests.
// Finds top-level windows and message boxes, lists and reads controls, clicks,
// types, selects, presses keys, sends system commands and messages, waits for
// windows and processes to go away, and saves PNG screenshots (automatically on
// every failure). See README.md for the command language.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit_rule.h"
#include "png_writer.h"
#include "text_util.h"

namespace {

using guidriver::Match;
using guidriver::Quote;
using guidriver::TextMatches;

// ---------------------------------------------------------------- text, output

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

void WriteHandle(DWORD which, const std::string& text) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  DWORD mode, written;
  if (GetConsoleMode(h, &mode)) {
    std::wstring w = Wide(text);
    WriteConsoleW(h, w.data(), static_cast<DWORD>(w.size()), &written, nullptr);
  } else {
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

void Out(const std::string& line) { WriteHandle(STD_OUTPUT_HANDLE, line + "\n"); }
void Err(const std::string& line) { WriteHandle(STD_ERROR_HANDLE, line + "\n"); }

std::string Hex(unsigned long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llX", v);
  return buf;
}

std::string HwndText(HWND h) { return Hex(reinterpret_cast<ULONG_PTR>(h)); }

struct Failure : std::runtime_error {
  explicit Failure(const std::string& m) : std::runtime_error(m) {}
};
struct UsageError : std::runtime_error {
  explicit UsageError(const std::string& m) : std::runtime_error(m) {}
};

// A Unix path (under Wine) becomes the DOS path of the same file.
std::wstring HostPath(const std::string& path) {
  if (!path.empty() && path[0] == '/') {
    typedef WCHAR*(CDECL * ToDos)(LPCSTR);
    HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
    ToDos toDos = k32 ? reinterpret_cast<ToDos>(
                            reinterpret_cast<void*>(GetProcAddress(k32, "wine_get_dos_file_name")))
                      : nullptr;
    if (toDos) {
      WCHAR* dos = toDos(path.c_str());
      if (dos) {
        std::wstring w(dos);
        HeapFree(GetProcessHeap(), 0, dos);
        return w;
      }
    }
  }
  return Wide(path);
}

// ---------------------------------------------------------------- arguments

// One command: its name, its --options and its positional words.
class Args {
 public:
  Args(const std::vector<std::string>& words, std::size_t first) {
    static const std::set<std::string> flags = {"--force", "--now", "--chars", "--no-controls"};
    for (std::size_t i = first; i < words.size(); ++i) {
      const std::string& w = words[i];
      if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
        static const std::set<std::string> known = {"--window",
                                                    "--window-sub",
                                                    "--class",
                                                    "--exe",
                                                    "--owner",
                                                    "--hwnd",
                                                    "--caption",
                                                    "--caption-sub",
                                                    "--id",
                                                    "--text",
                                                    "--ctl-class",
                                                    "--timeout",
                                                    "--index",
                                                    "--item",
                                                    "--msg",
                                                    "--wparam",
                                                    "--lparam",
                                                    "--text-is",
                                                    "--text-has",
                                                    "--enabled",
                                                    "--visible",
                                                    "--checked",
                                                    "--sel",
                                                    "--minimized",
                                                    "--item-count",
                                                    "--expect-text",
                                                    "--expect-text-has",
                                                    "--expect-icon",
                                                    "--expect-buttons",
                                                    "--answer",
                                                    "--pid",
                                                    "--volume",
                                                    "--font",
                                                    "--points",
                                                    "--dpi"};
        if (!flags.count(w) && !known.count(w)) throw UsageError("unknown option " + w);
        if (flags.count(w)) {
          opts_[w] = "1";
        } else {
          if (i + 1 >= words.size()) throw UsageError("option " + w + " needs a value");
          opts_[w] = words[++i];
        }
      } else {
        pos_.push_back(w);
      }
    }
  }
  bool Has(const std::string& k) const {
    used_.insert(k);
    return opts_.count(k) != 0;
  }
  std::string Get(const std::string& k, const std::string& def = std::string()) const {
    used_.insert(k);
    auto it = opts_.find(k);
    return it == opts_.end() ? def : it->second;
  }
  long long Number(const std::string& k, long long def) const {
    if (!Has(k)) return def;
    long long v;
    if (!guidriver::ParseNumber(Get(k), v))
      throw UsageError(k + " needs a number, not \"" + Get(k) + "\"");
    return v;
  }
  const std::vector<std::string>& Positional() const { return pos_; }
  std::string Pos(std::size_t i, const std::string& what) const {
    if (i >= pos_.size()) throw UsageError("missing " + what);
    return pos_[i];
  }
  // Options given but never consulted are typing mistakes in a test script.
  void CheckAllUsed() const {
    for (const auto& kv : opts_)
      if (!used_.count(kv.first)) throw UsageError("unknown option " + kv.first);
  }

 private:
  std::map<std::string, std::string> opts_;
  std::vector<std::string> pos_;
  mutable std::set<std::string> used_;
};

// ---------------------------------------------------------------- session state

struct Session {
  double timeout = 15.0;    // seconds for every wait
  std::string shotDir;      // where failure screenshots go
  std::string shotPrefix;   // file name prefix of failure screenshots
  std::set<HWND> answered;  // message boxes already answered in this run
  int shotCount = 0;
};

Session g;

DWORD TimeoutMs(const Args& a) {
  double s = g.timeout;
  if (a.Has("--timeout")) s = std::atof(a.Get("--timeout").c_str());
  if (s < 0) s = 0;
  return static_cast<DWORD>(s * 1000.0);
}

// Polls `ready` every 50 ms until it returns true or the time is up.
template <typename F>
bool WaitFor(DWORD ms, F ready) {
  DWORD start = GetTickCount();
  while (true) {
    if (ready()) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(50);
  }
}

// ---------------------------------------------------------------- window facts

std::wstring ClassOf(HWND h) {
  wchar_t buf[256];
  int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, n > 0 ? n : 0);
}

// The text of a window of any process, through WM_GETTEXT (controls) with a time limit.
std::wstring TextOf(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len)) {
    wchar_t buf[512];
    int n = GetWindowTextW(h, buf, 512);
    return std::wstring(buf, n > 0 ? n : 0);
  }
  std::vector<wchar_t> buf(len + 2, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(buf.data()),
                      SMTO_ABORTIFHUNG, 2000, &got);
  return std::wstring(buf.data());
}

// The caption of a top-level window as the system keeps it: no message is sent,
// so a busy or hung program does not slow down the search.
std::wstring CaptionOf(HWND h) {
  wchar_t buf[1024];
  int n = GetWindowTextW(h, buf, 1024);
  return std::wstring(buf, n > 0 ? n : 0);
}

std::string ExeName(DWORD pid) {
  std::string name;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return name;
  PROCESSENTRY32W pe;
  pe.dwSize = sizeof pe;
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
    if (pe.th32ProcessID == pid) {
      name = Utf8(pe.szExeFile);
      break;
    }
  CloseHandle(snap);
  return name;
}

std::vector<DWORD> ProcessesNamed(const std::string& exe) {
  std::vector<DWORD> pids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32W pe;
  pe.dwSize = sizeof pe;
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
    std::string name = Utf8(pe.szExeFile);
    std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (TextMatches(name, exe, Match::Exact, true)) pids.push_back(pe.th32ProcessID);
  }
  CloseHandle(snap);
  return pids;
}

bool IsMessageBoxLike(HWND h);

// Which top-level windows a command means.
struct WindowSpec {
  std::string caption, captionSub, cls, exe, owner;
  HWND hwnd = nullptr;
  bool messageBox = false;   // only #32770 message boxes
  bool needControls = true;  // a window counts once its controls exist
  bool excludeAnswered = false;

  static WindowSpec From(const Args& a, bool messageBox) {
    WindowSpec s;
    s.messageBox = messageBox;
    s.caption = a.Get(messageBox ? "--caption" : "--window");
    if (messageBox && s.caption.empty()) s.caption = a.Get("--window");
    s.captionSub = a.Get(messageBox ? "--caption-sub" : "--window-sub");
    if (messageBox && s.captionSub.empty()) s.captionSub = a.Get("--window-sub");
    s.cls = a.Get("--class");
    s.exe = a.Get("--exe");
    s.owner = a.Get("--owner");
    if (a.Has("--hwnd")) {
      long long v;
      if (!guidriver::ParseNumber(a.Get("--hwnd"), v)) throw UsageError("--hwnd needs a number");
      s.hwnd = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(v));
    }
    if (a.Has("--no-controls")) s.needControls = false;
    if (messageBox && s.cls.empty()) s.cls = "#32770";
    s.excludeAnswered = messageBox;
    return s;
  }
  bool Empty() const {
    return caption.empty() && captionSub.empty() && cls.empty() && exe.empty() && owner.empty() &&
           !hwnd && !messageBox;
  }
  std::string Describe() const {
    std::string d = messageBox ? "message box" : "window";
    if (!caption.empty()) d += " caption=" + Quote(caption);
    if (!captionSub.empty()) d += " caption containing " + Quote(captionSub);
    if (!cls.empty() && !(messageBox && cls == "#32770")) d += " class=" + cls;
    if (!exe.empty()) d += " of " + exe;
    if (!owner.empty()) d += " owned by " + Quote(owner);
    if (hwnd) d += " hwnd=" + HwndText(hwnd);
    return d + (needControls ? " (visible, with controls)" : " (visible)");
  }
};

struct EnumState {
  std::vector<HWND> all;
};

BOOL CALLBACK CollectTop(HWND h, LPARAM p) {
  reinterpret_cast<EnumState*>(p)->all.push_back(h);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  EnumState st;
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&st));
  return st.all;
}

BOOL CALLBACK CollectChild(HWND h, LPARAM p) {
  reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&out));
  return out;
}

bool MatchesSpec(HWND h, const WindowSpec& s) {
  if (s.hwnd && h != s.hwnd) return false;
  if (!IsWindowVisible(h)) return false;
  if (s.excludeAnswered && g.answered.count(h)) return false;
  std::string caption = Utf8(CaptionOf(h));
  if (!s.caption.empty() && caption != s.caption) return false;
  if (!s.captionSub.empty() && caption.find(s.captionSub) == std::string::npos) return false;
  if (!s.cls.empty() && Utf8(ClassOf(h)) != s.cls) return false;
  if (s.messageBox && s.caption.empty() && s.captionSub.empty() && s.owner.empty() &&
      !IsMessageBoxLike(h))
    return false;
  if (!s.exe.empty()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    std::string name = ExeName(pid);
    std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (!TextMatches(name, s.exe, Match::Exact, true)) return false;
  }
  if (!s.owner.empty()) {
    HWND owner = GetWindow(h, GW_OWNER);
    if (!owner || Utf8(CaptionOf(owner)) != s.owner) return false;
  }
  if (s.needControls && !GetWindow(h, GW_CHILD)) return false;
  return true;
}

std::vector<HWND> FindWindows(const WindowSpec& s) {
  std::vector<HWND> found;
  for (HWND h : TopLevelWindows())
    if (MatchesSpec(h, s)) found.push_back(h);
  return found;
}

std::string WindowLine(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  std::string exe = ExeName(pid);
  return "window hwnd=" + HwndText(h) + " class=" + Quote(Utf8(ClassOf(h))) +
         " text=" + Quote(Utf8(CaptionOf(h))) + " visible=" + (IsWindowVisible(h) ? "1" : "0") +
         " enabled=" + (IsWindowEnabled(h) ? "1" : "0") +
         " minimized=" + (IsIconic(h) ? "1" : "0") + " exe=" + Quote(exe);
}

// On a failed wait, what the screen held helps more than the bare timeout.
void ReportTopLevel() {
  Err("guidriver: visible top-level windows now:");
  for (HWND h : TopLevelWindows())
    if (IsWindowVisible(h)) Err("  " + WindowLine(h));
}

HWND WaitWindow(const WindowSpec& s, DWORD ms) {
  if (s.Empty())
    throw UsageError("no window given (--window, --window-sub, --class, --exe or --hwnd)");
  HWND found = nullptr;
  if (!WaitFor(ms, [&] {
        std::vector<HWND> v = FindWindows(s);
        if (v.empty()) return false;
        found = v.front();
        return true;
      })) {
    ReportTopLevel();
    throw Failure("no " + s.Describe() + " within " + std::to_string(ms) + " ms");
  }
  return found;
}

// ---------------------------------------------------------------- controls

struct ControlSpec {
  bool hasId = false;
  long long id = 0;
  std::string text, cls;
  bool Empty() const { return !hasId && text.empty() && cls.empty(); }
  static ControlSpec From(const Args& a) {
    ControlSpec c;
    if (a.Has("--id")) {
      c.hasId = true;
      c.id = a.Number("--id", 0);
    }
    c.text = a.Get("--text");
    c.cls = a.Get("--ctl-class");
    return c;
  }
  std::string Describe() const {
    std::string d = "control";
    if (hasId) d += " id=" + std::to_string(id);
    if (!text.empty()) d += " text=" + Quote(text);
    if (!cls.empty()) d += " class=" + cls;
    return d;
  }
};

int ControlId(HWND h) { return static_cast<int>(static_cast<WORD>(GetDlgCtrlID(h))); }

bool ControlMatches(HWND h, const ControlSpec& c) {
  if (c.hasId && ControlId(h) != static_cast<int>(c.id & 0xFFFF)) return false;
  if (!c.cls.empty() && !TextMatches(Utf8(ClassOf(h)), c.cls, Match::Exact, true)) return false;
  if (!c.text.empty() && !TextMatches(Utf8(TextOf(h)), c.text, Match::Exact, true)) return false;
  return true;
}

HWND WaitControl(HWND win, const ControlSpec& c, DWORD ms) {
  if (c.Empty()) throw UsageError("no control given (--id, --text or --ctl-class)");
  HWND found = nullptr;
  if (!WaitFor(ms,
               [&] {
                 for (HWND h : Children(win))
                   if (ControlMatches(h, c)) {
                     found = h;
                     return true;
                   }
                 return !IsWindow(win);
               }) ||
      !found)
    throw Failure("no " + c.Describe() + " in window " + HwndText(win) + " " +
                  Quote(Utf8(CaptionOf(win))));
  return found;
}

// Sends a message and waits up to `ms` for the answer. Not SMTO_ABORTIFHUNG:
// a thread counts as not responding once it has taken no message for 5 s,
// and a program that has just worked or slept that long without messages (a
// format run waits 5 s before its report) shows its next window before it
// takes messages again; the abort would refuse that window at once. A thread
// that really hangs still fails the send when the time is up.
LRESULT SendTimed(HWND h, UINT msg, WPARAM wp, LPARAM lp, DWORD ms = 5000) {
  DWORD_PTR result = 0;
  const DWORD start = GetTickCount();
  if (!SendMessageTimeoutW(h, msg, wp, lp, SMTO_NORMAL, ms, &result)) {
    const DWORD error = GetLastError();
    const DWORD waited = GetTickCount() - start;
    throw Failure("window " + HwndText(h) + " did not answer message " + Hex(msg) + " within " +
                  std::to_string(ms) + " ms (gave up after " + std::to_string(waited) +
                  " ms, error " + std::to_string(error) + ")");
  }
  return static_cast<LRESULT>(result);
}

bool IsButtonWithCheck(HWND h) {
  if (!TextMatches(Utf8(ClassOf(h)), "Button", Match::Exact, true)) return false;
  LONG type = GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
         type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

int CheckedOf(HWND h) {
  if (!IsButtonWithCheck(h)) return 0;
  return static_cast<int>(SendTimed(h, BM_GETCHECK, 0, 0));
}

bool IsCombo(HWND h) { return TextMatches(Utf8(ClassOf(h)), "ComboBox", Match::Exact, true); }

std::string ControlLine(HWND h) {
  std::string line =
      "id=" + std::to_string(ControlId(h)) + " class=" + Utf8(ClassOf(h)) +
      " text=" + Quote(Utf8(TextOf(h))) + " visible=" + (IsWindowVisible(h) ? "1" : "0") +
      " enabled=" + (IsWindowEnabled(h) ? "1" : "0") + " checked=" + std::to_string(CheckedOf(h));
  if (IsCombo(h)) {
    line += " sel=" + std::to_string(static_cast<int>(SendTimed(h, CB_GETCURSEL, 0, 0)));
    line += " count=" + std::to_string(static_cast<int>(SendTimed(h, CB_GETCOUNT, 0, 0)));
  }
  return line;
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  int count = static_cast<int>(SendTimed(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    int len = static_cast<int>(SendTimed(combo, CB_GETLBTEXTLEN, i, 0));
    if (len < 0) len = 0;
    std::vector<wchar_t> buf(len + 1, L'\0');
    SendTimed(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf.data()));
    items.push_back(Utf8(buf.data()));
  }
  return items;
}

// ---------------------------------------------------------------- screenshots

void SaveScreenshot(const std::string& path) {
  RECT r;
  GetWindowRect(GetDesktopWindow(), &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) throw Failure("the desktop has no size");
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top row first
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  std::vector<std::uint8_t> rgb;
  if (bmp && bits) {
    HGDIOBJ old = SelectObject(mem, bmp);
    ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT) != 0;
    GdiFlush();
    const std::uint8_t* src = static_cast<const std::uint8_t*>(bits);
    std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~static_cast<std::size_t>(3);
    rgb.resize(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* p = src + y * stride + x * 3;
        std::uint8_t* q = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
        q[0] = p[2];
        q[1] = p[1];
        q[2] = p[0];
      }
    SelectObject(mem, old);
    DeleteObject(bmp);
  }
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  if (!ok) throw Failure("cannot copy the screen");
  std::vector<std::uint8_t> png = guidriver::EncodePng(rgb, w, h);
  HANDLE f =
      CreateFileW(HostPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE)
    throw Failure("cannot create " + path + " (error " + std::to_string(GetLastError()) + ")");
  DWORD written = 0;
  BOOL wrote = WriteFile(f, png.data(), static_cast<DWORD>(png.size()), &written, nullptr);
  CloseHandle(f);
  if (!wrote || written != png.size()) throw Failure("cannot write " + path);
}

void FailureScreenshot() {
  std::string dir = g.shotDir.empty() ? "." : g.shotDir;
  char name[64];
  std::snprintf(name, sizeof name, "fail-%lu-%d.png", GetCurrentProcessId(), ++g.shotCount);
  std::string path =
      dir + (dir.back() == '/' || dir.back() == '\\' ? "" : "/") + g.shotPrefix + name;
  try {
    SaveScreenshot(path);
    Err("guidriver: screenshot " + path);
  } catch (const std::exception& e) {
    Err(std::string("guidriver: no screenshot: ") + e.what());
  }
}

// ---------------------------------------------------------------- message boxes

struct BoxFacts {
  std::string caption, text, icon;
  struct Button {
    int id;
    std::string text;
    bool isDefault, enabled;
  };
  std::vector<Button> buttons;
};

bool IsStaticIcon(HWND h) {
  return TextMatches(Utf8(ClassOf(h)), "Static", Match::Exact, true) &&
         (GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

bool IsMessageBoxLike(HWND h) {
  if (Utf8(ClassOf(h)) != "#32770") return false;
  for (HWND c : Children(h))
    if (ControlId(c) == 0xFFFF && TextMatches(Utf8(ClassOf(c)), "Static", Match::Exact, true))
      return true;
  return false;
}

// Fraction of the 32x32 pixels at the icon control's place on screen that match
// the driver's own drawing of `icon` over the same background.
double IconSimilarity(const std::vector<COLORREF>& shot, HICON icon) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 32, 32);
  HGDIOBJ old = SelectObject(mem, bmp);
  HBRUSH bg = CreateSolidBrush(shot[0]);  // the corner pixel of an icon is transparent
  RECT rc = {0, 0, 32, 32};
  FillRect(mem, &rc, bg);
  DeleteObject(bg);
  DrawIconEx(mem, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
  int same = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      COLORREF a = GetPixel(mem, x, y), b = shot[y * 32 + x];
      if (std::abs(GetRValue(a) - GetRValue(b)) <= 24 &&
          std::abs(GetGValue(a) - GetGValue(b)) <= 24 &&
          std::abs(GetBValue(a) - GetBValue(b)) <= 24)
        ++same;
    }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return same / 1024.0;
}

// Which system icon a message box shows: the handle first (the same shared icon
// on Windows), else what is on screen compared with each system icon.
std::string DetectIcon(HWND box) {
  HWND st = nullptr;
  for (HWND c : Children(box))
    if (IsStaticIcon(c) && IsWindowVisible(c)) st = c;
  if (!st) return "none";
  HICON shown = reinterpret_cast<HICON>(SendTimed(st, STM_GETICON, 0, 0));
  if (!shown) return "none";
  struct Known {
    const char* name;
    LPCWSTR id;
  };
  static const Known known[] = {{"hand", MAKEINTRESOURCEW(32513)},
                                {"question", MAKEINTRESOURCEW(32514)},
                                {"exclamation", MAKEINTRESOURCEW(32515)},
                                {"asterisk", MAKEINTRESOURCEW(32516)}};
  for (const Known& k : known)
    if (LoadIconW(nullptr, k.id) == shown) return k.name;
  RECT r;
  GetWindowRect(st, &r);
  RECT desk;
  GetWindowRect(GetDesktopWindow(), &desk);
  std::string best = "unknown";
  // The box may still be painting: look again for a short while.
  WaitFor(2000, [&] {
    HDC screen = GetDC(nullptr);
    std::vector<COLORREF> shot(1024);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        shot[y * 32 + x] = GetPixel(screen, r.left - desk.left + x, r.top - desk.top + y);
    ReleaseDC(nullptr, screen);
    double bestScore = 0;
    for (const Known& k : known) {
      double s = IconSimilarity(shot, LoadIconW(nullptr, k.id));
      if (s > bestScore) {
        bestScore = s;
        best = bestScore >= 0.9 ? k.name : "unknown";
      }
    }
    return best != "unknown";
  });
  return best;
}

BoxFacts ReadBox(HWND box) {
  BoxFacts f;
  f.caption = Utf8(CaptionOf(box));
  std::string fallbackText;
  for (HWND c : Children(box)) {
    std::string cls = Utf8(ClassOf(c));
    if (TextMatches(cls, "Button", Match::Exact, true)) {
      if (!IsWindowVisible(c)) continue;
      LONG type = GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK;
      f.buttons.push_back(
          {ControlId(c), Utf8(TextOf(c)), type == BS_DEFPUSHBUTTON, IsWindowEnabled(c) != 0});
    } else if (TextMatches(cls, "Static", Match::Exact, true) && !IsStaticIcon(c)) {
      std::string t = Utf8(TextOf(c));
      if (ControlId(c) == 0xFFFF)
        f.text = t;
      else if (fallbackText.empty())
        fallbackText = t;
    }
  }
  if (f.text.empty()) f.text = fallbackText;
  f.icon = DetectIcon(box);
  return f;
}

void PrintBox(HWND box, const BoxFacts& f) {
  Out("msgbox hwnd=" + HwndText(box) + " caption=" + Quote(f.caption) + " icon=" + f.icon);
  Out("text=" + Quote(f.text));
  for (const auto& b : f.buttons)
    Out("button id=" + std::to_string(b.id) + " text=" + Quote(b.text) +
        " default=" + (b.isDefault ? "1" : "0") + " enabled=" + (b.enabled ? "1" : "0"));
}

// Answers a box with the button whose id or text is `which`, then waits until it closes.
void AnswerBox(HWND box, const BoxFacts& f, const std::string& which, DWORD ms) {
  long long id;
  bool byId = guidriver::ParseNumber(which, id);
  const BoxFacts::Button* chosen = nullptr;
  for (const auto& b : f.buttons)
    if (byId ? b.id == id : TextMatches(b.text, which, Match::Exact, true)) chosen = &b;
  if (!chosen) throw Failure("message box " + Quote(f.caption) + " has no button " + Quote(which));
  HWND btn = GetDlgItem(box, chosen->id);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(chosen->id, BN_CLICKED), reinterpret_cast<LPARAM>(btn));
  g.answered.insert(box);
  if (!WaitFor(ms, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
    throw Failure("message box " + Quote(f.caption) + " still open after answering " +
                  Quote(which));
}

// ---------------------------------------------------------------- commands

void NeedPositional(const Args& a, std::size_t n, const std::string& usage) {
  if (a.Positional().size() != n) throw UsageError("usage: " + usage);
}

void CmdWait(const Args& a) {
  NeedPositional(a, 0, "wait --window CAPTION");
  HWND w = WaitWindow(WindowSpec::From(a, false), TimeoutMs(a));
  Out(WindowLine(w));
}

void CmdList(const Args& a) {
  NeedPositional(a, 0, "list --window CAPTION");
  HWND w = WaitWindow(WindowSpec::From(a, false), TimeoutMs(a));
  Out(WindowLine(w));
  for (HWND c : Children(w)) Out(ControlLine(c));
}

void CmdWindows(const Args& a) {
  NeedPositional(a, 0, "windows");
  for (HWND h : TopLevelWindows())
    if (IsWindowVisible(h)) Out(WindowLine(h));
}

HWND WindowAndControl(const Args& a, HWND* window = nullptr) {
  DWORD ms = TimeoutMs(a);
  HWND w = WaitWindow(WindowSpec::From(a, false), ms);
  if (window) *window = w;
  return WaitControl(w, ControlSpec::From(a), ms);
}

// A user can only operate a visible, enabled control of an enabled window (a
// window is disabled while a modal window of its own is open).
void NeedUsable(const Args& a, HWND c) {
  if (a.Has("--force")) return;
  if (!IsWindowVisible(c)) throw Failure(ControlLine(c) + ": the control is hidden");
  if (!IsWindowEnabled(c)) throw Failure(ControlLine(c) + ": the control is disabled");
  HWND top = GetAncestor(c, GA_ROOT);
  if (top && !IsWindowEnabled(top))
    throw Failure(ControlLine(c) + ": its window is disabled (is a modal window open?)");
}

void CmdClick(const Args& a) {
  NeedPositional(a, 0, "click --window CAPTION --id N");
  HWND c = WindowAndControl(a);
  NeedUsable(a, c);
  // Posted, so that a modal box opened by the click does not block the driver.
  if (!PostMessageW(c, BM_CLICK, 0, 0)) throw Failure("cannot post the click");
}

void CmdType(const Args& a) {
  NeedPositional(a, 1, "type --window CAPTION --id N TEXT");
  HWND c = WindowAndControl(a);
  NeedUsable(a, c);
  std::wstring text = Wide(a.Pos(0, "TEXT"));
  if (a.Has("--chars")) {
    // As a user types: the old text selected and replaced, one WM_CHAR per character.
    SendTimed(c, EM_SETSEL, 0, -1);
    SendTimed(c, WM_CHAR, VK_BACK, 1);
    for (wchar_t ch : text) SendTimed(c, WM_CHAR, ch, 1);
  } else {
    SendTimed(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

void CmdSelect(const Args& a) {
  NeedPositional(a, 0, "select --window CAPTION --id N (--index I | --item TEXT)");
  HWND c = WindowAndControl(a);
  NeedUsable(a, c);
  std::vector<std::string> items = ComboItems(c);
  long long index = -1;
  if (a.Has("--item")) {
    std::string want = a.Get("--item");
    for (std::size_t i = 0; i < items.size(); ++i)
      if (items[i] == want) {
        index = static_cast<long long>(i);
        break;
      }
    if (index < 0) throw Failure(ControlLine(c) + ": no item " + Quote(want));
  } else if (a.Has("--index")) {
    index = a.Number("--index", -1);
    if (index < 0 || index >= static_cast<long long>(items.size()))
      throw Failure(ControlLine(c) + ": no item at index " + std::to_string(index));
  } else {
    throw UsageError("select needs --index or --item");
  }
  SendTimed(c, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  // CB_SETCURSEL does not notify; a user's choice does.
  PostMessageW(GetParent(c), WM_COMMAND, MAKEWPARAM(ControlId(c), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(c));
}

void CmdKey(const Args& a) {
  NeedPositional(a, 1, "key --window CAPTION enter|esc|tab|space|VK");
  unsigned vk;
  if (!guidriver::ParseKey(a.Pos(0, "key"), vk)) throw UsageError("unknown key " + a.Pos(0, "key"));
  DWORD ms = TimeoutMs(a);
  bool messageBox = a.Has("--caption") || a.Has("--caption-sub");
  HWND w = WaitWindow(WindowSpec::From(a, messageBox), ms);
  HWND target = w;
  ControlSpec cs = ControlSpec::From(a);
  if (!cs.Empty()) {
    target = WaitControl(w, cs, ms);
  } else {
    // The key goes where the keyboard focus of the window's thread is, as a real key would.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(w, nullptr);
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
        (info.hwndFocus == w || IsChild(w, info.hwndFocus)))
      target = info.hwndFocus;
  }
  UINT scan = MapVirtualKeyW(vk, 0);
  PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
  if (vk == VK_SPACE) PostMessageW(target, WM_CHAR, L' ', 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
}

void CmdSysCmd(const Args& a) {
  NeedPositional(a, 1, "syscmd --window CAPTION close|minimize|restore|maximize|N");
  unsigned cmd;
  if (!guidriver::ParseSysCommand(a.Pos(0, "command"), cmd))
    throw UsageError("unknown system command");
  HWND w = WaitWindow(WindowSpec::From(a, false), TimeoutMs(a));
  if (!PostMessageW(w, WM_SYSCOMMAND, cmd, 0)) throw Failure("cannot post the system command");
}

// The layout of DEV_BROADCAST_VOLUME (dbt.h), declared here to keep the includes small.
struct DEV_BROADCAST_VOLUME_ {
  DWORD size;
  DWORD deviceType;
  DWORD reserved;
  DWORD unitMask;
  WORD flags;
};

void SendAsync(HWND target, UINT msg, WPARAM wp, LPARAM lp, DWORD ms);

void CmdMessage(const Args& a, bool send) {
  NeedPositional(
      a, 0,
      std::string(send ? "send" : "post") + " --window CAPTION --msg N [--wparam N] [--lparam N]");
  if (!a.Has("--msg")) throw UsageError("missing --msg");
  UINT msg = static_cast<UINT>(a.Number("--msg", 0));
  WPARAM wp = static_cast<WPARAM>(a.Number("--wparam", 0));
  LPARAM lp = static_cast<LPARAM>(a.Number("--lparam", 0));
  // A device event about a volume carries the volume's drive letter(s), as the
  // system's broadcast does. Only a sent message can carry it to another process.
  static DEV_BROADCAST_VOLUME_ volume;
  if (a.Has("--volume")) {
    std::string letters = a.Get("--volume");
    volume = DEV_BROADCAST_VOLUME_();
    volume.size = sizeof volume;
    volume.deviceType = 2;  // DBT_DEVTYP_VOLUME
    for (char ch : letters) {
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
      if (ch >= 'A' && ch <= 'Z')
        volume.unitMask |= 1u << (ch - 'A');
      else if (ch != ':' && ch != ',')
        throw UsageError("--volume needs drive letters, e.g. E:");
    }
    lp = reinterpret_cast<LPARAM>(&volume);
    if (!send) {  // a pointer cannot be posted: sent without waiting for the answer
      SendAsync(WaitWindow(WindowSpec::From(a, false), TimeoutMs(a)), msg, wp, lp, TimeoutMs(a));
      return;
    }
  }
  DWORD ms = TimeoutMs(a);
  HWND w = WaitWindow(WindowSpec::From(a, false), ms);
  ControlSpec cs = ControlSpec::From(a);
  HWND target = cs.Empty() ? w : WaitControl(w, cs, ms);
  if (send) {
    Out("result=" + std::to_string(static_cast<long long>(SendTimed(target, msg, wp, lp, ms))));
  } else if (!PostMessageW(target, msg, wp, lp)) {
    if (GetLastError() != ERROR_MESSAGE_SYNC_ONLY)
      throw Failure("cannot post message " + Hex(msg) + " (error " +
                    std::to_string(GetLastError()) + ")");
    // Messages that may carry a pointer (WM_DEVICECHANGE and others) cannot be
    // posted; send them from a worker thread so that a modal box opened by the
    // handler does not block the driver.
    SendAsync(target, msg, wp, lp, ms);
  }
}

struct AsyncSend {
  HWND target;
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  DWORD ms;
};

DWORD WINAPI AsyncSendThread(LPVOID p) {
  AsyncSend* s = static_cast<AsyncSend*>(p);
  DWORD_PTR result = 0;
  SendMessageTimeoutW(s->target, s->msg, s->wp, s->lp, SMTO_NORMAL, s->ms, &result);
  delete s;
  return 0;
}

void SendAsync(HWND target, UINT msg, WPARAM wp, LPARAM lp, DWORD ms) {
  HANDLE t =
      CreateThread(nullptr, 0, AsyncSendThread, new AsyncSend{target, msg, wp, lp, ms}, 0, nullptr);
  if (!t) throw Failure("cannot start a thread to send message " + Hex(msg));
  WaitForSingleObject(t, 500);  // a quick handler has finished when the next command runs
  CloseHandle(t);
}

void CmdText(const Args& a) {
  NeedPositional(a, 0, "text --window CAPTION --id N");
  Out(Utf8(TextOf(WindowAndControl(a))));
}

// Waits until a control (or, without a control, the window) shows the expected state.
void CmdCheck(const Args& a) {
  NeedPositional(a, 0, "check --window CAPTION [--id N] [--text-is T] [--enabled 0|1] ...");
  DWORD ms = a.Has("--now") ? 0 : TimeoutMs(a);
  HWND w = WaitWindow(WindowSpec::From(a, false), TimeoutMs(a));
  ControlSpec cs = ControlSpec::From(a);
  HWND c = cs.Empty() ? w : WaitControl(w, cs, TimeoutMs(a));
  struct Want {
    std::string key;
    std::string value;
  };
  std::vector<Want> wants;
  for (const char* k : {"--text-is", "--text-has", "--enabled", "--visible", "--checked", "--sel",
                        "--minimized", "--item-count"})
    if (a.Has(k)) wants.push_back({k, a.Get(k)});
  if (wants.empty())
    throw UsageError("check needs an expectation (--text-is, --text-has, --enabled, ...)");
  std::string mismatch;
  bool ok = WaitFor(ms, [&] {
    mismatch.clear();
    if (!IsWindow(c)) {
      mismatch = "the window is gone";
      return false;
    }
    for (const Want& want : wants) {
      std::string actual;
      if (want.key == "--text-is" || want.key == "--text-has")
        actual = Utf8(TextOf(c));
      else if (want.key == "--enabled")
        actual = IsWindowEnabled(c) ? "1" : "0";
      else if (want.key == "--visible")
        actual = IsWindowVisible(c) ? "1" : "0";
      else if (want.key == "--checked")
        actual = std::to_string(CheckedOf(c));
      else if (want.key == "--sel")
        actual = std::to_string(static_cast<int>(SendTimed(c, CB_GETCURSEL, 0, 0)));
      else if (want.key == "--item-count")
        actual = std::to_string(static_cast<int>(SendTimed(c, CB_GETCOUNT, 0, 0)));
      else if (want.key == "--minimized")
        actual = IsIconic(c) ? "1" : "0";
      bool good = want.key == "--text-has" ? actual.find(want.value) != std::string::npos
                                           : actual == want.value;
      if (!good)
        mismatch +=
            " " + want.key.substr(2) + ": wanted " + Quote(want.value) + ", found " + Quote(actual);
    }
    return mismatch.empty();
  });
  if (!ok) throw Failure((c == w ? WindowLine(c) : ControlLine(c)) + ":" + mismatch);
}

HWND WaitBox(const Args& a) { return WaitWindow(WindowSpec::From(a, true), TimeoutMs(a)); }

void CmdMsgBox(const Args& a) {
  NeedPositional(
      a, 0, "msgbox [--caption T] [--exe NAME] [--expect-text T] [--expect-icon I] [--answer B]");
  HWND box = WaitBox(a);
  BoxFacts f = ReadBox(box);
  PrintBox(box, f);
  std::string problems;
  if (a.Has("--expect-text") && f.text != a.Get("--expect-text"))
    problems += " text: wanted " + Quote(a.Get("--expect-text")) + ", found " + Quote(f.text);
  if (a.Has("--expect-text-has") && f.text.find(a.Get("--expect-text-has")) == std::string::npos)
    problems += " text: wanted one containing " + Quote(a.Get("--expect-text-has")) + ", found " +
                Quote(f.text);
  if (a.Has("--expect-icon") && f.icon != a.Get("--expect-icon"))
    problems += " icon: wanted " + a.Get("--expect-icon") + ", found " + f.icon;
  if (a.Has("--expect-buttons")) {
    std::string ids;
    for (const auto& b : f.buttons) ids += (ids.empty() ? "" : ",") + std::to_string(b.id);
    if (ids != a.Get("--expect-buttons"))
      problems += " buttons: wanted " + a.Get("--expect-buttons") + ", found " +
                  (ids.empty() ? "none" : ids);
  }
  if (!problems.empty()) throw Failure("message box " + Quote(f.caption) + ":" + problems);
  if (a.Has("--answer")) AnswerBox(box, f, a.Get("--answer"), TimeoutMs(a));
}

void CmdAnswer(const Args& a) {
  NeedPositional(a, 1, "answer [--caption T] [--exe NAME] BUTTON-ID|BUTTON-TEXT");
  HWND box = WaitBox(a);
  AnswerBox(box, ReadBox(box), a.Pos(0, "button"), TimeoutMs(a));
}

void CmdWaitGone(const Args& a) {
  NeedPositional(a, 0, "wait-gone --window CAPTION");
  WindowSpec s = WindowSpec::From(a, a.Has("--caption") || a.Has("--caption-sub"));
  s.needControls = false;
  s.excludeAnswered = false;
  if (s.Empty()) throw UsageError("no window given");
  DWORD ms = TimeoutMs(a);
  if (!WaitFor(ms, [&] { return FindWindows(s).empty(); })) {
    ReportTopLevel();
    throw Failure(s.Describe() + " still there after " + std::to_string(ms) + " ms");
  }
}

void CmdWaitExit(const Args& a) {
  NeedPositional(a, 0, "wait-exit (--exe NAME | --pid N)");
  DWORD ms = TimeoutMs(a);
  if (a.Has("--pid")) {
    DWORD pid = static_cast<DWORD>(a.Number("--pid", 0));
    HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!p) return;  // already gone
    DWORD r = WaitForSingleObject(p, ms);
    CloseHandle(p);
    if (r != WAIT_OBJECT_0)
      throw Failure("process " + std::to_string(pid) + " still running after " +
                    std::to_string(ms) + " ms");
    return;
  }
  std::string exe = a.Get("--exe");
  if (exe.empty()) throw UsageError("wait-exit needs --exe or --pid");
  if (!WaitFor(ms, [&] { return ProcessesNamed(exe).empty(); })) {
    ReportTopLevel();
    throw Failure(exe + " still running after " + std::to_string(ms) + " ms");
  }
}

void CmdScreenshot(const Args& a) {
  NeedPositional(a, 1, "screenshot FILE.png");
  SaveScreenshot(a.Pos(0, "file"));
}

void CmdSleep(const Args& a) {
  NeedPositional(a, 1, "sleep MILLISECONDS");
  long long ms;
  if (!guidriver::ParseNumber(a.Pos(0, "milliseconds"), ms) || ms < 0)
    throw UsageError("sleep needs milliseconds");
  Sleep(static_cast<DWORD>(ms));
}

void CmdEcho(const Args& a) {
  std::string line;
  for (const auto& p : a.Positional()) line += (line.empty() ? "" : " ") + p;
  Out(line);
}

// ---------------------------------------------------------------- text fit

bool IsOwnerDrawnButton(HWND h) {
  return TextMatches(Utf8(ClassOf(h)), "Button", Match::Exact, true) &&
         (GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
}

// How the system lays out a control's text, with the DrawText format that
// measures it; false for controls whose text no rule covers (edits, lists,
// owner-drawn buttons, icons, frames).
bool TextLayoutOf(HWND h, guidriver::TextKind* kind, UINT* format) {
  using guidriver::TextKind;
  const std::string cls = Utf8(ClassOf(h));
  const LONG style = GetWindowLongW(h, GWL_STYLE);
  *format = DT_SINGLELINE;
  if (TextMatches(cls, "Button", Match::Exact, true)) {
    const LONG type = style & BS_TYPEMASK;
    if (type == BS_OWNERDRAW) return false;  // reported with its size only
    *kind = type == BS_GROUPBOX    ? TextKind::kGroupBox
            : IsButtonWithCheck(h) ? TextKind::kCheckBox
                                   : TextKind::kPushButton;
    return true;
  }
  if (!TextMatches(cls, "Static", Match::Exact, true)) return false;
  const LONG type = style & SS_TYPEMASK;
  if (type > SS_RIGHT && type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP) return false;
  if (style & SS_NOPREFIX) *format |= DT_NOPREFIX;
  if (style & SS_ELLIPSISMASK) {
    *kind = TextKind::kStaticEllipsis;
  } else if (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP) {
    *kind = TextKind::kStaticLine;
  } else {
    *kind = TextKind::kStaticWrapped;
    *format = (*format & ~DT_SINGLELINE) | DT_WORDBREAK;
  }
  return true;
}

// The control's client size and its text's extent in `font`.
guidriver::FitSizes MeasureText(HWND h, const std::wstring& text, UINT format, HFONT font) {
  RECT client;
  GetClientRect(h, &client);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r = {0, 0, client.right, 0};
  DrawTextW(dc, text.c_str(), -1, &r, format | DT_CALCRECT);
  SelectObject(dc, old);
  DeleteDC(dc);
  guidriver::FitSizes s;
  s.clientWidth = client.right;
  s.clientHeight = client.bottom;
  s.textWidth = r.right - r.left;
  s.textHeight = r.bottom - r.top;
  s.checkBoxWidth = GetSystemMetrics(SM_CXMENUCHECK);
  return s;
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// Every visible control's text must fit the control (see fit_rule.h),
// measured in the dialog template's font (FACE at N points on this screen:
// another process's font handle cannot be used here); one record per control
// measured, then a failure naming each that does not fit.
void CmdFit(const Args& a) {
  NeedPositional(a, 0, "fit --window CAPTION --font FACE --points N [--dpi N]");
  HWND w = WaitWindow(WindowSpec::From(a, false), TimeoutMs(a));
  const int dpi = ScreenDpi();
  Out("fit " + WindowLine(w) + " dpi=" + std::to_string(dpi));
  if (a.Has("--dpi") && std::to_string(dpi) != a.Get("--dpi"))
    throw Failure("the screen has " + std::to_string(dpi) + " dpi, not " + a.Get("--dpi"));
  const int points = static_cast<int>(a.Number("--points", 0));
  HFONT font = CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH, Wide(a.Get("--font")).c_str());
  if (!font || points <= 0) throw UsageError("fit: --font FACE --points N (N > 0)");
  std::string misfits;
  for (HWND c : Children(w)) {
    guidriver::TextKind kind;
    UINT format;
    const std::wstring text = TextOf(c);
    if (IsWindowVisible(c) && IsOwnerDrawnButton(c)) {
      RECT r;
      GetClientRect(c, &r);
      Out("id=" + std::to_string(ControlId(c)) + " class=Button text=" + Quote(Utf8(text)) +
          " owner-drawn client=" + std::to_string(r.right) + "x" + std::to_string(r.bottom));
    }
    if (!IsWindowVisible(c) || text.empty() || !TextLayoutOf(c, &kind, &format)) continue;
    const guidriver::FitSizes s = MeasureText(c, text, format, font);
    const std::string problem = guidriver::FitProblem(kind, s);
    Out("id=" + std::to_string(ControlId(c)) + " class=" + Utf8(ClassOf(c)) +
        " text=" + Quote(Utf8(text)) + " extent=" + std::to_string(s.textWidth) + "x" +
        std::to_string(s.textHeight) + " client=" + std::to_string(s.clientWidth) + "x" +
        std::to_string(s.clientHeight) + (problem.empty() ? " fits" : " TOO SMALL: " + problem));
    if (!problem.empty()) misfits += " " + Quote(Utf8(text)) + " (" + problem + ")";
  }
  DeleteObject(font);
  if (!misfits.empty()) throw Failure("texts that do not fit their controls:" + misfits);
}

void RunScript(const std::string& path);

void RunCommand(const std::vector<std::string>& words) {
  if (words.empty()) return;
  const std::string& cmd = words[0];
  Args a(words, 1);
  if (cmd == "wait")
    CmdWait(a);
  else if (cmd == "list")
    CmdList(a);
  else if (cmd == "windows")
    CmdWindows(a);
  else if (cmd == "click")
    CmdClick(a);
  else if (cmd == "type")
    CmdType(a);
  else if (cmd == "select")
    CmdSelect(a);
  else if (cmd == "key")
    CmdKey(a);
  else if (cmd == "syscmd")
    CmdSysCmd(a);
  else if (cmd == "post")
    CmdMessage(a, false);
  else if (cmd == "send")
    CmdMessage(a, true);
  else if (cmd == "text")
    CmdText(a);
  else if (cmd == "check")
    CmdCheck(a);
  else if (cmd == "fit")
    CmdFit(a);
  else if (cmd == "msgbox")
    CmdMsgBox(a);
  else if (cmd == "answer")
    CmdAnswer(a);
  else if (cmd == "wait-gone")
    CmdWaitGone(a);
  else if (cmd == "wait-exit")
    CmdWaitExit(a);
  else if (cmd == "screenshot")
    CmdScreenshot(a);
  else if (cmd == "sleep")
    CmdSleep(a);
  else if (cmd == "echo")
    CmdEcho(a);
  else if (cmd == "timeout") {
    NeedPositional(a, 1, "timeout SECONDS");
    g.timeout = std::atof(a.Pos(0, "seconds").c_str());
  } else if (cmd == "run") {
    NeedPositional(a, 1, "run FILE|-");
    RunScript(a.Pos(0, "file"));
  } else {
    throw UsageError("unknown command " + Quote(cmd));
  }
  a.CheckAllUsed();
}

std::string Joined(const std::vector<std::string>& words) {
  std::string s;
  for (const auto& w : words)
    s += (s.empty() ? "" : " ") +
         (w.find_first_of(" \t\"'") == std::string::npos && !w.empty() ? w : Quote(w));
  return s;
}

std::string ReadAll(const std::string& path) {
  std::string data;
  HANDLE h = path == "-" ? GetStdHandle(STD_INPUT_HANDLE)
                         : CreateFileW(HostPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) throw UsageError("cannot open script " + path);
  char buf[4096];
  DWORD got;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  if (path != "-") CloseHandle(h);
  return data;
}

// One command per line; the first failing line ends the script.
void RunScript(const std::string& path) {
  std::string data = ReadAll(path);
  std::size_t start = 0;
  int lineNo = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    std::vector<std::string> words;
    std::string error;
    if (!guidriver::SplitWords(line, words, error))
      throw UsageError(path + ":" + std::to_string(lineNo) + ": " + error);
    if (words.empty()) continue;
    try {
      RunCommand(words);
    } catch (const Failure& e) {
      throw Failure(path + ":" + std::to_string(lineNo) + ": " + Joined(words) + ": " + e.what());
    } catch (const UsageError& e) {
      throw UsageError(path + ":" + std::to_string(lineNo) + ": " + Joined(words) + ": " +
                       e.what());
    }
  }
}

const char kUsage[] =
    "usage: guidriver.exe [--timeout S] [--shot-dir DIR] [--shot-prefix P] COMMAND [OPTIONS]\n"
    "       guidriver.exe run FILE|-      (one command per line)\n"
    "commands: wait list windows click type select key syscmd post send text check fit\n"
    "          msgbox answer wait-gone wait-exit screenshot sleep echo timeout run\n"
    "see tools/guidriver/README.md";

// Measures and shoots the screen in real pixels: without this, Windows (and
// Wine) give a program that is not DPI aware 96-dpi figures at any setting.
void BecomeDpiAware() {
  using SetAware = BOOL(WINAPI*)();
  if (HMODULE user = GetModuleHandleW(L"user32.dll"))
    if (auto set = reinterpret_cast<SetAware>(
            reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDPIAware"))))
      set();
}

}  // namespace

int main() {
  BecomeDpiAware();
  int argc = 0;
  LPWSTR* argvW = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argvW[i]));
  LocalFree(argvW);

  char env[1024];
  if (GetEnvironmentVariableA("GUIDRIVER_TIMEOUT", env, sizeof env)) g.timeout = std::atof(env);
  if (GetEnvironmentVariableA("GUIDRIVER_SHOT_DIR", env, sizeof env)) g.shotDir = env;
  if (GetEnvironmentVariableA("GUIDRIVER_SHOT_PREFIX", env, sizeof env)) g.shotPrefix = env;

  std::size_t i = 0;
  try {
    while (i < args.size() && args[i].compare(0, 2, "--") == 0) {
      const std::string& o = args[i];
      if (o == "--help") {
        Out(kUsage);
        return 0;
      }
      if (i + 1 >= args.size()) throw UsageError("option " + o + " needs a value");
      if (o == "--timeout")
        g.timeout = std::atof(args[i + 1].c_str());
      else if (o == "--shot-dir")
        g.shotDir = args[i + 1];
      else if (o == "--shot-prefix")
        g.shotPrefix = args[i + 1];
      else
        throw UsageError("unknown option " + o);
      i += 2;
    }
    if (i >= args.size()) throw UsageError("no command");
    RunCommand(std::vector<std::string>(args.begin() + i, args.end()));
  } catch (const UsageError& e) {
    Err(std::string("guidriver: ") + e.what());
    Err(kUsage);
    FailureScreenshot();
    return 2;
  } catch (const std::exception& e) {
    Err(std::string("guidriver: FAILED: ") + e.what());
    FailureScreenshot();
    return 1;
  }
  return 0;
}
