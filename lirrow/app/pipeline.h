// The conversion pipeline: the decoder presence check and the conversion of
// one recording to a WAV (and optionally MP3) file next to it.
//
// The pipeline takes a ConversionRequest and returns a ConversionResult; it
// reaches the dialog only through ConversionHost (texts, the owner window,
// the decoder check's message) and the system through PipelinePlatform
// (pipeline_platform.h; the Win32 binding is in pipeline_win32.h).
#pragma once

#include <string>

#include "converter_dialog.h"  // Conversion, MessageIcon
#include "pipeline_platform.h"
#include "recording.h"
#include "text_table.h"

namespace lirrow {

// What the conversion needs from the main dialog: the decoder check's
// message box, the owner of the progress windows, the texts and the tools'
// folder. A conversion's outcome goes back as its ConversionResult.
class ConversionHost {
 public:
  virtual ~ConversionHost() = default;

  // A message box with an OK button, `icon` and the caption "Lirrow".
  virtual void ShowMessage(const std::wstring& text, MessageIcon icon) = 0;
  // Owner of the progress windows: the dialog's HWND (as void* so that
  // this header stays free of windows.h).
  virtual void* OwnerWindow() = 0;
  // The dialog's own copy of the 32 texts.
  virtual const TextTable& Texts() = 0;
  // The mapped language id the texts were chosen for (0x0409, 0x0804,
  // 0x0404 or another id kept as it is).
  virtual unsigned LanguageId() = 0;
  // The current directory at start-up, without a trailing backslash.
  virtual const std::wstring& StartDirectory() = 0;
};

// Decoder and encoder program names, as looked for and as run.
extern const wchar_t* const kCheckedDecoders[3];  // QL8_DEC.exe, QL4_DEC.exe, VRN_DEC.exe

// The Windows command line of a tool run: the program's full path, the input
// and the output each in double quotes, the options unquoted before the
// paths, all separated by single blanks.
std::wstring CommandLineOf(const ToolInvocation& tool);
// The source path up to, not including, its last '.' (the whole path when it
// has none).
std::wstring BasePathOf(const std::wstring& source);
// The CheckDecoders message for a missing decoder: the name, a line break,
// then the directory and the NotFindExeFile text. A text that carries one
// "%s" gets the directory in its place. Otherwise the Traditional Chinese
// text (language 0x0404), which asks to copy the file to the folder below,
// is followed by a line break and the directory; any other text follows the
// directory directly.
std::wstring MissingDecoderMessage(const std::wstring& name, const std::wstring& directory,
                                   const std::wstring& notFindText, unsigned languageId);

// The pipeline bound to one dialog. Implements the dialog's Conversion.
class ConversionPipeline final : public Conversion {
 public:
  ConversionPipeline(ConversionHost& host, PipelinePlatform& platform, RecordingFiles& files);

  // True when QL8_DEC.exe, QL4_DEC.exe and VRN_DEC.exe are all in the
  // program directory; otherwise shows which one is missing.
  bool CheckDecoders() override;
  // Converts the recording of `request` and says how it ended. The player
  // must have let go of the outputs before (the dialog unloads it).
  ConversionResult ConvertRecording(const ConversionRequest& request) override;

 private:
  // Decodes the recording to the temporary WAV named in `decodedWav`:
  // directly, or after extracting the bitstream of a framed kind. False
  // with the failure in `result`.
  bool Decode(RecordingKind kind, const std::wstring& source, std::wstring& decodedWav,
              ConversionResult& result);
  bool Extract(const std::wstring& source, const std::wstring& bitstream, ConversionResult& result);
  // Runs one decoder behind the progress window. False ends the conversion:
  // the decoder did not start, it abandoned with 262, or it failed (with
  // the system's error for the `framed` decoders).
  bool RunDecoder(const wchar_t* tool, const std::wstring& input, const std::wstring& output,
                  const std::wstring& baseText, bool framed, ConversionResult& result);
  // Renames an existing `path` to a free name beside it, given in `aside`
  // (empty when there was nothing to move). False, with the path and the
  // system's error in `result`, when the file is there but cannot be moved.
  bool MoveAside(const std::wstring& path, std::wstring& aside, ConversionResult& result);
  // Encodes the decoded WAV to BasePath + ".mp3" and checks its length.
  void EncodeMp3(const std::wstring& decodedWav, const std::wstring& basePath,
                 ConversionResult& result);

  ConversionHost& host_;
  PipelinePlatform& platform_;
  RecordingFiles& files_;
};

}  // namespace lirrow
