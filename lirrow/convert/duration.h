// The length in seconds of a WAV file (by its size) or an MP3 file (by
// walking its MPEG audio frame headers).
#pragma once

#include <cstdint>
#include <string>

#include "file.h"

namespace lirrow {

// The state of one walk over MPEG audio frame headers; all zero at the start.
struct Mp3Probe {
  double duration = 0.0;  // seconds; set only when at least one frame was found
  int version = 0;        // of the first frame: 3 = MPEG-1, 2 = MPEG-2, 1 = MPEG-2.5, 0 = reserved
  int layer = 0;          // of the first frame: 1, 2 or 3 = Layer I, II, III; 0 = reserved
  int sampleRate = 0;     // Hz, of the latest frame that named a valid rate
};

// Seconds of audio in the file at `path`. A path ending in "wav" (any case)
// is measured by its size: bytes / 16000 (8 kHz, 16-bit, mono; the header
// counts as sound). Anything else is walked as MP3. What cannot be opened or
// measured is 0.
double MeasureDuration(const std::wstring& path);

// The data rate the decoders write and every WAV length is counted at:
// 8 kHz, 16-bit, mono.
constexpr uint32_t kDecoderWavByteRate = 16000;

// The data rate of the RIFF WAVE file at `path` in bytes per second, from its
// "fmt " chunk; 0 when the file is not one (no RIFF/WAVE header, no "fmt "
// chunk among its first 64 chunks). A size-measured length holds only for
// kDecoderWavByteRate.
uint32_t WavByteRate(const std::wstring& path);

// Whether an MP3 of `mp3Seconds` can be the encoding of a WAV of
// `wavSeconds`: the difference of their lengths, truncated to whole seconds,
// is at most 2.
bool Mp3LengthAgrees(double mp3Seconds, double wavSeconds);

// Moves `skip` bytes forward when skip > 0, then looks for a frame sync (11
// set bits) in the 4-byte window at the position, advancing the window one
// byte at a time for at most 10,000 further positions. `header` receives the
// last window read as a big-endian word (0 when nothing could be read).
// True when it carries the sync; the position then lies behind it.
bool FindFrameHeader(File& file, long skip, uint32_t& header);

// Walks the frames of the open file from its current position and fills
// `probe`. Later frames are measured with the first frame's version and
// layer. A header with bitrate index 15, or with the reserved layer before
// the first frame, counts no time and the walk searches on from its second
// byte; a frame without a known sample rate, or a sync not found within the
// search bound, ends the walk, and the frames before it count.
void ProbeMp3(File& file, Mp3Probe& probe);

}  // namespace lirrow
