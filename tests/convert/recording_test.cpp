// Recording kinds, the extension test and the bitstream extraction.
#include "recording.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_files.h"

namespace {

using lirrow::ExtractBitstream;
using lirrow::ExtractionHooks;
using namespace lirrow_test;

// Records the order of the notifications.
struct RecordingHooks : ExtractionHooks {
  std::string events;  // 'S', 'F' once each; pumps are counted
  int pumps = 0;
  int pumpsBeforeStart = 0;
  void OnStarted() override { events += 'S'; }
  void OnPump() override {
    if (events.empty()) ++pumpsBeforeStart;
    ++pumps;
  }
  void OnFinished() override { events += 'F'; }
};

// A framed recording: the kind byte, 511 header bytes of 0xAA, then `blocks`
// data blocks whose bytes come from `fill(block, offsetInBlock)`, then
// `tail` extra bytes.
template <typename Fill>
Bytes Framed(unsigned char kind, int blocks, int tail, Fill fill) {
  Bytes file(512, 0xAA);
  file[0] = kind;
  for (int b = 0; b < blocks; ++b)
    for (int i = 0; i < 512; ++i) file.push_back(fill(b, i));
  for (int i = 0; i < tail; ++i) file.push_back(0xEE);
  return file;
}

// ---- classification -------------------------------------------------------------

TEST(ClassifyRecording, FirstByteSelectsKind) {
  TempDir dir;
  const struct {
    unsigned char byte;
    int kind;
  } cases[] = {
      {0x05, 0}, {0x04, 1}, {0x03, 2}, {0x80, 3}, {0x81, 4}, {0x40, 5}, {0x41, 5},
      {0x50, 6}, {0x00, 6}, {0x06, 6}, {0x02, 6}, {0x82, 6}, {0x42, 6}, {0xFF, 6},
  };
  for (const auto& c : cases) {
    WriteBytes(dir / "r.rec", Bytes{c.byte, 0x80, 0x05});
    EXPECT_EQ(lirrow::ClassifyRecording(dir.W("r.rec")), c.kind) << "first byte " << int(c.byte);
  }
  // Every byte outside the table is unsupported.
  int supported = 0;
  for (int b = 0; b < 256; ++b)
    if (lirrow::KindOfFirstByte(static_cast<unsigned char>(b)) != lirrow::kRecordingUnsupported)
      ++supported;
  EXPECT_EQ(supported, 7);
}

TEST(ClassifyRecording, UnreadableFilesAreUnsupported) {
  TempDir dir;
  WriteBytes(dir / "empty.rec", Bytes{});
  EXPECT_EQ(lirrow::ClassifyRecording(dir.W("empty.rec")), lirrow::kRecordingUnsupported);
  EXPECT_EQ(lirrow::ClassifyRecording(dir.W("missing.rec")), lirrow::kRecordingUnsupported);
  fs::create_directory(dir / "folder.rec");
  EXPECT_EQ(lirrow::ClassifyRecording(dir.W("folder.rec")), lirrow::kRecordingUnsupported);
  EXPECT_EQ(lirrow::ClassifyRecording(L""), lirrow::kRecordingUnsupported);
}

TEST(ClassifyRecording, OpensNonAsciiNames) {
  TempDir dir;
  // Created through the platform's own UTF-8 path conversion, so the
  // converter's wide-path handling is checked against it.
  WriteBytes(dir.path() / fs::u8path(u8"\u5f55\u97f3 \u00fc.rec"), Bytes{0x81});
  const std::wstring wide = dir.path().wstring() + L"/\u5f55\u97f3 \u00fc.rec";
  EXPECT_EQ(lirrow::ClassifyRecording(wide), lirrow::kRecordingByte81);

  RecordingHooks hooks;
  const std::wstring target = dir.path().wstring() + L"/\u6d41.sbs";
  EXPECT_EQ(ExtractBitstream(wide, target, hooks), lirrow::kExtractOk);
  EXPECT_TRUE(fs::exists(dir.path() / fs::u8path(u8"\u6d41.sbs")));
}

TEST(HasRecordingExtension, ComparesTextAfterLastDot) {
  for (const wchar_t* yes :
       {L"C:\\a\\b.rec", L"b.REC", L"x.Ovk", L"x.rcd", L"x.oVK", L".rec", L"rec", L"a.b.rcd"})
    EXPECT_TRUE(lirrow::HasRecordingExtension(yes)) << std::wstring(yes).size();
  for (const wchar_t* no : {L"b.rec.txt", L"b.recs", L"b.re", L"b.", L"", L"C:\\dir.rec\\file",
                            L"b.wav", L"b.r\u00e9c", L"ovkx", L"b. rec"})
    EXPECT_FALSE(lirrow::HasRecordingExtension(no)) << std::wstring(no).size();
}

// ---- extraction: frame orders -----------------------------------------------------

TEST(ExtractBitstream, TenByteFramesInterleaveHalves) {
  TempDir dir;
  // Block 0 starts with the frame 00 01 02 03 04 10 11 12 13 14; every
  // other byte carries its block, frame and position; the 2 unused bytes
  // at the end of each block are 0xEE.
  auto fill = [](int b, int i) -> unsigned char {
    if (i >= 510) return 0xEE;
    if (b == 0 && i < 10) return static_cast<unsigned char>(i < 5 ? i : 0x10 + i - 5);
    return static_cast<unsigned char>((b * 31 + i) % 0xE0);
  };
  const Bytes source = Framed(0x80, 2, 0, fill);
  WriteBytes(dir / "r.ovk", source);
  RecordingHooks hooks;
  ASSERT_EQ(ExtractBitstream(dir.W("r.ovk"), dir.W("t.sbs"), hooks), lirrow::kExtractOk);
  const Bytes out = ReadBytes(dir / "t.sbs");
  ASSERT_EQ(out.size(), 2u * 510u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 10),
            (Bytes{0x00, 0x10, 0x01, 0x11, 0x02, 0x12, 0x03, 0x13, 0x04, 0x14}));
  for (int b = 0; b < 2; ++b)
    for (int f = 0; f < 51; ++f)
      for (int k = 0; k < 10; ++k) {
        const size_t in = 512 + 512 * b + 10 * f + (k % 2 == 0 ? k / 2 : 5 + k / 2);
        ASSERT_EQ(out[510 * b + 10 * f + k], source[in])
            << "block " << b << " frame " << f << " byte " << k;
      }
}

TEST(ExtractBitstream, TwentyTwoByteFramesInterleaveHalves) {
  TempDir dir;
  // Each frame holds 0..21 plus 22 times its frame number; unused 0xEE.
  auto fill = [](int b, int i) -> unsigned char {
    if (i >= 506) return 0xEE;
    return static_cast<unsigned char>(((b * 23 + i / 22) * 22 + i % 22) % 0xE0);
  };
  const Bytes source = Framed(0x40, 3, 0, fill);
  WriteBytes(dir / "r.rcd", source);
  RecordingHooks hooks;
  ASSERT_EQ(ExtractBitstream(dir.W("r.rcd"), dir.W("t.sbs"), hooks), lirrow::kExtractOk);
  const Bytes out = ReadBytes(dir / "t.sbs");
  ASSERT_EQ(out.size(), 3u * 506u);
  const Bytes order = {0,  11, 1,  12, 2,  13, 3,  14, 4,  15, 5,
                       16, 6,  17, 7,  18, 8,  19, 9,  20, 10, 21};
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 22), order);
  for (int frame = 0; frame < 3 * 23; ++frame)
    for (int k = 0; k < 22; ++k)
      ASSERT_EQ(out[22 * frame + k], (frame * 22 + order[k]) % 0xE0)
          << "frame " << frame << " byte " << k;
}

TEST(ExtractBitstream, StreamSizeFollowsWholeBlocks) {
  TempDir dir;
  // Data bytes stay below 100; header (0xAA) and tail (0xEE) bytes must not
  // reach the stream.
  auto fill = [](int, int i) { return static_cast<unsigned char>(i % 100); };
  // 0x41, 512 + 3 * 512 + 100 bytes: three blocks, the tail ignored.
  WriteBytes(dir / "a.rec", Framed(0x41, 3, 100, fill));
  // 0x81 with a tail of 511 bytes: still one block.
  WriteBytes(dir / "b.rec", Framed(0x81, 1, 511, fill));
  WriteBytes(dir / "c.rec", Framed(0x80, 0, 0, fill));    // 512 bytes
  WriteBytes(dir / "d.rec", Framed(0x80, 0, 511, fill));  // 1023 bytes
  WriteBytes(dir / "e.rec", Bytes{0x41});                 // header cut short
  const struct {
    const char* name;
    size_t size;
  } cases[] = {
      {"a.rec", 1518}, {"b.rec", 510}, {"c.rec", 0}, {"d.rec", 0}, {"e.rec", 0},
  };
  for (const auto& c : cases) {
    RecordingHooks hooks;
    WriteBytes(dir / "t.sbs", Bytes(3000, 0x77));  // an old target is truncated
    EXPECT_EQ(ExtractBitstream(dir.W(c.name), dir.W("t.sbs"), hooks), lirrow::kExtractOk) << c.name;
    EXPECT_EQ(fs::file_size(dir / "t.sbs"), c.size) << c.name;
    EXPECT_EQ(hooks.events, "SF") << c.name;
    for (unsigned char byte : ReadBytes(dir / "t.sbs")) ASSERT_LT(byte, 100) << c.name;
  }
}

TEST(ExtractBitstream, AcceptsByte50ThatClassificationRefuses) {
  TempDir dir;
  WriteBytes(dir / "r.rec",
             Framed(0x50, 2, 0, [](int, int i) { return static_cast<unsigned char>(i); }));
  EXPECT_EQ(lirrow::ClassifyRecording(dir.W("r.rec")), lirrow::kRecordingUnsupported);
  RecordingHooks hooks;
  EXPECT_EQ(ExtractBitstream(dir.W("r.rec"), dir.W("t.sbs"), hooks), lirrow::kExtractOk);
  const Bytes out = ReadBytes(dir / "t.sbs");
  ASSERT_EQ(out.size(), 2u * 506u);
  EXPECT_EQ(out[1], 11);  // the 22-byte order
  EXPECT_EQ(hooks.pumps, 0);
}

// ---- extraction: notifications ------------------------------------------------------

TEST(ExtractBitstream, PumpsFivePerFrameOnlyInTenByteLayout) {
  TempDir dir;
  auto fill = [](int, int i) { return static_cast<unsigned char>(i); };
  const struct {
    unsigned char kind;
    int blocks;
    int pumps;
  } cases[] = {
      {0x80, 3, 3 * 255}, {0x81, 1, 255}, {0x81, 0, 0}, {0x40, 3, 0}, {0x41, 2, 0},
  };
  for (const auto& c : cases) {
    WriteBytes(dir / "r.rec", Framed(c.kind, c.blocks, 7, fill));
    RecordingHooks hooks;
    ASSERT_EQ(ExtractBitstream(dir.W("r.rec"), dir.W("t.sbs"), hooks), 0);
    EXPECT_EQ(hooks.pumps, c.pumps) << "kind " << int(c.kind) << " blocks " << c.blocks;
    EXPECT_EQ(hooks.pumpsBeforeStart, 0);
    EXPECT_EQ(hooks.events, "SF");
  }
}

TEST(ExtractBitstream, FinishedComesAfterTargetIsComplete) {
  TempDir dir;
  WriteBytes(dir / "r.rec",
             Framed(0x81, 4, 0, [](int, int i) { return static_cast<unsigned char>(i); }));
  struct SizeAtFinish : ExtractionHooks {
    fs::path target;
    uintmax_t size = 0;
    void OnFinished() override { size = fs::file_size(target); }
  } hooks;
  hooks.target = dir / "t.sbs";
  ASSERT_EQ(ExtractBitstream(dir.W("r.rec"), dir.W("t.sbs"), hooks), 0);
  EXPECT_EQ(hooks.size, 4u * 510u);
}

// ---- extraction: failures -------------------------------------------------------------

TEST(ExtractBitstream, FailureResults) {
  TempDir dir;
  WriteBytes(dir / "framed.rec", Framed(0x80, 1, 0, [](int, int) { return 1; }));
  WriteBytes(dir / "whole.rec", Bytes(2048, 0x05));
  WriteBytes(dir / "empty.rec", Bytes{});

  {  // missing source: -1, nothing created
    RecordingHooks hooks;
    EXPECT_EQ(ExtractBitstream(dir.W("missing.rec"), dir.W("t1.sbs"), hooks),
              lirrow::kExtractSourceOpenFailed);
    EXPECT_FALSE(fs::exists(dir / "t1.sbs"));
    EXPECT_EQ(hooks.events, "");
  }
  {  // source is a folder: -1
    fs::create_directory(dir / "folder.rec");
    RecordingHooks hooks;
    EXPECT_EQ(ExtractBitstream(dir.W("folder.rec"), dir.W("t1.sbs"), hooks),
              lirrow::kExtractSourceOpenFailed);
    EXPECT_FALSE(fs::exists(dir / "t1.sbs"));
  }
  {  // target in a missing folder: -2
    RecordingHooks hooks;
    EXPECT_EQ(ExtractBitstream(dir.W("framed.rec"), dir.W("no/t.sbs"), hooks),
              lirrow::kExtractTargetCreateFailed);
    EXPECT_EQ(hooks.events, "");
  }
  {  // target is a folder: -2, the folder stays
    fs::create_directory(dir / "t.dir");
    RecordingHooks hooks;
    EXPECT_EQ(ExtractBitstream(dir.W("framed.rec"), dir.W("t.dir"), hooks),
              lirrow::kExtractTargetCreateFailed);
    EXPECT_TRUE(fs::is_directory(dir / "t.dir"));
  }
  for (const char* name : {"whole.rec", "empty.rec"}) {
    // not framed: -4, an old target is left empty, no notification
    WriteBytes(dir / "t4.sbs", Bytes(100, 0x11));
    RecordingHooks hooks;
    EXPECT_EQ(ExtractBitstream(dir.W(name), dir.W("t4.sbs"), hooks), lirrow::kExtractNotFramed)
        << name;
    ASSERT_TRUE(fs::exists(dir / "t4.sbs"));
    EXPECT_EQ(fs::file_size(dir / "t4.sbs"), 0u);
    EXPECT_EQ(hooks.events, "");
  }
}

TEST(ExtractBitstream, SourceShrinkingDuringExtractionFails) {
  TempDir dir;
  // Large enough that the blocks are not all read at the start.
  const int blocks = 2000;
  WriteBytes(dir / "r.rec",
             Framed(0x41, blocks, 0, [](int b, int) { return static_cast<unsigned char>(b); }));
  struct Shrink : ExtractionHooks {
    fs::path source;
    bool finished = false;
    void OnStarted() override { fs::resize_file(source, 512 + 10 * 512); }
    void OnFinished() override { finished = true; }
  } hooks;
  hooks.source = dir / "r.rec";
  EXPECT_EQ(ExtractBitstream(dir.W("r.rec"), dir.W("t.sbs"), hooks), lirrow::kExtractShortBlock);
  EXPECT_FALSE(hooks.finished);
  // Only whole blocks that were really read went out; no stale bytes.
  const Bytes out = ReadBytes(dir / "t.sbs");
  EXPECT_EQ(out.size() % 506, 0u);
  EXPECT_LT(out.size(), size_t{blocks} * 506u);
  for (size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i], static_cast<unsigned char>(i / 506)) << i;
}

#ifndef _WIN32
TEST(ExtractBitstream, FullDiskIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  WriteBytes(dir / "r.rec",
             Framed(0x80, 3, 0, [](int, int i) { return static_cast<unsigned char>(i); }));
  RecordingHooks hooks;
  EXPECT_EQ(ExtractBitstream(dir.W("r.rec"), L"/dev/full", hooks), lirrow::kExtractWriteFailed);
  EXPECT_EQ(hooks.events, "S");
}
#endif

}  // namespace
