// Minimal PNG encoder for screenshots: 8-bit RGB, filter "Up" on every row,
// zlib stream of fixed-Huffman blocks with run-length matches. No dependency
// beyond the standard library, so it is unit-tested natively.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace guidriver {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
std::uint32_t Adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler = 1);

// zlib stream (RFC 1950/1951) of `data`: fixed-Huffman blocks using literals and
// matches at distance 1 and at `rowDistance` (the previous row of a filtered image).
std::vector<std::uint8_t> ZlibCompress(const std::vector<std::uint8_t>& data,
                                       std::size_t rowDistance);

// `rgb` holds height rows of width*3 bytes, top row first, R,G,B order.
std::vector<std::uint8_t> EncodePng(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                                    std::uint32_t height);

}  // namespace guidriver
