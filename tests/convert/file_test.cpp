// The buffered file under the access patterns of the frame walk and the
// extraction, checked against the bytes written.
#include "file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "recording.h"
#include "temp_files.h"
#include "utf8.h"

namespace {

using namespace lirrow_test;

Bytes Pseudorandom(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

TEST(BufferedFile, RandomSeeksAndReadsMatchContent) {
  TempDir dir;
  const Bytes content = Pseudorandom(200000, 1);  // spans several read buffers
  WriteBytes(dir / "f.bin", content);
  lirrow::File file;
  ASSERT_TRUE(file.OpenRead(dir.W("f.bin")));
  EXPECT_EQ(file.Size(), 200000);

  std::mt19937 random(2);
  int64_t position = 0;
  for (int step = 0; step < 3000; ++step) {
    switch (random() % 4) {
      case 0: position = random() % 210000; break;                   // anywhere, also past the end
      case 1: position = std::max<int64_t>(0, position - 3); break;  // the walk's step back
      case 2: position += random() % 2000; break;                    // a frame's skip
      default: position = 65536 * (1 + random() % 3) - random() % 8; break;  // near buffer edges
    }
    ASSERT_TRUE(file.SeekTo(position));
    const size_t want = 1 + random() % 600;
    Bytes got(want);
    const size_t n = file.Read(got.data(), want);
    const size_t expected = position >= 200000 ? 0 : std::min<size_t>(want, 200000 - position);
    ASSERT_EQ(n, expected) << "at " << position;
    for (size_t i = 0; i < n; ++i)
      ASSERT_EQ(got[i], content[position + i]) << "at " << position + i;
    position += static_cast<int64_t>(n);
    ASSERT_EQ(file.Position(), position);
  }
  EXPECT_FALSE(file.SeekTo(-1));
  EXPECT_EQ(file.Position(), position);
}

TEST(BufferedFile, SlidingWindowFetchesEachByteAboutOnce) {
  TempDir dir;
  const Bytes content = Pseudorandom(300000, 3);
  WriteBytes(dir / "f.bin", content);
  lirrow::File file;
  ASSERT_TRUE(file.OpenRead(dir.W("f.bin")));
  // Read 4, step back 3, over the whole file: the search pattern.
  unsigned char window[4];
  int64_t positions = 0;
  while (file.Read(window, 4) == 4) {
    ASSERT_EQ(window[3], content[positions + 3]);
    ++positions;
    file.SeekBy(-3);
  }
  EXPECT_EQ(positions, 300000 - 3);
  EXPECT_LE(file.BytesFetched(), 300000u + 1024u);
}

TEST(BufferedFile, WritesArriveWholeAndFailuresSurfaceAtClose) {
  TempDir dir;
  const Bytes content = Pseudorandom(150001, 4);
  {
    lirrow::File out;
    ASSERT_TRUE(out.Create(dir.W("w.bin")));
    size_t done = 0;
    for (size_t piece = 1; done < content.size(); piece = piece * 3 % 70001 + 1) {
      const size_t n = std::min(piece, content.size() - done);
      ASSERT_TRUE(out.Write(content.data() + done, n));
      done += n;
    }
    EXPECT_TRUE(out.Close());
    EXPECT_TRUE(out.Close());  // closing twice is harmless
  }
  EXPECT_EQ(ReadBytes(dir / "w.bin"), content);

  lirrow::File reader;
  ASSERT_TRUE(reader.OpenRead(dir.W("w.bin")));
  EXPECT_FALSE(reader.Write(content.data(), 1));  // a file open for reading takes no writes
#ifndef _WIN32
  lirrow::File full;
  ASSERT_TRUE(full.Create(L"/dev/full"));
  EXPECT_TRUE(full.Write(content.data(), 100));  // still buffered
  EXPECT_FALSE(full.Close());
#endif
}

TEST(BufferedFile, RecordingBeingWrittenCanBeClassified) {
  // The player's software or a copy may still hold the file open for
  // writing; classification shares it.
  TempDir dir;
  std::ofstream writer(dir / "r.rec", std::ios::binary);
  writer.put(static_cast<char>(0x41));
  writer.flush();
  EXPECT_EQ(lirrow::ClassifyRecording(dir.W("r.rec")), lirrow::kRecordingByte40or41);
}

#ifdef _WIN32
// Stands in for the ANSI conversion: keeps ASCII names, refuses the rest.
std::vector<std::wstring> narrowed;
bool AsciiOnly(const std::wstring& path, std::string* name) {
  narrowed.push_back(path);
  name->clear();
  for (wchar_t c : path) {
    if (c > 0x7F) return false;
    name->push_back(static_cast<char>(c));
  }
  return true;
}

TEST(BufferedFile, NarrowNamesAreOpenedThroughTheConversionAndRefusedWhenItFails) {
  TempDir dir;
  const Bytes content = Pseudorandom(1000, 3);
  WriteBytes(dir / "plain.bin", content);
  std::wstring wideName = dir.W("plain.bin");
  wideName.replace(wideName.size() - 9, 9, L"\x4E2D.bin");
  {
    lirrow::File wide;
    ASSERT_TRUE(wide.Create(wideName));  // wide opens take any name
    ASSERT_TRUE(wide.Close());
  }

  lirrow::UseNarrowFileNames(AsciiOnly);
  narrowed.clear();
  lirrow::File plain;
  const bool plainOpened = plain.OpenRead(dir.W("plain.bin"));
  lirrow::File unconvertible;
  const bool unconvertibleOpened = unconvertible.OpenRead(wideName);
  lirrow::File created;
  const bool createdOpened = created.Create(dir.W("out.bin"));
  lirrow::UseNarrowFileNames(nullptr);

  ASSERT_TRUE(plainOpened);
  Bytes got(content.size());
  EXPECT_EQ(plain.Read(got.data(), got.size()), content.size());
  EXPECT_EQ(got, content);
  EXPECT_FALSE(unconvertibleOpened) << "a name the conversion refuses must not open";
  EXPECT_TRUE(createdOpened);
  EXPECT_EQ(narrowed.size(), 3u);  // every open went through the conversion
}
#endif

}  // namespace

namespace {

TEST(Utf8, EncodesEveryLengthAndRefusesWhatIsNoScalarValue) {
  bool valid = false;
  // A, e-acute, the CJK character for "record", and a character beyond the BMP.
  std::wstring text = L"A\u00E9\u5F55";
  text += static_cast<wchar_t>(sizeof(wchar_t) == 2 ? 0xD83C : 0x1F3B5);
  if (sizeof(wchar_t) == 2) text += static_cast<wchar_t>(0xDFB5);
  EXPECT_EQ(lirrow::ToUtf8(text, &valid), "A\xC3\xA9\xE5\xBD\x95\xF0\x9F\x8E\xB5");
  EXPECT_TRUE(valid);

  // A lone surrogate is replaced for display and marks the text unusable as a name.
  EXPECT_EQ(lirrow::ToUtf8(std::wstring(1, static_cast<wchar_t>(0xDC00)), &valid), "\xEF\xBF\xBD");
  EXPECT_FALSE(valid);
  EXPECT_EQ(lirrow::ToUtf8(std::wstring(L"a\0b", 3), &valid), std::string("a\0b", 3));
  EXPECT_FALSE(valid);
}

}  // namespace
