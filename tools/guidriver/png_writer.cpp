#include "png_writer.h"

namespace guidriver {

namespace {

std::uint32_t CrcTableEntry(std::uint32_t n) {
  std::uint32_t c = n;
  for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  return c;
}

struct CrcTable {
  std::uint32_t v[256];
  CrcTable() {
    for (std::uint32_t n = 0; n < 256; ++n) v[n] = CrcTableEntry(n);
  }
};

// Writes bits least significant first, as deflate requires.
class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  void Bits(std::uint32_t value, int count) {
    acc_ |= static_cast<std::uint64_t>(value) << used_;
    used_ += count;
    while (used_ >= 8) {
      out_.push_back(static_cast<std::uint8_t>(acc_));
      acc_ >>= 8;
      used_ -= 8;
    }
  }
  // Huffman codes go out most significant bit first.
  void Code(std::uint32_t code, int length) {
    std::uint32_t rev = 0;
    for (int i = 0; i < length; ++i) rev |= ((code >> i) & 1u) << (length - 1 - i);
    Bits(rev, length);
  }
  void Flush() {
    if (used_ > 0) Bits(0, 8 - used_);
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint64_t acc_ = 0;
  int used_ = 0;
};

void Literal(BitWriter& w, unsigned sym) {  // literal/length alphabet, fixed codes
  if (sym <= 143)
    w.Code(0x30 + sym, 8);
  else if (sym <= 255)
    w.Code(0x190 + (sym - 144), 9);
  else if (sym <= 279)
    w.Code(sym - 256, 7);
  else
    w.Code(0xC0 + (sym - 280), 8);
}

void Length(BitWriter& w, unsigned len) {  // 3..258
  static const unsigned base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const int extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  int i = 28;
  while (base[i] > len) --i;
  Literal(w, 257 + i);
  if (extra[i]) w.Bits(len - base[i], extra[i]);
}

void Distance(BitWriter& w, unsigned dist) {  // 1..32768
  static const unsigned base[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  int i = 29;
  while (base[i] > dist) --i;
  w.Code(i, 5);
  int extra = i < 4 ? 0 : (i / 2) - 1;
  if (extra) w.Bits(dist - base[i], extra);
}

void PutBE32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void Chunk(std::vector<std::uint8_t>& out, const char type[5],
           const std::vector<std::uint8_t>& body) {
  PutBE32(out, static_cast<std::uint32_t>(body.size()));
  std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  PutBE32(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
  static const CrcTable table;
  std::uint32_t c = crc ^ 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) c = table.v[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler) {
  std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
  for (std::size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

std::vector<std::uint8_t> ZlibCompress(const std::vector<std::uint8_t>& data,
                                       std::size_t rowDistance) {
  std::vector<std::uint8_t> out = {0x78, 0x01};
  BitWriter w(out);
  const std::size_t n = data.size();
  const std::size_t kBlock = 1u << 20;  // one fixed-Huffman block per MiB of input
  std::size_t pos = 0;
  do {
    std::size_t end = pos + kBlock < n ? pos + kBlock : n;
    w.Bits(end == n ? 1 : 0, 1);  // BFINAL
    w.Bits(1, 2);                 // BTYPE = fixed Huffman
    while (pos < end) {
      std::size_t bestLen = 0, bestDist = 0;
      const std::size_t dists[2] = {1, rowDistance};
      for (std::size_t d : dists) {
        if (d == 0 || d > 32768 || d > pos) continue;
        std::size_t len = 0;
        while (len < 258 && pos + len < end && data[pos + len] == data[pos + len - d]) ++len;
        if (len > bestLen) {
          bestLen = len;
          bestDist = d;
        }
      }
      if (bestLen >= 3) {
        Length(w, static_cast<unsigned>(bestLen));
        Distance(w, static_cast<unsigned>(bestDist));
        pos += bestLen;
      } else {
        Literal(w, data[pos]);
        ++pos;
      }
    }
    Literal(w, 256);  // end of block
  } while (pos < n);
  w.Flush();
  PutBE32(out, Adler32(data.data(), data.size()));
  return out;
}

std::vector<std::uint8_t> EncodePng(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                                    std::uint32_t height) {
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  std::vector<std::uint8_t> raw;
  raw.reserve((stride + 1) * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = rgb.data() + y * stride;
    const std::uint8_t* up = y ? row - stride : nullptr;
    raw.push_back(2);  // filter "Up": identical rows become runs of zeros
    for (std::size_t x = 0; x < stride; ++x)
      raw.push_back(static_cast<std::uint8_t>(row[x] - (up ? up[x] : 0)));
  }
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> ihdr;
  PutBE32(ihdr, width);
  PutBE32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit, truecolour, deflate, adaptive, no interlace
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", ZlibCompress(raw, stride + 1));
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace guidriver
