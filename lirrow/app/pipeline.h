// The conversion pipeline: the decoder presence check and the conversion of
// one recording to a WAV (and optionally MP3) file next to it.
//
// The pipeline works on the main dialog through ConversionHost (implemented
// by the dialog) and on the system through PipelinePlatform
// (pipeline_platform.h; the Win32 binding is in pipeline_win32.h).
#pragma once

#include <string>

#include "converter_dialog.h"  // Conversion, MessageIcon
#include "text_table.h"

namespace lirrow {

class PipelinePlatform;
class RecordingFiles;

// What the conversion needs from the main dialog.
class ConversionHost {
 public:
  virtual ~ConversionHost() = default;

  // ---- the dialog's fields ------------------------------------------------
  virtual bool WavFlag() = 0;
  virtual bool Mp3Flag() = 0;
  virtual std::wstring OutputPath() = 0;
  virtual void SetOutputPath(const std::wstring& path) = 0;
  // The total time field (bound to the hidden static 1045).
  virtual void SetTotalTimeText(const std::wstring& text) = 0;
  // Writes `text` into the source path box (control 1539).
  virtual void SetSourceText(const std::wstring& text) = 0;

  // ---- data exchange -------------------------------------------------------
  virtual void ReadControls() = 0;   // controls -> fields
  virtual void WriteControls() = 0;  // fields -> controls

  // ---- window --------------------------------------------------------------
  virtual void SetCaption(const std::wstring& text) = 0;
  // Puts `path` into the player (an empty path unloads it) and reports a
  // failure as "System Error Code :" with the code.
  virtual void SetPlayerFile(const std::wstring& path) = 0;
  // A message box with an OK button, `icon` and the caption "Lirrow".
  virtual void ShowMessage(const std::wstring& text, MessageIcon icon) = 0;
  // Owner of the progress windows: the dialog's HWND (as void* so that
  // this header stays free of windows.h).
  virtual void* OwnerWindow() = 0;

  // ---- texts and folders ---------------------------------------------------
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

// The command line of a decoder: the three arguments, each in double quotes.
std::wstring DecoderCommandLine(const std::wstring& tool, const std::wstring& input,
                                const std::wstring& output);
// The command line of the encoder: quoted tool, -b 32, quoted input and output.
std::wstring EncoderCommandLine(const std::wstring& tool, const std::wstring& input,
                                const std::wstring& output);
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
  // Converts the recording at `sourcePath`. True when an output was
  // produced and handed to the player (also when the MP3 length check then
  // removed the MP3); false after any failure or an unsupported recording.
  bool ConvertRecording(const std::wstring& sourcePath) override;

 private:
  // Runs one decoder behind the progress window. False ends the conversion:
  // the decoder did not start (the system's error is shown), it abandoned
  // with 262 (nothing is shown), or it failed (the ConvertErr text, then the
  // system's error when `reportSystemError` is set).
  bool RunDecoder(std::wstring command, const std::wstring& baseText, bool reportSystemError);

  // Renames an existing `path` to a free name beside it, given in `aside`
  // (empty when there was nothing to move). False, with the system's error
  // shown, when the file is there but cannot be moved.
  bool MoveAside(const std::wstring& path, std::wstring& aside);
  // Encodes the decoded WAV to BasePath + ".mp3" and checks its length.
  // Returns the length to show (`shownLength` is the WAV output's).
  double EncodeMp3(const std::wstring& decodedWav, const std::wstring& basePath,
                   double shownLength);

  ConversionHost& host_;
  PipelinePlatform& platform_;
  RecordingFiles& files_;
};

}  // namespace lirrow
