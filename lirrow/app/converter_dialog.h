// The converter's main dialog: its fields, the data exchange with its
// controls and its command handlers. Window operations go through
// DialogWindow, the player through PlayerControl, and the conversion through
// Conversion, so the handlers run natively against fakes.
#pragma once

#include <string>

#include "conversion.h"
#include "text_table.h"

namespace lirrow {

// Control ids of the main dialog (template 102).
namespace ctl {
constexpr int Ok = 1;
constexpr int Cancel = 2;
constexpr int OutputGroup = 1029;
constexpr int Help = 1031;
constexpr int Player = 1044;
constexpr int TotalTime = 1045;
constexpr int Open = 1536;
constexpr int Wav = 1537;
constexpr int Mp3 = 1538;
constexpr int Source = 1539;
constexpr int Start = 1540;
constexpr int Exit = 1541;
}  // namespace ctl

constexpr unsigned kAboutCommand = 16;      // system-menu item that opens the About box
constexpr unsigned kCloseCommand = 0xF060;  // SC_CLOSE

// The file-open filter, in the '|'-separated form (the window layer turns it
// into the system's NUL-separated list).
extern const wchar_t kOpenFilter[];

enum class MessageIcon { Warning, Error, Stop };

// The window operations the dialog uses.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual std::wstring ControlText(int id) = 0;
  virtual void SetControlText(int id, const std::wstring& text) = 0;
  virtual bool IsChecked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void SetCaption(const std::wstring& text) = 0;
  // Appends a separator and then a string item to the system menu.
  virtual void AppendSystemMenuItem(unsigned command, const std::wstring& caption) = 0;
  // Installs the window icon chosen from the texts (large and small).
  virtual void InstallWindowIcon(const TextTable& texts) = 0;
  // A message box with an OK button and the caption "Lirrow".
  virtual void ShowMessage(const std::wstring& text, MessageIcon icon) = 0;
  // The system's file-open dialog; false on Cancel.
  virtual bool ChooseFileToOpen(const std::wstring& filter, std::wstring& path) = 0;
  // Gives control `id` the focus, selects its whole text and scrolls the
  // caret into view.
  virtual void FocusAndSelectAll(int id) = 0;
  virtual std::wstring WindowsDirectory() = 0;
  // ShellExecute "open"; returns its result (above 32 on success).
  virtual long ShellOpen(const std::wstring& program, const std::wstring& arguments) = 0;
  virtual void DeleteFileIfPresent(const std::wstring& path) = 0;
  virtual void EndDialog(int result) = 0;
  virtual void ShowAboutBox(const TextTable& texts) = 0;
  // Shows the system's text for the thread's last error; true when there
  // was none.
  virtual bool ReportSystemError() = 0;
  // The same for the error `code`; nothing is shown for 0.
  virtual void ShowSystemError(std::uint32_t code) = 0;
};

// The player control at 1044.
class PlayerControl {
 public:
  virtual ~PlayerControl() = default;
  // Loads `path`, or unloads on an empty path. Returns 0 or the system error
  // code of the failure (also left as the thread's last error).
  virtual unsigned SetFileName(const std::wstring& path) = 0;
  // Length of the loaded file in seconds (0 when nothing is loaded).
  virtual double Duration() = 0;
  // The control's Boolean setting that initialisation turns on.
  virtual void SetBooleanSetting(bool value) = 0;
};

// The conversion steps that Start runs.
class Conversion {
 public:
  virtual ~Conversion() = default;
  virtual bool CheckDecoders() = 0;
  virtual ConversionResult ConvertRecording(const ConversionRequest& request) = 0;
};

// Where a finished conversion is shown.
class ConversionView {
 public:
  virtual ~ConversionView() = default;
  virtual void ShowMessage(const std::wstring& text, MessageIcon icon) = 0;
  // The system's text for `code` (never 0).
  virtual void ShowSystemError(std::uint32_t code) = 0;
  virtual void SetPlayerFile(const std::wstring& path) = 0;
  virtual void SetCaption(const std::wstring& text) = 0;
};

// Tells the user how the conversion ended, in the program's texts, and takes
// its outputs: `outputPath` becomes the file the player gets (emptied after
// a failed output or a refused MP3; kept when the conversion wrote nothing
// it names), which is loaded and shown in the caption, and `totalTime` the
// length of a produced result. Failures change neither the player nor the
// total time.
void PresentConversion(const ConversionResult& result, const TextTable& texts,
                       std::wstring& outputPath, std::wstring& totalTime, ConversionView& view);

// "%d:%02d:%02d" of a length truncated to whole seconds.
std::wstring FormatTotalTime(double seconds);

// Caption of the system-menu item: the About text as it is when it has a
// mnemonic ("&"), otherwise followed by "(&A)".
std::wstring AboutMenuCaption(const std::wstring& aboutText);

// The characters after the last '.', or the whole path when it has none.
std::wstring PathExtension(const std::wstring& path);
bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b);

class ConverterDialog {
 public:
  ConverterDialog(DialogWindow& window, PlayerControl& player, Conversion& conversion,
                  const TextTable& appTexts, const std::wstring& startDirectory);

  // ---- handlers -------------------------------------------------------
  void Initialise();
  void UpdateStartButton();
  void OnOutputOptionClicked();
  void Open();
  void Start();
  void Help();
  void Exit();
  // True when the command was handled; false leaves it to the system's
  // default handling (also after Close has run Exit).
  bool SystemCommand(unsigned command);

  // ---- operations used by the conversion ------------------------------
  void ReadControls();
  void WriteControls();
  void SetPlayerFile(const std::wstring& path);
  // Puts `text` into the source field and box.
  void SetSourceText(const std::wstring& text);

  // ---- fields ---------------------------------------------------------
  std::wstring& OutputPath() { return outputPath_; }
  const TextTable& Texts() const { return texts_; }
  bool Mp3Flag() const { return mp3Flag_ != 0; }
  bool WavFlag() const { return wavFlag_ != 0; }
  std::wstring& SourcePath() { return sourcePath_; }
  std::wstring& TotalTimeText() { return totalTime_; }
  const std::wstring& StartDirectoryPath() const { return startDirectory_; }
  bool Converting() const { return converting_; }
  bool Ended() const { return ended_; }

  DialogWindow& Window() { return window_; }
  PlayerControl& Player() { return player_; }

 private:
  DialogWindow& window_;
  PlayerControl& player_;
  Conversion& conversion_;
  const TextTable& appTexts_;
  std::wstring startDirectory_;

  // Fields, in the order of the data exchange.
  std::wstring outputPath_;
  TextTable texts_;
  int mp3Flag_ = 0;
  int wavFlag_ = 1;
  std::wstring sourcePath_;
  std::wstring totalTime_;

  // Shows how the conversion of `source` ended and takes its outputs.
  void ShowResult(const std::wstring& source, const ConversionResult& result);

  bool writingControls_ = false;  // a control write is under way
  bool converting_ = false;       // ConvertRecording is running (it may pump messages)
  bool exitPending_ = false;      // Exit or Close arrived while converting
  bool ended_ = false;
};

}  // namespace lirrow
