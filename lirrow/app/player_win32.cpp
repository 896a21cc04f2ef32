#include "player_win32.h"

#include <commctrl.h>
#include <mmsystem.h>

#include <cstdio>
#include <string>

#include "player_clock.h"
#include "unicode_win32.h"

namespace lirrow {

namespace {

const wchar_t kClassName[] = L"LirrowPlayer";

enum ChildId { kPlayId = 10, kPauseId = 11, kStopId = 12, kBarId = 13, kTimeId = 14, kNameId = 15 };
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 250;

enum class State { Empty, Stopped, Playing, Paused };

// The player's buttons are owner-drawn, and an owner-drawn button never
// becomes a dialog's default: the dialog manager would send Enter to the
// dialog's default button (Start) instead. The buttons therefore ask for
// the Enter key themselves and click on it, as Space already does.
const wchar_t kButtonProcProperty[] = L"LirrowPlayerButtonProc";

bool IsEnterKey(const MSG* message) {
  return message && (message->message == WM_KEYDOWN || message->message == WM_CHAR) &&
         message->wParam == (message->message == WM_KEYDOWN ? VK_RETURN : L'\r');
}

LRESULT CALLBACK PlayerButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC base = reinterpret_cast<WNDPROC>(Wide().GetPropW(button, kButtonProcProperty));
  switch (message) {
    case WM_GETDLGCODE: {
      const LRESULT code = Wide().CallWindowProcW(base, button, message, wParam, lParam);
      return IsEnterKey(reinterpret_cast<const MSG*>(lParam)) ? code | DLGC_WANTMESSAGE : code;
    }
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        if (IsWindowEnabled(button))
          Wide().SendMessageW(GetParent(button), WM_COMMAND,
                              MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                              reinterpret_cast<LPARAM>(button));
        return 0;
      }
      break;
    case WM_CHAR:
      if (wParam == L'\r') return 0;  // handled on the key press; no beep
      break;
    case WM_NCDESTROY:
      Wide().RemovePropW(button, kButtonProcProperty);
      Wide().SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(base));
      break;
    default: break;
  }
  return Wide().CallWindowProcW(base, button, message, wParam, lParam);
}

void TakeEnterKey(HWND button) {
  const LONG_PTR base =
      Wide().SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PlayerButtonProc));
  Wide().SetPropW(button, kButtonProcProperty, reinterpret_cast<HANDLE>(base));
}

class PlayerWindow final : public PlayerControl {
 public:
  explicit PlayerWindow(HWND window) : window_(window) {
    static unsigned serial = 0;
    alias_ = L"lirrowplayer" + std::to_wstring(++serial);
  }

  bool CreateChildren();
  void Layout();
  int Scaled(int pixelsAt96) const;
  int LabelHeight() const;
  void Destroy() { CloseDevice(); }

  // PlayerControl
  unsigned SetFileName(const std::wstring& path) override;
  double Duration() override { return state_ == State::Empty ? 0.0 : lengthMs_ / 1000.0; }
  void SetBooleanSetting(bool value) override;

  void OnCommand(int id);
  void OnScroll(int code);
  void OnTick();
  void OnNotify(WPARAM flags);
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void OnPaint();
  void SetFont(HFONT font, bool redraw);

 private:
  MCIERROR Send(const std::wstring& command, HWND callback = nullptr) {
    return Wide().mciSendStringW(command.c_str(), nullptr, 0, callback);
  }
  unsigned long QueryNumber(const wchar_t* what);
  void CloseDevice();
  void Play(unsigned long fromMs);
  void Pause();
  void Stop();
  void ShowState();
  void ShowPosition(unsigned long positionMs);

  HWND window_;
  HWND play_ = nullptr, pause_ = nullptr, stop_ = nullptr, bar_ = nullptr, time_ = nullptr,
       name_ = nullptr;
  HFONT font_ = nullptr;
  int dpi_ = 96;  // the screen's, read when the children are made
  std::wstring alias_;
  std::wstring fileName_;
  bool deviceOpen_ = false;
  bool controlsShown_ = false;
  bool dragging_ = false;
  unsigned long lengthMs_ = 0;
  State state_ = State::Empty;
};

bool PlayerWindow::CreateChildren() {
  const HINSTANCE instance =
      reinterpret_cast<HINSTANCE>(Wide().GetWindowLongPtrW(window_, GWLP_HINSTANCE));
  auto make = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    return Wide().CreateWindowExW(0, cls, text, WS_CHILD | style, 0, 0, 0, 0, window_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                  nullptr);
  };
  name_ =
      make(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_PATHELLIPSIS | WS_VISIBLE, kNameId);
  bar_ = make(TRACKBAR_CLASSW, L"", TBS_HORZ | TBS_NOTICKS | WS_TABSTOP | WS_DISABLED, kBarId);
  play_ = make(L"BUTTON", L"Play", BS_OWNERDRAW | WS_TABSTOP | WS_DISABLED, kPlayId);
  pause_ = make(L"BUTTON", L"Pause", BS_OWNERDRAW | WS_TABSTOP | WS_DISABLED, kPauseId);
  stop_ = make(L"BUTTON", L"Stop", BS_OWNERDRAW | WS_TABSTOP | WS_DISABLED, kStopId);
  time_ = make(L"STATIC", L"", SS_RIGHT | SS_NOPREFIX, kTimeId);
  if (!name_ || !bar_ || !play_ || !pause_ || !stop_ || !time_) return false;
  if (HDC dc = GetDC(window_)) {
    dpi_ = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window_, dc);
  }
  for (HWND button : {play_, pause_, stop_}) TakeEnterKey(button);
  Wide().SendMessageW(bar_, TBM_SETRANGE, FALSE, MAKELPARAM(0, kPositionBarSteps));
  Wide().SendMessageW(bar_, TBM_SETPAGESIZE, 0, kPositionBarSteps / 20);
  Wide().SendMessageW(bar_, TBM_SETLINESIZE, 0, kPositionBarSteps / 100);
  Layout();
  ShowState();
  return true;
}

// The player's children are placed in pixels, while the dialog around it
// grows with the system DPI: lengths below are for 96 dpi and scaled to the
// screen's, and a label is never lower than a line of its font.
int PlayerWindow::Scaled(int pixelsAt96) const { return MulDiv(pixelsAt96, dpi_, 96); }

int PlayerWindow::LabelHeight() const {
  int line = 0;
  if (HDC dc = GetDC(window_)) {
    HGDIOBJ old = font_ ? SelectObject(dc, font_) : nullptr;
    TEXTMETRICA metrics;
    if (GetTextMetricsA(dc, &metrics)) line = metrics.tmHeight + 1;
    if (old) SelectObject(dc, old);
    ReleaseDC(window_, dc);
  }
  return line > Scaled(14) ? line : Scaled(14);
}

void PlayerWindow::Layout() {
  RECT client;
  GetClientRect(window_, &client);
  const int w = client.right, h = client.bottom;
  const int margin = Scaled(4), gap = Scaled(2), label = LabelHeight();
  const int button = h >= Scaled(60) ? Scaled(24) : Scaled(18);
  const int buttonWidth = button + Scaled(6);
  const int rowY = h - margin - button;
  const int barY = margin + label + 1;
  MoveWindow(name_, margin, margin, w - 2 * margin, label, TRUE);
  MoveWindow(bar_, margin - gap, barY, w - 2 * margin + 2 * gap, rowY - barY - 1, TRUE);
  MoveWindow(play_, margin, rowY, buttonWidth, button, TRUE);
  MoveWindow(pause_, margin + buttonWidth + gap, rowY, buttonWidth, button, TRUE);
  MoveWindow(stop_, margin + 2 * (buttonWidth + gap), rowY, buttonWidth, button, TRUE);
  const int timeX = margin + 3 * (buttonWidth + gap) + Scaled(4);
  MoveWindow(time_, timeX, rowY + (button - label) / 2, w - margin - timeX, label, TRUE);
}

void PlayerWindow::SetFont(HFONT font, bool redraw) {
  font_ = font;
  for (HWND child : {name_, time_, play_, pause_, stop_})
    if (child) Wide().SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
  if (name_) Layout();  // the labels are as high as a line of the font
}

void PlayerWindow::SetBooleanSetting(bool value) {
  controlsShown_ = value;
  const int show = value ? SW_SHOW : SW_HIDE;
  for (HWND child : {bar_, play_, pause_, stop_, time_}) ShowWindow(child, show);
}

unsigned long PlayerWindow::QueryNumber(const wchar_t* what) {
  wchar_t answer[64] = L"";
  const std::wstring command = L"status " + alias_ + L" " + what;
  if (Wide().mciSendStringW(command.c_str(), answer, 64, nullptr) != 0) return 0;
  return std::wcstoul(answer, nullptr, 10);
}

void PlayerWindow::CloseDevice() {
  if (!deviceOpen_) return;
  KillTimer(window_, kTickTimer);
  Send(L"close " + alias_);
  deviceOpen_ = false;
}

unsigned PlayerWindow::SetFileName(const std::wstring& path) {
  CloseDevice();
  state_ = State::Empty;
  lengthMs_ = 0;
  fileName_.clear();
  unsigned code = 0;
  if (!path.empty()) {
    if (Wide().GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      code = GetLastError();
      if (code == 0) code = ERROR_FILE_NOT_FOUND;
    } else {
      // mpegvideo plays WAV and MP3; waveaudio still measures a WAV
      // where no streaming device is available.
      const std::wstring quoted = L"\"" + path + L"\"";
      if (Send(L"open " + quoted + L" type mpegvideo alias " + alias_) == 0 ||
          Send(L"open " + quoted + L" type waveaudio alias " + alias_) == 0) {
        deviceOpen_ = true;
        Send(L"set " + alias_ + L" time format milliseconds");
        lengthMs_ = QueryNumber(L"length");
        state_ = State::Stopped;
        const auto slash = path.find_last_of(L"\\/");
        fileName_ = slash == std::wstring::npos ? path : path.substr(slash + 1);
      } else {
        code = ERROR_NOT_SUPPORTED;
      }
    }
  }
  ShowState();
  ShowPosition(0);
  // Success leaves no stale error behind for the caller's error report.
  SetLastError(code);
  return code;
}

void PlayerWindow::Play(unsigned long fromMs) {
  if (!deviceOpen_) return;
  std::wstring command = L"play " + alias_;
  if (fromMs != static_cast<unsigned long>(-1)) command += L" from " + std::to_wstring(fromMs);
  command += L" notify";
  if (Send(command, window_) == 0) {
    state_ = State::Playing;
    SetTimer(window_, kTickTimer, kTickMs, nullptr);
  }
  ShowState();
}

void PlayerWindow::Pause() {
  if (state_ != State::Playing) return;
  Send(L"pause " + alias_);
  state_ = State::Paused;
  KillTimer(window_, kTickTimer);
  OnTick();
  ShowState();
}

void PlayerWindow::Stop() {
  if (!deviceOpen_) return;
  Send(L"stop " + alias_);
  Send(L"seek " + alias_ + L" to start");
  state_ = State::Stopped;
  KillTimer(window_, kTickTimer);
  ShowPosition(0);
  ShowState();
}

void PlayerWindow::ShowState() {
  const bool loaded = state_ != State::Empty;
  const bool canPlay = loaded && state_ != State::Playing;
  const bool canPause = state_ == State::Playing;
  // A button that is disabled while it has the focus would leave the
  // keyboard on a dead control: the focus goes to the button that now
  // does the opposite (Pause after Play, Play after Pause or Stop).
  const HWND focus = GetFocus();
  if (focus == play_ && !canPlay && canPause) {
    EnableWindow(pause_, TRUE);
    SetFocus(pause_);
  } else if ((focus == pause_ || focus == stop_) && !canPause && canPlay) {
    EnableWindow(play_, TRUE);
    SetFocus(play_);
  }
  EnableWindow(play_, canPlay);
  EnableWindow(pause_, canPause);
  EnableWindow(stop_, state_ == State::Playing || state_ == State::Paused);
  EnableWindow(bar_, loaded && lengthMs_ > 0);
  Wide().SetWindowTextW(name_, fileName_.c_str());
  if (!loaded) Wide().SetWindowTextW(time_, L"");
}

void PlayerWindow::ShowPosition(unsigned long positionMs) {
  if (state_ == State::Empty) {
    Wide().SendMessageW(bar_, TBM_SETPOS, TRUE, 0);
    Wide().SetWindowTextW(time_, L"");
    return;
  }
  if (!dragging_)
    Wide().SendMessageW(bar_, TBM_SETPOS, TRUE, PositionToStep(positionMs, lengthMs_));
  Wide().SetWindowTextW(time_, FormatPlayerTimes(positionMs, lengthMs_).c_str());
}

void PlayerWindow::OnTick() {
  if (deviceOpen_ && !dragging_) ShowPosition(QueryNumber(L"position"));
}

void PlayerWindow::OnNotify(WPARAM flags) {
  // Only a play that ran to its end; stop, pause and seek abort or
  // supersede the pending notification.
  if (flags == MCI_NOTIFY_SUCCESSFUL && state_ == State::Playing) {
    KillTimer(window_, kTickTimer);
    Send(L"seek " + alias_ + L" to start");
    state_ = State::Stopped;
    ShowPosition(0);
    ShowState();
  }
}

void PlayerWindow::OnCommand(int id) {
  switch (id) {
    case kPlayId: Play(static_cast<unsigned long>(-1)); break;
    case kPauseId: Pause(); break;
    case kStopId: Stop(); break;
    default: break;
  }
}

void PlayerWindow::OnScroll(int code) {
  if (!deviceOpen_) return;
  const int step = static_cast<int>(Wide().SendMessageW(bar_, TBM_GETPOS, 0, 0));
  const unsigned long target = StepToPosition(step, lengthMs_);
  if (code == TB_THUMBTRACK) {
    dragging_ = true;
    Wide().SetWindowTextW(time_, FormatPlayerTimes(target, lengthMs_).c_str());
    return;
  }
  if (code == TB_ENDTRACK && !dragging_)
    return;  // the end of a page or line move already sought below
  dragging_ = false;
  if (state_ == State::Playing) {
    Play(target);
  } else {
    Send(L"seek " + alias_ + L" to " + std::to_wstring(target));
    if (state_ == State::Paused)
      state_ = State::Stopped;  // a seek leaves the device stopped at the new place
    ShowState();
  }
  ShowPosition(target);
}

void PlayerWindow::OnDrawItem(const DRAWITEMSTRUCT& item) {
  RECT r = item.rcItem;
  UINT state = DFCS_BUTTONPUSH;
  if (item.itemState & ODS_SELECTED) state |= DFCS_PUSHED;
  if (item.itemState & ODS_DISABLED) state |= DFCS_INACTIVE;
  DrawFrameControl(item.hDC, &r, DFC_BUTTON, state);
  const bool enabled = !(item.itemState & ODS_DISABLED);
  const int cx = (r.left + r.right) / 2 + ((item.itemState & ODS_SELECTED) ? 1 : 0);
  const int cy = (r.top + r.bottom) / 2 + ((item.itemState & ODS_SELECTED) ? 1 : 0);
  const int s = (r.bottom - r.top) / 4;
  HBRUSH brush = GetSysColorBrush(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  HGDIOBJ oldBrush = SelectObject(item.hDC, brush);
  HGDIOBJ oldPen = SelectObject(item.hDC, GetStockObject(NULL_PEN));
  switch (item.CtlID) {
    case kPlayId: {
      POINT tri[3] = {{cx - s + 1, cy - s}, {cx - s + 1, cy + s + 1}, {cx + s + 1, cy}};
      Polygon(item.hDC, tri, 3);
      break;
    }
    case kPauseId: {
      RECT a = {cx - s, cy - s, cx - s / 3, cy + s + 1};
      RECT b = {cx + s / 3 + 1, cy - s, cx + s + 1, cy + s + 1};
      FillRect(item.hDC, &a, brush);
      FillRect(item.hDC, &b, brush);
      break;
    }
    default: {
      RECT sq = {cx - s, cy - s, cx + s, cy + s};
      FillRect(item.hDC, &sq, brush);
      break;
    }
  }
  SelectObject(item.hDC, oldPen);
  SelectObject(item.hDC, oldBrush);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = r;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(item.hDC, &focus);
  }
}

void PlayerWindow::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_, &ps);
  RECT client;
  GetClientRect(window_, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &client, EDGE_ETCHED, BF_RECT);
  EndPaint(window_, &ps);
}

PlayerWindow* FromWindow(HWND window) {
  return reinterpret_cast<PlayerWindow*>(Wide().GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK PlayerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PlayerWindow* player = FromWindow(window);
  switch (message) {
    case WM_CREATE: {
      auto* created = new PlayerWindow(window);
      Wide().SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
      // Tab moves into the player's buttons and position bar.
      Wide().SetWindowLongPtrW(window, GWL_EXSTYLE,
                               Wide().GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
      // Refusing creation makes the dialog that hosts the control fail.
      return created->CreateChildren() ? 0 : -1;
    }
    case WM_NCDESTROY:
      delete player;
      Wide().SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_DESTROY:
      if (player) player->Destroy();
      return 0;
    case WM_SIZE:
      if (player) player->Layout();
      return 0;
    case WM_SETFONT:
      if (player) player->SetFont(reinterpret_cast<HFONT>(wParam), LOWORD(lParam) != 0);
      return 0;
    case WM_COMMAND:
      if (player && HIWORD(wParam) == BN_CLICKED) player->OnCommand(LOWORD(wParam));
      return 0;
    case WM_HSCROLL:
      if (player) player->OnScroll(LOWORD(wParam));
      return 0;
    case WM_TIMER:
      if (player && wParam == kTickTimer) player->OnTick();
      return 0;
    case MM_MCINOTIFY:
      if (player) player->OnNotify(wParam);
      return 0;
    case WM_DRAWITEM:
      if (player) player->OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_PAINT:
      if (player) {
        player->OnPaint();
        return 0;
      }
      break;
    case WM_ERASEBKGND: return 1;
    default: break;
  }
  return Wide().DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool RegisterPlayerClass(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  if (!InitCommonControlsEx(&controls)) InitCommonControls();
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  if (Wide().GetClassInfoExW(instance, kClassName, &wc)) return true;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = PlayerProc;
  wc.hInstance = instance;
  wc.hCursor = Wide().LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = nullptr;
  wc.lpszClassName = kClassName;
  return Wide().RegisterClassExW(&wc) != 0;
}

PlayerControl* PlayerOfWindow(HWND window) {
  wchar_t name[32] = L"";
  if (!window || !Wide().GetClassNameW(window, name, 32) || Wide().lstrcmpiW(name, kClassName) != 0)
    return nullptr;
  return FromWindow(window);
}

}  // namespace lirrow
