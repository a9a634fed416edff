#!/usr/bin/env python3
"""Draws Velumo's application icon for the desktop's icon theme into
data/icons/hicolor/<N>x<N>/apps/io.github.velumo.Velumo.png.

The icon is the program's own (resources/make_images.py, image 128), whose
shapes are drawn afresh at each size rather than scaled from the 32-pixel
bitmap, so the large sizes stay sharp. The PNGs keep the anti-aliased edges
as alpha. Run from anywhere: python3 data/make_icons.py
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "resources"))
import make_images  # noqa: E402

APP_ID = "io.github.velumo.Velumo"
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
UNITS = 32  # the square the icon's shapes are drawn on


class Scaled:
    """Draws shapes given on a UNITS square onto a canvas of another size."""

    def __init__(self, canvas):
        self.canvas = canvas
        self.k = UNITS / canvas.w

    def draw(self, inside, colour):
        k = self.k
        paint = (lambda x, y: colour(x * k, y * k)) if callable(colour) else colour
        self.canvas.draw(lambda x, y: inside(x * k, y * k), paint)


def write_png(path, canvas):
    raw = bytearray()
    for y in range(canvas.h):
        raw.append(0)  # no filter
        for x in range(canvas.w):
            r, g, b, a = canvas.px[y * canvas.w + x]
            if a <= 0:
                raw += b"\0\0\0\0"
                continue
            # the canvas holds premultiplied colour
            raw += bytes(max(0, min(255, round(v / a))) for v in (r, g, b))
            raw.append(round(a * 255))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", canvas.w, canvas.h, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    for size in SIZES:
        folder = os.path.join(HERE, "icons", "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        canvas = make_images.Canvas(size, size)
        make_images.program_icon(Scaled(canvas))
        write_png(os.path.join(folder, APP_ID + ".png"), canvas)


if __name__ == "__main__":
    main()
