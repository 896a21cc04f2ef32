#include "converter_dialog.h"

#include <cwchar>
#include <cwctype>

#include "converter_app.h"
#include "recording.h"

namespace lirrow {

const wchar_t kOpenFilter[] =
    L"Record Files(*.ovk; *.rcd; *.rec)|*.ovk;*.rcd;*.rec|MP3 Files(*.mp3)|*.mp3|WAV "
    L"Files(*.wav)|*.wav|"
    L"All Files(*.*)|*.*||";

namespace {

constexpr std::size_t kMaxSourcePath = 259;

// Keeps a flag set for the lifetime of a scope.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = previous_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool previous_;
};

std::wstring TrimmedWhiteSpace(const std::wstring& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::iswspace(static_cast<wint_t>(text[begin]))) ++begin;
  while (end > begin && std::iswspace(static_cast<wint_t>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// The dialog as the place where a conversion's result is shown.
class DialogView final : public ConversionView {
 public:
  explicit DialogView(ConverterDialog& dialog) : dialog_(dialog) {}
  void ShowMessage(const std::wstring& text, MessageIcon icon) override {
    dialog_.Window().ShowMessage(text, icon);
  }
  void ShowSystemError(std::uint32_t code) override { dialog_.Window().ShowSystemError(code); }
  void SetPlayerFile(const std::wstring& path) override { dialog_.SetPlayerFile(path); }
  void SetCaption(const std::wstring& text) override { dialog_.Window().SetCaption(text); }

 private:
  ConverterDialog& dialog_;
};

// Shows a failed conversion; false when the result is not a failure.
bool PresentFailure(const ConversionResult& result, const TextTable& texts,
                    std::wstring& outputPath, ConversionView& view) {
  switch (result.status) {
    case ConversionStatus::kUnsupported:
      view.ShowMessage(texts[TextKey::BadFormatFile], MessageIcon::Stop);
      return true;
    case ConversionStatus::kDecoderMissing:
      if (result.systemError != 0) view.ShowSystemError(result.systemError);
      return true;
    case ConversionStatus::kStopped: return true;  // the decoder's wish: nothing is said
    case ConversionStatus::kToolFailed:
      view.ShowMessage(texts[TextKey::ConvertErr], MessageIcon::Warning);
      if (result.systemError != 0) view.ShowSystemError(result.systemError);
      return true;
    case ConversionStatus::kOutputFailed:
      // Without a system reason (a recording that reads short) the user is
      // still told.
      if (result.systemError != 0)
        view.ShowSystemError(result.systemError);
      else
        view.ShowMessage(texts[TextKey::ConvertErr], MessageIcon::Warning);
      outputPath.clear();
      return true;
    case ConversionStatus::kConverted:
    case ConversionStatus::kMp3Rejected: break;
  }
  return false;
}

}  // namespace

void PresentConversion(const ConversionResult& result, const TextTable& texts,
                       std::wstring& outputPath, std::wstring& totalTime, ConversionView& view) {
  if (PresentFailure(result, texts, outputPath, view)) return;
  // Why an earlier MP3 was not replaced; the WAV output is then the result.
  if (result.systemError != 0) view.ShowSystemError(result.systemError);
  if (result.status == ConversionStatus::kMp3Rejected) {
    view.ShowMessage(texts[TextKey::ConvertErr], MessageIcon::Warning);
    outputPath.clear();
  } else if (!result.mp3Path.empty()) {
    outputPath = result.mp3Path;
  } else if (!result.wavPath.empty()) {
    outputPath = result.wavPath;
  }
  outputPath = TrimmedWhiteSpace(outputPath);
  if (!outputPath.empty()) {
    view.SetPlayerFile(outputPath);
    view.SetCaption(outputPath);
  }
  totalTime = FormatTotalTime(result.seconds);
}

std::wstring FormatTotalTime(double seconds) {
  const unsigned long s = seconds > 0 ? static_cast<unsigned long>(seconds) : 0;
  wchar_t buffer[40];
  std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"%lu:%02lu:%02lu", s / 3600,
                (s % 3600) / 60, s % 60);
  return buffer;
}

std::wstring AboutMenuCaption(const std::wstring& aboutText) {
  if (aboutText.find(L'&') != std::wstring::npos) return aboutText;
  return aboutText + L"(&A)";
}

std::wstring PathExtension(const std::wstring& path) {
  const auto dot = path.rfind(L'.');
  return dot == std::wstring::npos ? path : path.substr(dot + 1);
}

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
      return false;
  return true;
}

ConverterDialog::ConverterDialog(DialogWindow& window, PlayerControl& player,
                                 Conversion& conversion, const TextTable& appTexts,
                                 const std::wstring& startDirectory)
    : window_(window),
      player_(player),
      conversion_(conversion),
      appTexts_(appTexts),
      startDirectory_(startDirectory) {}

void ConverterDialog::ReadControls() {
  mp3Flag_ = window_.IsChecked(ctl::Mp3) ? 1 : 0;
  wavFlag_ = window_.IsChecked(ctl::Wav) ? 1 : 0;
  sourcePath_ = window_.ControlText(ctl::Source);
  totalTime_ = window_.ControlText(ctl::TotalTime);
}

void ConverterDialog::WriteControls() {
  {
    // Writing the source box raises its change notification; the handler
    // must not read the half-written controls back into the fields.
    FlagScope writing(writingControls_);
    window_.SetChecked(ctl::Mp3, mp3Flag_ != 0);
    window_.SetChecked(ctl::Wav, wavFlag_ != 0);
    if (window_.ControlText(ctl::Source) != sourcePath_)
      window_.SetControlText(ctl::Source, sourcePath_);
    window_.SetControlText(ctl::TotalTime, totalTime_);
  }
  UpdateStartButton();
}

void ConverterDialog::Initialise() {
  // The controls start from the fields: WAV checked, MP3 not, empty texts.
  outputPath_.clear();
  mp3Flag_ = 0;
  wavFlag_ = 1;
  sourcePath_.clear();
  totalTime_.clear();
  {
    FlagScope writing(writingControls_);
    window_.SetChecked(ctl::Mp3, false);
    window_.SetChecked(ctl::Wav, true);
    window_.SetControlText(ctl::Source, sourcePath_);
    window_.SetControlText(ctl::TotalTime, totalTime_);
  }

  texts_ = appTexts_;
  window_.EnableControl(ctl::Start, false);

  window_.AppendSystemMenuItem(kAboutCommand, AboutMenuCaption(texts_[TextKey::About]));
  window_.SetCaption(texts_[TextKey::Title]);
  window_.SetControlText(ctl::Exit, texts_[TextKey::ID_EXIT]);
  window_.SetControlText(ctl::Help, texts_[TextKey::IDC_BTN_HELP]);
  window_.SetControlText(ctl::Mp3, texts_[TextKey::IDC_MP3]);
  window_.SetControlText(ctl::Open, texts_[TextKey::IDC_OPEN]);
  window_.SetControlText(ctl::Wav, texts_[TextKey::IDC_WAV]);
  window_.SetControlText(ctl::Start, texts_[TextKey::IDC_BTN_START]);
  window_.SetControlText(ctl::OutputGroup, texts_[TextKey::IDC_SC_OUTPUT]);

  window_.InstallWindowIcon(texts_);
  player_.SetBooleanSetting(true);
}

void ConverterDialog::UpdateStartButton() {
  if (writingControls_) {
    // Only the decision; the fields are being written out.
    window_.EnableControl(ctl::Start, HasRecordingExtension(window_.ControlText(ctl::Source)));
    return;
  }
  ReadControls();
  window_.EnableControl(ctl::Start, HasRecordingExtension(sourcePath_));
}

void ConverterDialog::OnOutputOptionClicked() {
  ReadControls();
  UpdateStartButton();
}

void ConverterDialog::SetPlayerFile(const std::wstring& path) {
  const unsigned code = player_.SetFileName(path);
  if (code != 0)
    window_.ShowMessage(L"System Error Code :" + std::to_wstring(code), MessageIcon::Warning);
}

void ConverterDialog::SetSourceText(const std::wstring& text) {
  sourcePath_ = text;
  {
    FlagScope writing(writingControls_);
    window_.SetControlText(ctl::Source, text);
  }
  UpdateStartButton();
}

void ConverterDialog::Open() {
  // A second Open while a conversion pumps messages would change the box
  // under the running conversion.
  if (converting_ || ended_) return;
  std::wstring path;
  if (!window_.ChooseFileToOpen(kOpenFilter, path)) return;
  const std::wstring extension = PathExtension(path);
  if (EqualsIgnoreCase(extension, L"mp3") || EqualsIgnoreCase(extension, L"wav")) {
    SetPlayerFile(path);
    window_.ReportSystemError();
    window_.SetCaption(path);
    SetSourceText(path);
    totalTime_ = FormatTotalTime(player_.Duration());
    WriteControls();
  } else if (HasRecordingExtension(path)) {
    SetSourceText(path);
  } else {
    window_.ShowMessage(texts_[TextKey::BadFormatFile], MessageIcon::Error);
  }
}

void ConverterDialog::Start() {
  if (converting_ || ended_) return;
  std::wstring source = window_.ControlText(ctl::Source);
  if (source.size() > kMaxSourcePath) source.resize(kMaxSourcePath);
  if (!FileExists(source)) {
    window_.FocusAndSelectAll(ctl::Source);
    return;
  }
  if (!conversion_.CheckDecoders()) return;
  ConversionResult result;
  {
    FlagScope running(converting_);
    // The player lets go of the old output before it is replaced.
    SetPlayerFile(L"");
    result = conversion_.ConvertRecording({source, wavFlag_ != 0, mp3Flag_ != 0});
  }
  ShowResult(source, result);
  if (exitPending_) {
    exitPending_ = false;
    Exit();
  }
}

void ConverterDialog::ShowResult(const std::wstring& source, const ConversionResult& result) {
  if (result.status == ConversionStatus::kUnsupported) {
    // The path as it was taken goes back into the box, and the fields
    // follow the controls.
    SetSourceText(source);
    ReadControls();
  }
  DialogView view(*this);
  PresentConversion(result, texts_, outputPath_, totalTime_, view);
  if (result.Produced()) WriteControls();
}

void ConverterDialog::Help() {
  const std::wstring program = window_.WindowsDirectory() + L"\\hh.exe";
  const std::wstring argument = startDirectory_ + L"\\" + texts_[TextKey::HelpFile];
  if (window_.ShellOpen(program, argument) <= 32) window_.ReportSystemError();
}

void ConverterDialog::Exit() {
  if (ended_) return;
  if (converting_) {
    // The conversion pumps messages; finish it first, then leave.
    exitPending_ = true;
    return;
  }
  SetPlayerFile(L"");
  window_.DeleteFileIfPresent(startDirectory_ + L"\\tempMP3.mp3");
  ReadControls();
  ended_ = true;
  window_.EndDialog(ctl::Ok);
}

bool ConverterDialog::SystemCommand(unsigned command) {
  if ((command & 0xFFF0u) == kAboutCommand) {
    window_.ShowAboutBox(texts_);
    return true;
  }
  if ((command & 0xFFF0u) == kCloseCommand) Exit();
  return false;
}

}  // namespace lirrow
