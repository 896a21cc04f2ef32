#include "pipeline.h"

#include "converter_app.h"
#include "duration.h"
#include "pipeline_platform.h"
#include "recording.h"

namespace lirrow {

const wchar_t* const kCheckedDecoders[3] = {L"QL8_DEC.exe", L"QL4_DEC.exe", L"VRN_DEC.exe"};

namespace {

// Names tried for an earlier MP3 moved aside.
constexpr int kAsideAttempts = 10;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The extraction hooks of a framed recording: the extraction window spins
// while the dialog's messages are dispatched one at a time.
class ExtractionProgress final : public ExtractionHooks {
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

std::wstring CommandLineOf(const ToolInvocation& tool) {
  std::wstring line = Quoted(tool.folder + L"\\" + tool.program);
  for (const std::wstring& option : tool.options) line += L" " + option;
  return line + L" " + Quoted(tool.input) + L" " + Quoted(tool.output);
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

bool ConversionPipeline::RunDecoder(const wchar_t* tool, const std::wstring& input,
                                    const std::wstring& output, const std::wstring& baseText,
                                    bool framed, ConversionResult& result) {
  result.tool = tool;
  // The tool runs in its own process: only an error of this step (a start
  // that failed, a handle the wait lost) may be shown after it.
  platform_.ClearLastError();
  ToolRun run = platform_.RunTool({host_.StartDirectory(), tool, {}, input, output}, baseText);
  if (!run.started) {
    result.status = ConversionStatus::kDecoderMissing;
    result.systemError = platform_.LastError();
    return false;
  }
  if (run.exitCode == kAbandonExitCode) {
    platform_.CloseToolHandles(run);
    result.status = ConversionStatus::kStopped;
    result.exitCode = kAbandonExitCode;
    return false;
  }
  const std::uint32_t exitCode = platform_.ReadExitCode(run);
  platform_.CloseToolHandles(run);
  if (exitCode != 0) {
    result.status = ConversionStatus::kToolFailed;
    result.exitCode = exitCode;
    // The framed decoders' failures come with the system's word on them.
    if (framed) result.systemError = platform_.LastError();
    return false;
  }
  return true;
}

bool ConversionPipeline::Extract(const std::wstring& source, const std::wstring& bitstream,
                                 ConversionResult& result) {
  int extracted;
  {
    // Only an error of the extraction itself may be reported: earlier
    // calls and the messages dispatched meanwhile leave values behind,
    // and even a successful create over an old temp.sbs sets one.
    platform_.ClearLastError();
    ExtractionProgress progress(platform_, host_.Texts()[TextKey::OvkToBin]);
    extracted = files_.ExtractBitstream(source, bitstream, progress);
  }
  if (extracted == kExtractOk) return true;
  result.status = ConversionStatus::kOutputFailed;
  const bool sourceSide = extracted == kExtractSourceOpenFailed ||
                          extracted == kExtractShortBlock || extracted == kExtractNotFramed;
  result.failedPath = sourceSide ? source : bitstream;
  // The result says whether a system call failed; a block that reads short
  // has no system reason, and whatever error the thread holds then belongs
  // to something else.
  result.systemError = ExtractFailedInSystemCall(extracted) ? platform_.LastError() : 0;
  return false;
}

bool ConversionPipeline::Decode(RecordingKind kind, const std::wstring& source,
                                std::wstring& decodedWav, ConversionResult& result) {
  const TextTable& texts = host_.Texts();
  const std::wstring temp = platform_.TempDirectory();
  if (kind == kRecordingByte05 || kind == kRecordingByte04 || kind == kRecordingByte03) {
    // The decoder reads the recording itself.
    decodedWav = temp + L"tmp.wav";
    return RunDecoder(L"Vrn_dec.exe", source, decodedWav, texts[TextKey::OvkToPcm], false, result);
  }
  // Framed recordings: reorder into the decoders' bitstream first.
  const std::wstring bitstream = temp + L"temp.sbs";
  if (!Extract(source, bitstream, result)) return false;
  decodedWav = temp + L"temp.wav";
  const wchar_t* decoder = kind == kRecordingByte40or41 ? L"QL4_Dec.exe" : L"QL8_Dec.exe";
  if (!RunDecoder(decoder, bitstream, decodedWav, texts[TextKey::BinToPcm], true, result))
    return false;
  platform_.RemoveFile(bitstream);
  return true;
}

bool ConversionPipeline::MoveAside(const std::wstring& path, std::wstring& aside,
                                   ConversionResult& result) {
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
  result.failedPath = path;
  result.systemError = platform_.LastError();
  return false;
}

void ConversionPipeline::EncodeMp3(const std::wstring& decodedWav, const std::wstring& basePath,
                                   ConversionResult& result) {
  const double wavSeconds = files_.MeasureDuration(decodedWav);
  const std::wstring mp3Output = basePath + L".mp3";
  // The encoder's exit code says nothing, so an earlier MP3 that it could
  // not replace (read-only, hidden, open in another program) would pass for
  // this run's output. It goes aside first, comes back when no new one is
  // accepted, and is deleted only once one is. One that cannot be moved
  // cannot be replaced either: the user is told why, and the WAV output
  // stays the result.
  std::wstring aside;
  if (!MoveAside(mp3Output, aside, result)) return;
  const ToolInvocation encoder{
      host_.StartDirectory(), L"sqenc.exe", {L"-b", L"32"}, decodedWav, mp3Output};
  platform_.ClearLastError();
  ToolRun run = platform_.RunTool(encoder, host_.Texts()[TextKey::PcmToMp3]);
  bool accepted = run.started;
  if (run.started) {
    // Only a file this run produced is judged; an encoder that did not
    // start leaves the WAV output as the result, without a word.
    platform_.CloseToolHandles(run);
    result.seconds = files_.MeasureDuration(mp3Output);
    if (!Mp3LengthAgrees(result.seconds, wavSeconds)) {
      platform_.RemoveFile(mp3Output);
      result.status = ConversionStatus::kMp3Rejected;
      accepted = false;
    }
  }
  if (accepted && !aside.empty() && !platform_.RemoveFile(aside)) {
    // An earlier MP3 that Windows will not delete (read-only) is not
    // replaced: the new one goes and the run ends as if it had not started.
    result.failedPath = mp3Output;
    result.systemError = platform_.LastError();
    result.seconds = wavSeconds;
    platform_.RemoveFile(mp3Output);
    accepted = false;
  }
  if (accepted) result.mp3Path = mp3Output;
  if (!accepted && !aside.empty()) platform_.RenameFile(aside, mp3Output);
}

ConversionResult ConversionPipeline::ConvertRecording(const ConversionRequest& request) {
  ConversionResult result;
  const std::wstring& source = request.sourcePath;
  const RecordingKind kind = files_.ClassifyRecording(source);
  if (kind == kRecordingUnsupported) return result;

  std::wstring decodedWav;
  if (!Decode(kind, source, decodedWav, result)) return result;
  const std::wstring basePath = BasePathOf(source);
  if (request.wav) {
    const std::wstring wavOutput = basePath + L".wav";
    if (!platform_.CopyFileReplacing(decodedWav, wavOutput)) {
      result.status = ConversionStatus::kOutputFailed;
      result.failedPath = wavOutput;
      result.systemError = platform_.LastError();
      return result;  // the decoded WAV stays
    }
    result.wavPath = wavOutput;
    result.seconds = files_.MeasureDuration(decodedWav);
  }
  result.status = ConversionStatus::kConverted;
  if (request.mp3) EncodeMp3(decodedWav, basePath, result);
  platform_.RemoveFile(decodedWav);
  return result;
}

}  // namespace lirrow
