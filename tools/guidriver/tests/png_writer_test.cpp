#include "png_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

namespace {

using guidriver::EncodePng;

TEST(Checksums, KnownVectors) {
  const std::string check = "123456789";
  EXPECT_EQ(guidriver::Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
            0xCBF43926u);
  const std::string wiki = "Wikipedia";
  EXPECT_EQ(guidriver::Adler32(reinterpret_cast<const std::uint8_t*>(wiki.data()), wiki.size()),
            0x11E60398u);
  // Adler's modulus must be applied: 6000 bytes of 0xFF overflow 16 bits many times.
  std::vector<std::uint8_t> ff(6000, 0xFF);
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t v : ff) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  EXPECT_EQ(guidriver::Adler32(ff.data(), ff.size()), (b << 16) | a);
}

#ifndef _WIN32
}  // namespace
#include <unistd.h>
namespace {

// Decodes a PNG with ImageMagick, an independent decoder, into raw RGB bytes.
bool DecodeWithImageMagick(const std::vector<std::uint8_t>& png, std::vector<std::uint8_t>& rgb,
                           std::string& info) {
  char name[] = "/tmp/guidriver_png_XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) return false;
  close(fd);
  std::string path = std::string(name) + ".png";
  std::rename(name, path.c_str());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), png.size());
  std::string cmd = "convert " + path + " -depth 8 rgb:- 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  rgb.clear();
  char buf[65536];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) rgb.insert(rgb.end(), buf, buf + n);
  int rc = pclose(p);
  std::string icmd = "identify -format '%w %h' " + path + " 2>&1";
  FILE* q = popen(icmd.c_str(), "r");
  info.clear();
  while (q && (n = fread(buf, 1, sizeof buf, q)) > 0) info.append(buf, n);
  if (q) pclose(q);
  std::remove(path.c_str());
  return rc == 0;
}

class PngRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v convert >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "ImageMagick not installed";
  }
  void Check(const std::vector<std::uint8_t>& rgb, std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> decoded;
    std::string info;
    ASSERT_TRUE(DecodeWithImageMagick(EncodePng(rgb, w, h), decoded, info));
    EXPECT_EQ(info, std::to_string(w) + " " + std::to_string(h));
    ASSERT_EQ(decoded.size(), rgb.size());
    EXPECT_TRUE(decoded == rgb) << "pixels differ after decoding";
  }
};

TEST_F(PngRoundTrip, NoiseFlatAndStripedImagesDecodeToTheSamePixels) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> noise(61 * 37 * 3);
  for (auto& v : noise) v = static_cast<std::uint8_t>(rng());
  Check(noise, 61, 37);

  std::vector<std::uint8_t> flat(200 * 50 * 3, 0xC0);  // long runs, longest matches
  Check(flat, 200, 50);

  // Vertical stripes: each row equals the one above (row-distance matches),
  // and within a row short runs of 1-2 pixels (no match shorter than 3 bytes).
  std::vector<std::uint8_t> stripes(97 * 40 * 3);
  for (std::size_t y = 0; y < 40; ++y)
    for (std::size_t x = 0; x < 97; ++x)
      for (int c = 0; c < 3; ++c)
        stripes[(y * 97 + x) * 3 + c] = static_cast<std::uint8_t>((x * 37 + c * 91) % 251);
  Check(stripes, 97, 40);
}

TEST_F(PngRoundTrip, SinglePixelColumnAndMultiBlockImage) {
  Check({1, 2, 3, 200, 100, 50, 0, 0, 0}, 1, 3);
  // Over 1 MiB of filtered data: several deflate blocks, and a desktop-sized width.
  std::vector<std::uint8_t> big(1024 * 400 * 3);
  std::mt19937 rng(3);
  for (std::size_t y = 0; y < 400; ++y)
    for (std::size_t x = 0; x < 1024; ++x) {
      std::uint8_t v = (x / 64 + y / 50) % 2 ? 0xEE : static_cast<std::uint8_t>(rng());
      for (int c = 0; c < 3; ++c) big[(y * 1024 + x) * 3 + c] = v;
    }
  Check(big, 1024, 400);
}
#endif

TEST(PngSize, FlatScreenCompressesWell) {
  std::vector<std::uint8_t> screen(1024 * 768 * 3, 0x80);
  std::vector<std::uint8_t> png = EncodePng(screen, 1024, 768);
  EXPECT_LT(png.size(), 100u * 1024) << "a flat screen should not need a stored copy";
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
}

}  // namespace
