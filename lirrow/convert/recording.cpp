#include "recording.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "file.h"

namespace lirrow {

namespace {

constexpr int64_t kBlockSize = 512;

wchar_t AsciiLower(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

}  // namespace

RecordingKind KindOfFirstByte(unsigned char firstByte) {
  switch (firstByte) {
    case 0x05: return kRecordingByte05;
    case 0x04: return kRecordingByte04;
    case 0x03: return kRecordingByte03;
    case 0x80: return kRecordingByte80;
    case 0x81: return kRecordingByte81;
    case 0x40:
    case 0x41: return kRecordingByte40or41;
    default: return kRecordingUnsupported;
  }
}

RecordingKind ClassifyRecording(const std::wstring& path) {
  File file;
  if (!file.OpenRead(path, File::Share::kReadWrite)) return kRecordingUnsupported;
  unsigned char first = 0;
  if (file.Read(&first, 1) != 1) return kRecordingUnsupported;
  return KindOfFirstByte(first);
}

bool HasRecordingExtension(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  const size_t start = dot == std::wstring::npos ? 0 : dot + 1;
  if (path.size() - start != 3) return false;
  wchar_t ext[3];
  for (size_t i = 0; i < 3; ++i) ext[i] = AsciiLower(path[start + i]);
  static const wchar_t* const kExtensions[] = {L"ovk", L"rcd", L"rec"};
  for (const wchar_t* known : kExtensions) {
    if (ext[0] == known[0] && ext[1] == known[1] && ext[2] == known[2]) return true;
  }
  return false;
}

namespace {

#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false;
#endif

// The 4 bytes at p as a little-endian number.
inline uint64_t Load4(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Moves byte i of a value of up to 4 bytes to byte 2i.
inline uint64_t Spread(uint64_t v) {
  v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
  v = (v | (v << 8)) & 0x00FF00FF00FF00FFull;
  return v;
}

// Stores Count bytes of each half interleaved: 2 * Count bytes at `out`.
template <size_t Count>
inline void Zip(unsigned char* out, uint64_t first, uint64_t second) {
  const uint64_t v = Spread(first) | (Spread(second) << 8);
  std::memcpy(out, &v, 2 * Count);
}

// Reorders one frame of 2N bytes in place: its halves interleaved,
// out[2i] = frame[i], out[2i+1] = frame[N+i]. Both halves are read whole
// before the frame is overwritten; the scratch space is a few registers.
template <int N>
void ReorderFrame(unsigned char* frame);

template <>
inline void ReorderFrame<5>(unsigned char* frame) {
  const uint64_t a = Load4(frame), b = Load4(frame + 5);
  const unsigned char a4 = frame[4], b4 = frame[9];
  Zip<4>(frame, a, b);
  frame[8] = a4;
  frame[9] = b4;
}

template <>
inline void ReorderFrame<11>(unsigned char* frame) {
  // The last loads take one byte more than the half holds (still inside
  // the block: 23 frames end 6 bytes before it) and mask it off.
  const uint64_t a0 = Load4(frame), a1 = Load4(frame + 4), a2 = Load4(frame + 8) & 0xFFFFFF;
  const uint64_t b0 = Load4(frame + 11), b1 = Load4(frame + 15), b2 = Load4(frame + 19) & 0xFFFFFF;
  Zip<4>(frame, a0, b0);
  Zip<4>(frame + 8, a1, b1);
  Zip<3>(frame + 16, a2, b2);
}

// The same without assumptions on the byte order.
template <int N>
inline void ReorderFramePortable(unsigned char* frame) {
  unsigned char scratch[2 * N];
  for (int i = 0; i < N; ++i) {
    scratch[2 * i] = frame[i];
    scratch[2 * i + 1] = frame[N + i];
  }
  std::memcpy(frame, scratch, sizeof scratch);
}

// Reorders the frames of one data block in place. With Pump, OnPump follows
// every byte pair placed, N times per frame; a frame's pairs are placed
// together and the calls follow, which the hook cannot tell apart.
template <int N, int Frames, bool Pump>
void ReorderBlock(unsigned char* block, ExtractionHooks& hooks) {
  unsigned char* frame = block;
  for (int f = 0; f < Frames; ++f, frame += 2 * N) {
    if (kLittleEndian)
      ReorderFrame<N>(frame);
    else
      ReorderFramePortable<N>(frame);
    if (Pump)
      for (int i = 0; i < N; ++i) hooks.OnPump();
  }
}

}  // namespace

int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                     ExtractionHooks& hooks) {
  File in;
  if (!in.OpenRead(source, File::Share::kReadWrite)) return kExtractSourceOpenFailed;
  File out;
  if (!out.Create(target)) return kExtractTargetCreateFailed;

  const int64_t size = in.Size();
  unsigned char first = 0;
  const bool haveFirst = in.Read(&first, 1) == 1;

  // 10-byte layout: 51 frames (510 bytes) per block, pumping; 22-byte
  // layout: 23 frames (506 bytes), no pumping. The rest of a block is unused.
  bool tenByte;
  if (haveFirst && (first == 0x80 || first == 0x81)) {
    tenByte = true;
  } else if (haveFirst && (first == 0x40 || first == 0x41 || first == 0x50)) {
    tenByte = false;
  } else {
    in.Close();
    out.Close();
    return kExtractNotFramed;
  }
  const size_t streamBytes = tenByte ? 510 : 506;

  in.SeekTo(kBlockSize);
  hooks.OnStarted();
  if (size < 0) return kExtractShortBlock;

  unsigned char block[kBlockSize];
  const int64_t blocks = (size - kBlockSize) / kBlockSize;
  for (int64_t b = 0; b < blocks; ++b) {
    if (in.Read(block, kBlockSize) != static_cast<size_t>(kBlockSize)) return kExtractShortBlock;
    if (tenByte)
      ReorderBlock<5, 51, true>(block, hooks);
    else
      ReorderBlock<11, 23, false>(block, hooks);
    if (!out.Write(block, streamBytes)) return kExtractWriteFailed;
  }

  in.Close();
  if (!out.Close()) return kExtractWriteFailed;
  hooks.OnFinished();
  return kExtractOk;
}

}  // namespace lirrow
