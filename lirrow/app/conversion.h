// One conversion as a value: the request the dialog (or a front end) takes
// when Start is confirmed, and the result the pipeline hands back. Front ends
// draw the result; none of them reads a conversion's state mid-run.
#pragma once

#include <cstdint>
#include <string>

namespace lirrow {

struct ConversionRequest {
  std::wstring sourcePath;
  bool wav = true;   // produce BasePath + ".wav"
  bool mp3 = false;  // produce BasePath + ".mp3"
};

enum class ConversionStatus {
  kConverted,       // the outputs asked for are written (an MP3 may have been refused, see
                    // systemError)
  kMp3Rejected,     // converted, but the MP3's length was off: it was deleted
  kUnsupported,     // the first byte names no kind the decoders take
  kDecoderMissing,  // a decoder could not be started
  kToolFailed,      // a decoder ended with another exit code than 0
  kStopped,         // a decoder abandoned the conversion (exit code 262)
  kOutputFailed,    // a file could not be read or written: failedPath
};

struct ConversionResult {
  ConversionStatus status = ConversionStatus::kUnsupported;
  std::wstring tool;           // the tool of kDecoderMissing, kToolFailed, kStopped
  std::uint32_t exitCode = 0;  // kToolFailed, kStopped
  std::wstring failedPath;     // kOutputFailed; with kConverted, an MP3 left unreplaced
  // The system's error code of the failure, 0 when it has none to show. With
  // kConverted: why an earlier MP3 could not be replaced.
  std::uint32_t systemError = 0;
  std::wstring wavPath;  // the outputs written ("": none)
  std::wstring mp3Path;
  double seconds = 0.0;  // the length to show

  // True when an output was produced (also when its MP3 was then refused).
  bool Produced() const {
    return status == ConversionStatus::kConverted || status == ConversionStatus::kMp3Rejected;
  }
};

}  // namespace lirrow
