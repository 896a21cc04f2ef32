// Recording files of the player: which names the converter accepts, the
// kind of a recording by its first byte, and the extraction of the frame
// decoders' bitstream from a framed recording.
#pragma once

#include <string>

namespace lirrow {

// The kind of a recording, chosen by the byte at offset 0. The values are
// what the conversion uses to choose a decoder: 0..2 are read whole by
// Vrn_dec.exe, 3 and 4 are framed in 10-byte frames (QL8_Dec.exe), 5 is
// framed in 22-byte frames (QL4_Dec.exe), 6 cannot be converted.
enum RecordingKind : int {
  kRecordingByte05 = 0,
  kRecordingByte04 = 1,
  kRecordingByte03 = 2,
  kRecordingByte80 = 3,
  kRecordingByte81 = 4,
  kRecordingByte40or41 = 5,
  kRecordingUnsupported = 6,
};

// The kind of the recording at `path`. The file is opened read-only with
// read and write sharing, its first byte read, and closed again. A file that
// cannot be opened, or that is empty, is kRecordingUnsupported.
RecordingKind ClassifyRecording(const std::wstring& path);

// The kind named by a first byte.
RecordingKind KindOfFirstByte(unsigned char firstByte);

// True when the text after the last '.' of `path` (the whole path when it has
// no '.') is "ovk", "rcd" or "rec" in any letter case.
bool HasRecordingExtension(const std::wstring& path);

// Notifications of ExtractBitstream. The defaults do nothing.
struct ExtractionHooks {
  virtual ~ExtractionHooks() = default;
  // Once, after the first byte named a framed layout, before the first block.
  virtual void OnStarted() {}
  // In the 10-byte layout once per byte pair placed, as each frame is
  // done: 5 times per frame, 255 times per 512-byte block. Never in the
  // 22-byte layout.
  virtual void OnPump() {}
  // Once, after the last block and the target was closed, right before 0
  // is returned. Not called when the extraction fails.
  virtual void OnFinished() {}
};

// Results of ExtractBitstream.
constexpr int kExtractOk = 0;
constexpr int kExtractSourceOpenFailed = -1;    // nothing was written
constexpr int kExtractTargetCreateFailed = -2;  // nothing was written
constexpr int kExtractNotFramed = -4;           // the target is left as an empty file
// A block could not be read whole although the size promised it (the file
// shrank or a read failed); the target holds the blocks before it.
constexpr int kExtractShortBlock = -5;
// Writing the target failed (for example the disk is full); its content is
// incomplete.
constexpr int kExtractWriteFailed = -6;

// True for the results whose cause is a failed system call (open, create,
// write), which leaves its reason as the thread's last error; a short block
// or a first byte that names no framed layout has no such reason.
inline bool ExtractFailedInSystemCall(int result) {
  return result == kExtractSourceOpenFailed || result == kExtractTargetCreateFailed ||
         result == kExtractWriteFailed;
}

// Writes the headerless decoder stream of the framed recording `source` to
// `target` (created or truncated): for every 512-byte block after the
// 512-byte header block, its 51 frames of 10 bytes (first byte 0x80 or 0x81)
// or 23 frames of 22 bytes (first byte 0x40, 0x41 or 0x50), each frame's two
// halves interleaved byte by byte; the unused bytes at the end of each block
// and a trailing part shorter than a block are dropped. Returns one of the
// kExtract... results; any non-zero result is a failure.
int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                     ExtractionHooks& hooks);

}  // namespace lirrow
