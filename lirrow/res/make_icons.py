#!/usr/bin/env python3
"""Draws the converter's icons and writes them as .ico files (palette BMP images).

Run from this folder: python3 make_icons.py. The .ico files are committed, so
the build does not need this script.

  lirrow.ico   application icon: 16, 32 and 48 px, 256 colours
  brand136.ico 32 px, 256 colours    brand137.ico 32 px, 256 colours
  brand138.ico 32 px, 16 colours     brand139.ico 32 px, 16 colours
"""
import math
import struct

# The 16 colours of the standard VGA palette; 16-colour icons use only these.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    pal = list(VGA)
    # a 6x6x6 colour cube after the VGA colours, then a grey ramp
    for r in range(6):
        for g in range(6):
            for b in range(6):
                pal.append((r * 51, g * 51, b * 51))
    while len(pal) < 256:
        v = (len(pal) - 232) * 10 + 8
        pal.append((v, v, v))
    return pal[:256]


def nearest(pal, rgb):
    return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], rgb)))


def bmp_entry(size, pixels, pal, bpp):
    """pixels: size*size list of (r,g,b) or None (transparent), top row first."""
    index = {}

    def idx(rgb):
        if rgb not in index:
            index[rgb] = nearest(pal, rgb)
        return index[rgb]

    rows_xor = []
    rows_and = []
    for y in range(size - 1, -1, -1):  # BMP rows run bottom-up
        row = [pixels[y * size + x] for x in range(size)]
        bits = []
        for p in row:
            bits.append(0 if p is None else idx(p))
        if bpp == 8:
            data = bytes(bits)
        else:
            data = bytes((bits[i] << 4) | bits[i + 1] for i in range(0, size, 2))
        data += b"\0" * ((-len(data)) % 4)
        rows_xor.append(data)
        mask = 0
        mbytes = bytearray()
        for x, p in enumerate(row):
            mask = (mask << 1) | (1 if p is None else 0)
            if x % 8 == 7:
                mbytes.append(mask)
                mask = 0
        mbytes += b"\0" * ((-len(mbytes)) % 4)
        rows_and.append(bytes(mbytes))
    colours = 1 << bpp
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)
    table = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in pal[:colours])
    return header + table + b"".join(rows_xor) + b"".join(rows_and), colours


def write_ico(path, images):
    """images: list of (size, pixels, pal, bpp)."""
    entries = [bmp_entry(*img) for img in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, _, _, bpp), (data, colours) in zip(images, entries):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours % 256, 0, 1, bpp, len(data), offset)
        offset += len(data)
    out += b"".join(data for data, _ in entries)
    with open(path, "wb") as f:
        f.write(out)


def render(size, shape, fg, bg):
    """A rounded tile in colour bg with a figure in colour fg."""
    px = []
    r = size * 0.18
    for y in range(size):
        for x in range(size):
            u, v = (x + 0.5) / size, (y + 0.5) / size
            # rounded-square tile
            dx = max(abs(x + 0.5 - size / 2) - (size / 2 - r - 0.5), 0)
            dy = max(abs(y + 0.5 - size / 2) - (size / 2 - r - 0.5), 0)
            if dx * dx + dy * dy > r * r:
                px.append(None)
                continue
            px.append(fg if shape(u, v) else bg)
    return px


def wave(u, v):  # sound wave bars: the application icon
    bars = [0.35, 0.6, 0.85, 0.6, 0.35]
    i = int((u - 0.14) / 0.15)
    if 0 <= i < 5 and (u - 0.14) - i * 0.15 < 0.10:
        return abs(v - 0.5) < bars[i] / 2
    return False


def ring(u, v):
    d = math.hypot(u - 0.5, v - 0.5)
    return 0.22 < d < 0.36


def diamond(u, v):
    return abs(u - 0.5) + abs(v - 0.5) < 0.32


def cross(u, v):
    return abs(u - 0.5) < 0.1 or abs(v - 0.5) < 0.1


def triangle(u, v):
    return 0.2 < v < 0.8 and abs(u - 0.5) < (v - 0.2) * 0.55


if __name__ == "__main__":
    p256 = palette256()
    p16 = VGA
    write_ico("lirrow.ico", [(s, render(s, wave, (255, 255, 255), (0, 102, 204)), p256, 8) for s in (16, 32, 48)])
    write_ico("brand136.ico", [(32, render(32, ring, (255, 204, 0), (153, 0, 51)), p256, 8)])
    write_ico("brand137.ico", [(32, render(32, diamond, (255, 255, 255), (0, 153, 102)), p256, 8)])
    write_ico("brand138.ico", [(32, render(32, cross, (255, 255, 0), (128, 0, 128)), p16, 4)])
    write_ico("brand139.ico", [(32, render(32, triangle, (255, 255, 255), (255, 0, 0)), p16, 4)])
