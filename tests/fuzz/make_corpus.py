#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/ (run from anywhere).

Small synthetic inputs: framed recordings of both layouts and unframed ones
for the extraction; MPEG audio frame sequences of each version and layer,
with the odd cases the walk must survive, for the duration measurement."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def write(kind, name, data):
    folder = os.path.join(here, "corpus", kind)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def framed(first, blocks, tail):
    data = bytearray([first]) + bytes(511)
    for b in range(blocks):
        data += bytes((b * 7 + i) & 0xFF for i in range(512))
    return bytes(data + b"\xee" * tail)


write("extract", "ten_byte_2_blocks", framed(0x80, 2, 0))
write("extract", "ten_byte_1_block_tail", framed(0x81, 1, 37))
write("extract", "22_byte_3_blocks_tail", framed(0x41, 3, 100))
write("extract", "22_byte_0x50", framed(0x50, 1, 0))
write("extract", "header_only", framed(0x40, 0, 511))
write("extract", "whole_file_kind", b"\x05" + bytes(700))
write("extract", "one_byte", b"\x80")


def frames(header, length, count):
    return (struct.pack(">I", header) + bytes(length - 4)) * count


write("duration", "mpeg1_l3_128k", frames(0xFFFB9000, 417, 4) + frames(0xFFFB9200, 418, 2))
write("duration", "mpeg1_l2_192k", frames(0xFFFDA400, 576, 3))
write("duration", "mpeg1_l1_384k", frames(0xFFFFC400, 384, 3))
write("duration", "mpeg2_l3_64k", frames(0xFFF38400, 192, 5))
write("duration", "mpeg25_l3_8k", frames(0xFFE31800, 72, 8))
write("duration", "free_format_then_frames", frames(0xFFFB0000, 40, 1) + frames(0xFFFB9000, 417, 2))
write("duration", "bitrate_15", frames(0xFFFB9000, 417, 2) + frames(0xFFFBF000, 417, 1))
write("duration", "rate_index_3", frames(0xFFFB9000, 417, 2) + frames(0xFFFB9C00, 417, 2))
write("duration", "reserved_layer", frames(0xFFF99000, 417, 2))
write("duration", "version_change", frames(0xFFFB9000, 417, 2) + frames(0xFFF39000, 417, 2))
write("duration", "leading_garbage", bytes(range(256)) * 4 + frames(0xFFFB9000, 417, 2))
