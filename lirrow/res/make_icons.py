#!/usr/bin/env python3
"""Draws the converter's icons and writes them as .ico files (palette BMP images).

Run from this folder: python3 make_icons.py. The .ico files are committed, so
the build does not need this script.

  lirrow.ico   application icon: 16, 32 and 48 px, 256 colours
  brand136.ico 32 px, 256 colours    brand137.ico 32 px, 256 colours
  brand138.ico 32 px, 16 colours     brand139.ico 32 px, 16 colours
"""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "icons"))
from ico import write_ico  # noqa: E402

OPAQUE = 255


def render(size, shape, fg, bg):
    """A rounded tile in colour bg with a figure in colour fg (r, g, b, a pixels)."""
    px = []
    r = size * 0.18
    for y in range(size):
        for x in range(size):
            u, v = (x + 0.5) / size, (y + 0.5) / size
            # rounded-square tile
            dx = max(abs(x + 0.5 - size / 2) - (size / 2 - r - 0.5), 0)
            dy = max(abs(y + 0.5 - size / 2) - (size / 2 - r - 0.5), 0)
            if dx * dx + dy * dy > r * r:
                px.append((0, 0, 0, 0))
                continue
            px.append((fg if shape(u, v) else bg) + (OPAQUE,))
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
    write_ico("lirrow.ico", [(s, render(s, wave, (255, 255, 255), (0, 102, 204)), 8) for s in (16, 32, 48)])
    write_ico("brand136.ico", [(32, render(32, ring, (255, 204, 0), (153, 0, 51)), 8)])
    write_ico("brand137.ico", [(32, render(32, diamond, (255, 255, 255), (0, 153, 102)), 8)])
    write_ico("brand138.ico", [(32, render(32, cross, (255, 255, 0), (128, 0, 128)), 4)])
    write_ico("brand139.ico", [(32, render(32, triangle, (255, 255, 255), (255, 0, 0)), 4)])
