#!/usr/bin/env python3
"""Writes Windows .ico files with palette (4 and 8 bits per pixel) and 32-bit
images, for the programs' resources. Windows 95/98/ME and 2000 draw an icon's
alpha channel as black, so an icon for them needs palette images beside the
32-bit ones; the palette images have hard edges (a pixel is opaque or not).

As a module: write_ico(path, [(size, pixels, bpp)]), pixels a list of
size*size (r, g, b, a) tuples, top row first (a < 128 counts as transparent
in the palette images).
As a program: ico.py OUT.ico IMAGE... writes, for each IMAGE (read through
ImageMagick's convert; square), a 4-bit, an 8-bit and a 32-bit image."""

import struct
import subprocess
import sys

# The 16 colours of the standard VGA palette; 4-bit images use only these.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    """The VGA colours, a 6x6x6 colour cube, then a grey ramp."""
    pal = list(VGA)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                pal.append((r * 51, g * 51, b * 51))
    while len(pal) < 256:
        v = (len(pal) - 232) * 10 + 8
        pal.append((v, v, v))
    return pal[:256]


PALETTES = {4: VGA, 8: palette256()}


def nearest(pal, rgb):
    return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], rgb)))


def and_mask_row(row):
    """The 1-bit transparency row of an image (1 = transparent), padded to 4 bytes."""
    out = bytearray()
    mask = 0
    for x, p in enumerate(row):
        mask = (mask << 1) | (1 if p[3] < 128 else 0)
        if x % 8 == 7:
            out.append(mask)
            mask = 0
    if len(row) % 8:
        out.append(mask << (8 - len(row) % 8))
    return bytes(out) + b"\0" * ((-len(out)) % 4)


def colour_row(row, bpp, pal, index):
    if bpp == 32:
        return b"".join(struct.pack("BBBB", b, g, r, a) for r, g, b, a in row)
    bits = []
    for p in row:
        if p[3] < 128:
            bits.append(0)
            continue
        if p[:3] not in index:
            index[p[:3]] = nearest(pal, p[:3])
        bits.append(index[p[:3]])
    if bpp == 8:
        data = bytes(bits)
    else:
        bits += [0] * (len(bits) % 2)
        data = bytes((bits[i] << 4) | bits[i + 1] for i in range(0, len(bits), 2))
    return data + b"\0" * ((-len(data)) % 4)


def bmp_entry(size, pixels, bpp):
    """The BITMAPINFOHEADER, colour table, colour and mask rows of one image."""
    pal = PALETTES.get(bpp, [])
    index = {}
    rows = [pixels[y * size:(y + 1) * size] for y in range(size - 1, -1, -1)]  # bottom-up
    colours = len(pal)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)
    table = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in pal)
    return (header + table + b"".join(colour_row(r, bpp, pal, index) for r in rows)
            + b"".join(and_mask_row(r) for r in rows)), colours


def write_ico(path, images):
    """images: list of (size, pixels, bpp)."""
    entries = [bmp_entry(*img) for img in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, _, bpp), (data, colours) in zip(images, entries):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours % 256, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    out += b"".join(data for data, _ in entries)
    with open(path, "wb") as f:
        f.write(out)


def read_image(path):
    """(size, pixels) of a square image file, through ImageMagick."""
    size = int(subprocess.run(["identify", "-format", "%w", path], capture_output=True,
                              text=True, check=True).stdout)
    raw = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True,
                         check=True).stdout
    if len(raw) != size * size * 4:
        raise ValueError(f"{path}: not a square image")
    return size, [tuple(raw[i:i + 4]) for i in range(0, len(raw), 4)]


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    images = []
    for path in argv[1:]:
        size, pixels = read_image(path)
        images += [(size, pixels, bpp) for bpp in (4, 8, 32)]
    write_ico(argv[0], images)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
