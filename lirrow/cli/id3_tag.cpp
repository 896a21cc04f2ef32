// The ID3v2.3 tag that convert --tag puts in front of an MP3.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "batch.h"
#include "cli_support.h"

namespace lirrow_cli {

namespace {

std::string BigEndian32(std::uint32_t n, int bitsPerByte) {
  std::string out(4, '\0');
  for (int i = 3; i >= 0; --i, n >>= bitsPerByte)
    out[i] = static_cast<char>(n & ((1u << bitsPerByte) - 1));
  return out;
}

// A text frame: ISO-8859-1 when the text is ASCII, else UTF-16 with its
// byte order mark.
std::string TextFrame(const char* id, const std::string& utf8) {
  bool ascii = true;
  for (unsigned char c : utf8) ascii = ascii && c < 0x80;
  std::string body;
  if (ascii) {
    body = std::string(1, '\0') + utf8;
  } else {
    body = "\x01\xff\xfe";
    auto unit = [&body](std::uint32_t u) {
      body += static_cast<char>(u & 0xFF);
      body += static_cast<char>((u >> 8) & 0xFF);
    };
    for (const wchar_t w : Wide(utf8)) {
      const auto c = static_cast<std::uint32_t>(w);
      if (c >= 0x10000) {
        unit(0xD800 + ((c - 0x10000) >> 10));
        unit(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        unit(c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);  // a byte that was no UTF-8
      }
    }
  }
  return std::string(id, 4) + BigEndian32(static_cast<std::uint32_t>(body.size()), 8) +
         std::string(2, '\0') + body;
}

std::string Tag(std::time_t when, const std::string& title) {
  std::tm t{};
  localtime_r(&when, &t);
  char year[16], date[16], time[16];
  std::snprintf(year, sizeof year, "%04d", t.tm_year + 1900);
  std::snprintf(date, sizeof date, "%02d%02d", t.tm_mday, t.tm_mon + 1);
  std::snprintf(time, sizeof time, "%02d%02d", t.tm_hour, t.tm_min);
  const std::string frames = TextFrame("TYER", year) + TextFrame("TDAT", date) +
                             TextFrame("TIME", time) + TextFrame("TIT2", title);
  // Unsynchronised: a zero after each 0xFF that could start an MPEG sync
  // pattern (the UTF-16 byte order mark is one), so that nothing in the tag
  // is taken for a frame by a reader that walks the frames from the start.
  std::string body;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    body += frames[i];
    const unsigned char nextByte = i + 1 < frames.size() ? frames[i + 1] : 0;
    if (static_cast<unsigned char>(frames[i]) == 0xFF && (nextByte >= 0xE0 || nextByte == 0))
      body += '\0';
  }
  const char flags = body.size() != frames.size() ? '\x80' : '\0';
  return std::string("ID3\x03\x00", 5) + flags +
         BigEndian32(static_cast<std::uint32_t>(body.size()), 7) + body;
}

}  // namespace

bool WriteId3Tag(const std::string& mp3, std::time_t when, const std::string& title) {
  const std::string tagged = mp3 + ".tag";
  std::FILE* in = std::fopen(mp3.c_str(), "rb");
  if (!in) return false;
  std::FILE* out = std::fopen(tagged.c_str(), "wb");
  if (!out) {
    const int error = errno;
    std::fclose(in);
    errno = error;
    return false;
  }
  const std::string tag = Tag(when, title);
  bool ok = std::fwrite(tag.data(), 1, tag.size(), out) == tag.size();
  char buffer[65536];
  for (std::size_t n; ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
    ok = std::fwrite(buffer, 1, n, out) == n;
  ok = ok && !std::ferror(in);
  const int error = errno;
  std::fclose(in);
  ok = std::fclose(out) == 0 && ok;
  if (ok && std::rename(tagged.c_str(), mp3.c_str()) == 0) return true;
  const int failure = ok ? errno : error;
  unlink(tagged.c_str());
  errno = failure;
  return false;
}

}  // namespace lirrow_cli
