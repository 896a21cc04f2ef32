#include "pipeline.h"

#include <cmath>
#include <cwctype>

#include "converter_app.h"
#include "pipeline_platform.h"
#include "recording.h"

namespace lirrow {

const wchar_t* const kCheckedDecoders[3] = {L"QL8_DEC.exe", L"QL4_DEC.exe", L"VRN_DEC.exe"};

namespace {

// Recording kinds as the converter library classifies them.
constexpr int kKindUnsupported = 6;
// Names tried for an earlier MP3 moved aside.
constexpr int kAsideAttempts = 10;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring TrimmedWhiteSpace(const std::wstring& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::iswspace(static_cast<wint_t>(text[begin]))) ++begin;
  while (end > begin && std::iswspace(static_cast<wint_t>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// The extraction hooks of a framed recording: the extraction window spins
// while the dialog's messages are dispatched one at a time.
class ExtractionProgress final : public RecordingFiles::Hooks {
 public:
  ExtractionProgress(PipelinePlatform& platform, const std::wstring& baseText)
      : platform_(platform), baseText_(baseText) {}
  ~ExtractionProgress() override {
    if (open_) platform_.CloseExtractionWindow();
  }
  ExtractionProgress(const ExtractionProgress&) = delete;
  ExtractionProgress& operator=(const ExtractionProgress&) = delete;

  void OnStarted() override {
    platform_.OpenExtractionWindow(baseText_);
    open_ = true;
  }
  void OnPump() override { platform_.PumpOneMessage(); }
  void OnFinished() override {
    if (open_) platform_.CloseExtractionWindow();
    open_ = false;
  }

 private:
  PipelinePlatform& platform_;
  const std::wstring baseText_;
  bool open_ = false;
};

}  // namespace

std::wstring DecoderCommandLine(const std::wstring& tool, const std::wstring& input,
                                const std::wstring& output) {
  return Quoted(tool) + L" " + Quoted(input) + L" " + Quoted(output);
}

std::wstring EncoderCommandLine(const std::wstring& tool, const std::wstring& input,
                                const std::wstring& output) {
  return Quoted(tool) + L" -b 32 " + Quoted(input) + L" " + Quoted(output);
}

std::wstring BasePathOf(const std::wstring& source) {
  const auto dot = source.rfind(L'.');
  return dot == std::wstring::npos ? source : source.substr(0, dot);
}

std::wstring MissingDecoderMessage(const std::wstring& name, const std::wstring& directory,
                                   const std::wstring& notFindText, unsigned languageId) {
  std::wstring message = name + L"\n";
  // The English text asks to copy the file "to %s": the directory belongs
  // in its placeholder. The Chinese texts have none; the directory then
  // stands in front of the text.
  const auto placeholder = notFindText.find(L"%s");
  if (placeholder != std::wstring::npos &&
      notFindText.find(L"%s", placeholder + 2) == std::wstring::npos &&
      notFindText.find(L'%') == placeholder) {
    std::wstring text = notFindText;
    text.replace(placeholder, 2, directory);
    return message + text;
  }
  if (languageId == kLangTraditionalChinese) return message + notFindText + L"\n" + directory;
  return message + directory + notFindText;
}

ConversionPipeline::ConversionPipeline(ConversionHost& host, PipelinePlatform& platform,
                                       RecordingFiles& files)
    : host_(host), platform_(platform), files_(files) {}

bool ConversionPipeline::CheckDecoders() {
  const std::wstring directory = platform_.ProgramDirectory();
  for (const wchar_t* name : kCheckedDecoders) {
    if (!platform_.FileExists(directory + L"\\" + name)) {
      host_.ShowMessage(
          MissingDecoderMessage(name, directory, host_.Texts()[TextKey::NotFindExeFile],
                                host_.LanguageId()),
          MessageIcon::Warning);
      return false;
    }
  }
  return true;
}

bool ConversionPipeline::RunDecoder(std::wstring command, const std::wstring& baseText,
                                    bool reportSystemError) {
  // The tool runs in its own process: only an error of this step (a start
  // that failed, a handle the wait lost) may be shown after it.
  platform_.ClearLastError();
  ToolRun run = platform_.RunTool(command, baseText);
  if (!run.started) {
    platform_.ReportSystemError();
    return false;
  }
  if (run.exitCode == kAbandonExitCode) {
    platform_.CloseToolHandles(run);
    return false;
  }
  host_.WriteControls();
  const std::uint32_t exitCode = platform_.ReadExitCode(run);
  platform_.CloseToolHandles(run);
  if (exitCode != 0) {
    host_.ShowMessage(host_.Texts()[TextKey::ConvertErr], MessageIcon::Warning);
    if (reportSystemError) platform_.ReportSystemError();
    return false;
  }
  return true;
}

bool ConversionPipeline::MoveAside(const std::wstring& path, std::wstring& aside) {
  aside.clear();
  // A name left by a run that ended before it could put the file back is
  // never replaced: the next free one is taken.
  for (int attempt = 0; attempt < kAsideAttempts; ++attempt) {
    const std::wstring name =
        path + L".lirrow-old" + (attempt == 0 ? std::wstring() : std::to_wstring(attempt));
    if (platform_.FileExists(name)) continue;
    switch (platform_.RenameFile(path, name)) {
      case PipelinePlatform::Rename::kRenamed: aside = name; return true;
      case PipelinePlatform::Rename::kAbsent: return true;
      case PipelinePlatform::Rename::kFailed: break;
    }
    break;
  }
  platform_.ReportSystemError();
  return false;
}

double ConversionPipeline::EncodeMp3(const std::wstring& decodedWav, const std::wstring& basePath,
                                     double shownLength) {
  const TextTable& texts = host_.Texts();
  const double wavSeconds = files_.MeasureDuration(decodedWav);
  const std::wstring mp3Output = basePath + L".mp3";
  const std::wstring before = host_.OutputPath();
  // The encoder's exit code says nothing, so an earlier MP3 that it could
  // not replace (read-only, hidden, open in another program) would pass for
  // this run's output. It goes aside first, comes back when no new one is
  // accepted, and is deleted only once one is. One that cannot be moved
  // cannot be replaced either: the user is told why, and the WAV output
  // stays the result.
  std::wstring aside;
  ToolRun run;
  if (MoveAside(mp3Output, aside)) {
    std::wstring command =
        EncoderCommandLine(host_.StartDirectory() + L"\\sqenc.exe", decodedWav, mp3Output);
    platform_.ClearLastError();
    run = platform_.RunTool(command, texts[TextKey::PcmToMp3]);
  }
  bool accepted = run.started;
  if (run.started) {
    host_.WriteControls();
    platform_.CloseToolHandles(run);
    host_.SetOutputPath(mp3Output);
  }
  const std::wstring output = host_.OutputPath();
  shownLength = files_.MeasureDuration(output);
  // Only a file this run produced is judged: when the encoder did not
  // start, OutputPath names the WAV output (which matches itself) or,
  // without a WAV output, a file of an earlier conversion that must not
  // be deleted.
  const bool produced = run.started || output == basePath + L".wav";
  const double difference = std::trunc(shownLength - wavSeconds);
  if (produced && std::fabs(difference) > 2.0) {
    host_.ShowMessage(texts[TextKey::ConvertErr], MessageIcon::Warning);
    platform_.RemoveFile(output);
    host_.SetOutputPath(L"");
    accepted = false;
  }
  if (aside.empty()) return shownLength;
  if (accepted && !platform_.RemoveFile(aside)) {
    // An earlier MP3 that Windows will not delete (read-only) is not
    // replaced: the new one goes and the run ends as if it had not started.
    platform_.ReportSystemError();
    platform_.RemoveFile(mp3Output);
    host_.SetOutputPath(before);
    shownLength = files_.MeasureDuration(before);
    accepted = false;
  }
  if (!accepted) platform_.RenameFile(aside, mp3Output);
  return shownLength;
}

bool ConversionPipeline::ConvertRecording(const std::wstring& sourcePath) {
  const TextTable& texts = host_.Texts();
  const std::wstring& start = host_.StartDirectory();

  host_.SetPlayerFile(L"");

  const int kind = files_.ClassifyRecording(sourcePath);
  if (kind < 0 || kind >= kKindUnsupported) {
    host_.SetSourceText(sourcePath);
    host_.ReadControls();
    host_.ShowMessage(texts[TextKey::BadFormatFile], MessageIcon::Stop);
    return false;
  }

  const std::wstring temp = platform_.TempDirectory();
  const std::wstring basePath = BasePathOf(sourcePath);
  std::wstring decodedWav;

  if (kind <= 2) {
    // The decoder reads the recording itself.
    decodedWav = temp + L"tmp.wav";
    if (!RunDecoder(DecoderCommandLine(start + L"\\Vrn_dec.exe", sourcePath, decodedWav),
                    texts[TextKey::OvkToPcm], false))
      return false;
  } else {
    // Framed recordings: reorder into the decoders' bitstream first.
    const std::wstring bitstream = temp + L"temp.sbs";
    int extracted;
    {
      // Only an error of the extraction itself may be reported: earlier
      // calls and the messages dispatched meanwhile leave values behind,
      // and even a successful create over an old temp.sbs sets one.
      platform_.ClearLastError();
      ExtractionProgress progress(platform_, texts[TextKey::OvkToBin]);
      extracted = files_.ExtractBitstream(sourcePath, bitstream, progress);
    }
    if (extracted != 0) {
      // The result says whether a system call failed; a block that reads
      // short has no system reason, and whatever error the thread holds
      // then belongs to something else. Either way the user is told.
      if (!ExtractFailedInSystemCall(extracted) || platform_.ReportSystemError())
        host_.ShowMessage(texts[TextKey::ConvertErr], MessageIcon::Warning);
      return false;
    }
    decodedWav = temp + L"temp.wav";
    const wchar_t* decoder = kind == 5 ? L"\\QL4_Dec.exe" : L"\\QL8_Dec.exe";
    if (!RunDecoder(DecoderCommandLine(start + decoder, bitstream, decodedWav),
                    texts[TextKey::BinToPcm], true))
      return false;
    platform_.RemoveFile(bitstream);
  }

  double shownLength = 0.0;
  if (host_.WavFlag()) {
    const std::wstring wavOutput = basePath + L".wav";
    if (!platform_.CopyFileReplacing(decodedWav, wavOutput)) {
      platform_.ReportSystemError();
      host_.SetOutputPath(L"");
      return false;
    }
    host_.SetOutputPath(wavOutput);
    shownLength = files_.MeasureDuration(decodedWav);
  }

  if (host_.Mp3Flag()) shownLength = EncodeMp3(decodedWav, basePath, shownLength);

  platform_.RemoveFile(decodedWav);

  const std::wstring output = TrimmedWhiteSpace(host_.OutputPath());
  host_.SetOutputPath(output);
  if (!output.empty()) {
    host_.SetPlayerFile(output);
    host_.SetCaption(output);
  }

  host_.SetTotalTimeText(FormatTotalTime(shownLength));
  host_.WriteControls();
  return true;
}

}  // namespace lirrow
