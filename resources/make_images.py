#!/usr/bin/env python3
"""Draws Velumo's bitmaps and icons into resources/images/<number>.bmp.

Shapes are rendered with 4 x 4 supersampling. Button images and icons sit on
magenta (0xFF00FF), the transparent colour; their anti-aliased edges are
blended against the button face colour so that no pink fringe shows. Run from
anywhere: python3 resources/make_images.py
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "images")
SS = 4
MAGENTA = (255, 0, 255)
FACE = (239, 239, 239)  # the button face the images are drawn on

# The palette: slate glyphs, a blue accent, green for adding, red for record
# and removal, silver for discs.
SLATE = (44, 62, 88)
SLATE_LIGHT = (86, 110, 142)
BLUE = (30, 118, 206)
BLUE_LIGHT = (96, 170, 236)
GREEN = (46, 150, 72)
RED = (206, 44, 44)
RED_DARK = (150, 24, 24)
RED_LIGHT = (242, 120, 110)
PAPER = (250, 250, 246)
PAPER_EDGE = (120, 130, 146)
SILVER = (196, 204, 214)
SILVER_DARK = (132, 142, 158)


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        # premultiplied colour and alpha per pixel
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]

    def draw(self, inside, colour):
        """inside(x, y) -> bool over continuous coordinates; colour is an RGB
        tuple or a function (x, y) -> RGB."""
        n = SS * SS
        for py in range(self.h):
            for px in range(self.w):
                hits = 0
                acc = [0.0, 0.0, 0.0]
                for sy in range(SS):
                    y = py + (sy + 0.5) / SS
                    for sx in range(SS):
                        x = px + (sx + 0.5) / SS
                        if inside(x, y):
                            hits += 1
                            c = colour(x, y) if callable(colour) else colour
                            acc[0] += c[0]
                            acc[1] += c[1]
                            acc[2] += c[2]
                if hits == 0:
                    continue
                a = hits / n
                c = [v / hits for v in acc]
                p = self.px[py * self.w + px]
                for i in range(3):
                    p[i] = c[i] * a + p[i] * (1 - a)
                p[3] = a + p[3] * (1 - a)

    def keyed(self, backdrop=FACE):
        """RGB rows: magenta where nothing was drawn, edges blended on backdrop."""
        rows = []
        for y in range(self.h):
            row = []
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                if a < 0.06:
                    row.append(MAGENTA)
                    continue
                row.append(tuple(int(round(c + bd * (1 - a))) for c, bd in zip((r, g, b), backdrop)))
            rows.append(row)
        return rows

    def on(self, background_rows):
        rows = []
        for y in range(self.h):
            row = []
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                bd = background_rows[y][x]
                row.append(tuple(int(round(c + k * (1 - a))) for c, k in zip((r, g, b), bd)))
            rows.append(row)
        return rows


# Shapes -------------------------------------------------------------------

def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1, a0=None, a1=None):
    """Annulus; with angles (degrees, 0 = right, counter-clockwise on screen)
    only the arc from a0 to a1."""
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        if not (r0 * r0 <= d <= r1 * r1):
            return False
        if a0 is None:
            return True
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        lo, hi = a0 % 360, a1 % 360
        return lo <= a <= hi if lo <= hi else a >= lo or a <= hi
    return inside


def segment(x0, y0, x1, y1, width):
    half = width / 2

    def inside(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def vgrad(c0, c1, y0, y1):
    def colour(x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(c0, c1))
    return colour


def radial(c0, c1, cx, cy, r):
    def colour(x, y):
        t = max(0.0, min(1.0, math.hypot(x - cx, y - cy) / r))
        return tuple(a + (b - a) * t for a, b in zip(c0, c1))
    return colour


def glyph(h):
    """The slate gradient of the transport glyphs, for an image h pixels high."""
    return vgrad(SLATE_LIGHT, SLATE, 2, h - 2)


def arrow_head(tipx, tipy, direction, length, half):
    """A filled triangle pointing in direction (degrees, screen: 0 right, 90 up)."""
    a = math.radians(direction)
    dx, dy = math.cos(a), -math.sin(a)
    bx, by = tipx - dx * length, tipy - dy * length
    nx, ny = -dy, dx
    return polygon([(tipx, tipy), (bx + nx * half, by + ny * half), (bx - nx * half, by - ny * half)])


# Files --------------------------------------------------------------------

def write_bmp24(path, rows):
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def write_bmp8(path, rows):
    colours = sorted({c for row in rows for c in row})
    assert len(colours) <= 256, len(colours)
    index = {c: i for i, c in enumerate(colours)}
    palette = colours + [(0, 0, 0)] * (256 - len(colours))
    h, w = len(rows), len(rows[0])
    stride = (w + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray(index[c] for c in row)
        line += b"\0" * (stride - len(line))
        data += line
    offset = 54 + 256 * 4
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(data), 3780, 3780, 256, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    with open(path, "wb") as f:
        f.write(header + info + pal + data)


def save(number, rows):
    write_bmp24(os.path.join(OUT, "%d.bmp" % number), rows)


# The background tile ------------------------------------------------------

def background_tile():
    """56 x 15, at most 256 colours: a light brushed-steel surface with a
    faint diagonal weave; light enough for black label text."""
    w, h = 56, 15
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            base = 214 + 8 * math.sin((y + 0.5) / h * math.pi)  # soft band
            weave = 3 if (x + 2 * y) % 7 == 0 else (-2 if (x - y) % 9 == 0 else 0)
            grain = ((x * 37 + y * 11) % 5) - 2
            v = base + weave + grain
            r, g, b = v - 8, v - 3, v + 6
            row.append(tuple(max(0, min(255, int(c) // 2 * 2)) for c in (r, g, b)))
        rows.append(row)
    return rows


def tiled(tile, w, h, ox=0, oy=0):
    th, tw = len(tile), len(tile[0])
    return [[tile[(y + oy) % th][(x + ox) % tw] for x in range(w)] for y in range(h)]


# The images ---------------------------------------------------------------

def transport():
    # Play: a rounded right-pointing triangle.
    c = Canvas(20, 20)
    c.draw(polygon([(5, 3), (5, 17), (17, 10)]), vgrad(BLUE_LIGHT, BLUE, 3, 17))
    save(133, c.keyed())

    # Pause: two bars, 21 wide.
    c = Canvas(21, 20)
    c.draw(union(rounded(5, 3, 9, 17, 1), rounded(12, 3, 16, 17, 1)), glyph(20))
    save(134, c.keyed())

    # Stop: a square.
    c = Canvas(20, 20)
    c.draw(rounded(4, 4, 16, 16, 1.5), glyph(20))
    save(135, c.keyed())

    # Eject: a triangle over a bar.
    c = Canvas(20, 20)
    c.draw(union(polygon([(3, 12), (17, 12), (10, 4)]), rounded(3, 14, 17, 17, 0.8)), glyph(20))
    save(138, c.keyed())

    # Prev: a bar and two triangles pointing left.
    c = Canvas(20, 20)
    c.draw(union(rect(3, 5, 5, 15), polygon([(5, 10), (11.5, 5), (11.5, 15)]),
                 polygon([(11, 10), (17.5, 5), (17.5, 15)])), glyph(20))
    save(140, c.keyed())

    # Next: two triangles pointing right and a bar.
    c = Canvas(20, 20)
    c.draw(union(polygon([(2.5, 5), (2.5, 15), (9, 10)]), polygon([(8.5, 5), (8.5, 15), (15, 10)]),
                 rect(15, 5, 17, 15)), glyph(20))
    save(141, c.keyed())


def record_button():
    c = Canvas(32, 32)
    c.draw(circle(16, 16, 11.5), RED_DARK)
    c.draw(circle(16, 16, 10.5), radial(RED_LIGHT, RED, 13, 12, 12))
    c.draw(circle(12.5, 12, 3), (250, 190, 180))
    save(142, c.keyed())


def disc(c, cx, cy, r):
    c.draw(circle(cx, cy, r), SILVER_DARK)
    c.draw(circle(cx, cy, r - 1), radial((236, 240, 246), SILVER, cx - 3, cy - 3, r))
    c.draw(ring(cx, cy, r * 0.45, r * 0.62, 20, 70), (160, 200, 236))
    c.draw(ring(cx, cy, r * 0.45, r * 0.62, 200, 250), (236, 200, 160))
    c.draw(circle(cx, cy, r * 0.28), SILVER_DARK)
    c.draw(circle(cx, cy, r * 0.17), MAGENTA_HOLE)


MAGENTA_HOLE = FACE  # the disc's hole shows the button face


def cd_refresh():
    c = Canvas(32, 32)
    disc(c, 14, 15, 11)
    # a circular arrow around the lower right
    c.draw(ring(19, 19, 7.5, 10, 200, 340), GREEN)
    c.draw(arrow_head(24.5, 27.5, 10, 6, 4.5), GREEN)
    save(147, c.keyed())


def list_lines(c, x0, y0, x1, rows, colour=SLATE_LIGHT):
    for i in range(rows):
        y = y0 + i * 5
        c.draw(rect(x0, y, x0 + 3, y + 3), BLUE)
        c.draw(rect(x0 + 5, y, x1, y + 3), colour)


def move_arrows():
    for number, up in ((146, True), (148, False)):
        c = Canvas(32, 32)
        list_lines(c, 3, 6, 17, 4)
        if up:
            c.draw(union(rect(22, 13, 27, 27), arrow_head(24.5, 4, 90, 10, 7)), BLUE)
        else:
            c.draw(union(rect(22, 5, 27, 19), arrow_head(24.5, 28, 270, 10, 7)), BLUE)
        save(number, c.keyed())


def clear_and_remove():
    # Clear All: the list with a red cross over it.
    c = Canvas(32, 32)
    list_lines(c, 3, 5, 25, 5)
    c.draw(union(segment(12, 12, 28, 28, 4), segment(28, 12, 12, 28, 4)), RED)
    save(149, c.keyed())

    # Remove: the list with a red minus.
    c = Canvas(32, 32)
    list_lines(c, 3, 5, 25, 4)
    c.draw(rounded(12, 22, 29, 27, 1.5), RED)
    save(151, c.keyed())


def repeat_modes():
    # Go Straight (159): an arrow that runs on to a stop bar.
    c = Canvas(32, 32)
    c.draw(union(rect(3, 14, 18, 18), arrow_head(25, 16, 0, 8, 7)), SLATE)
    c.draw(rect(26.5, 8, 29.5, 24), SLATE_LIGHT)
    save(159, c.keyed())

    # Repeat One (158): a clockwise loop with a "1" in it.
    c = Canvas(32, 32)
    c.draw(ring(16, 16, 9.5, 13, 110, 410), BLUE)
    c.draw(arrow_head(20, 4.75, 0, 7.5, 5.5), BLUE)
    c.draw(union(rect(15, 10, 18, 22), polygon([(15, 10), (18, 10), (12.5, 13.5), (12.5, 12)]),
                 rect(13, 20, 20, 22)), SLATE)
    save(158, c.keyed())

    # Repeat All (157): two arrows chasing each other round.
    c = Canvas(32, 32)
    c.draw(ring(16, 16, 9.5, 13, 35, 160), BLUE)
    c.draw(ring(16, 16, 9.5, 13, 215, 340), BLUE)
    r = 11.25
    for base_angle, tip_angle in ((158, 196), (338, 376)):
        b, t = math.radians(base_angle), math.radians(tip_angle)
        bx, by = 16 + r * math.cos(b), 16 - r * math.sin(b)
        tx, ty = 16 + r * math.cos(t), 16 - r * math.sin(t)
        direction = math.degrees(math.atan2(by - ty, tx - bx))
        c.draw(arrow_head(tx, ty, direction, math.hypot(tx - bx, ty - by), 5.5), BLUE)
    save(157, c.keyed())


def document(c, x0, y0, x1, y1, fold=6):
    outline = polygon([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)])
    inner = polygon([(x0 + 1, y0 + 1), (x1 - fold - 0.4, y0 + 1), (x1 - 1, y0 + fold + 0.4),
                     (x1 - 1, y1 - 1), (x0 + 1, y1 - 1)])
    c.draw(outline, PAPER_EDGE)
    c.draw(inner, PAPER)
    c.draw(polygon([(x1 - fold, y0), (x1, y0 + fold), (x1 - fold, y0 + fold)]), (206, 212, 222))


def note(c, x, y, colour=SLATE):
    """An eighth note whose head centre is (x, y)."""
    c.draw(union(polygon([(x - 3.2, y), (x, y - 2.4), (x + 3.2, y - 0.2), (x, y + 2.4)]),
                 rect(x + 1.6, y - 10, x + 3.0, y),
                 polygon([(x + 3.0, y - 10), (x + 7, y - 6), (x + 6, y - 5), (x + 3.0, y - 7.5)])),
           colour)


def add_and_convert():
    # Add Audio Files (150): a document with a note and a green plus.
    c = Canvas(31, 31)
    document(c, 4, 2, 22, 27)
    note(c, 11, 20)
    c.draw(circle(23, 23, 7), (255, 255, 255))
    c.draw(union(rect(21.5, 17.5, 24.5, 28.5), rect(17.5, 21.5, 28.5, 24.5)), GREEN)
    save(150, c.keyed())

    # Convert (152): a sound wave document turning into a disk file.
    c = Canvas(31, 31)
    document(c, 2, 2, 16, 21, fold=5)
    for i, hgt in enumerate((2, 5, 7, 4, 6, 3)):
        c.draw(rect(4 + i * 2, 12 - hgt, 5.2 + i * 2, 12 + hgt * 0.6), BLUE)
    c.draw(rounded(14, 13, 29, 28, 2), SLATE)
    c.draw(rect(17, 13, 26, 19), (226, 232, 240))
    c.draw(rect(23, 14, 25, 18), SLATE)
    c.draw(rounded(17, 22, 26, 28, 1), BLUE_LIGHT)
    c.draw(union(segment(9, 24, 9, 27.5, 2.4), segment(9, 27.5, 11.5, 27.5, 2.4)), GREEN)
    c.draw(arrow_head(14.5, 27.5, 0, 5, 3.5), GREEN)
    save(152, c.keyed())


def display_picture(tile):
    """132: 68 x 15, shown in the display area: a small level meter."""
    w, h = 68, 15
    back = tiled(tile, w, h)
    c = Canvas(w, h)
    heights = [3, 6, 9, 12, 10, 7, 11, 13, 9, 6, 8, 11, 7, 5, 9, 12, 8, 4, 6, 3]
    for i, hgt in enumerate(heights):
        x = 3 + i * 3.1
        colour = vgrad(BLUE_LIGHT, BLUE, 14 - hgt, 14)
        c.draw(rect(x, 14 - hgt, x + 2, 14), colour)
    save(132, c.on(back))


def convert_arrow(tile):
    """162: about 30 x 13, the Convert dialog's arrow from source to target."""
    w, h = 30, 13
    back = tiled(tile, w, h)
    c = Canvas(w, h)
    c.draw(union(rect(2, 5, 21, 8), arrow_head(28, 6.5, 0, 9, 6)), vgrad(BLUE_LIGHT, BLUE, 1, 12))
    save(162, c.on(back))


def program_icon(c):
    """The program: a speaker cone with sound waves on a blue disc, on a
    32-unit square (data/make_icons.py draws it at the desktop's sizes)."""
    c.draw(circle(16, 16, 15), (22, 80, 150))
    c.draw(circle(16, 16, 14), radial(BLUE_LIGHT, BLUE, 12, 11, 16))
    c.draw(union(rect(6, 12, 11, 20), polygon([(10, 12), (16, 7), (16, 25), (10, 20)])), (255, 255, 255))
    c.draw(ring(16, 16, 4, 5.8, -50, 50), (255, 255, 255))
    c.draw(ring(16, 16, 8, 9.8, -50, 50), (255, 255, 255))


def icons():
    # 128: the program.
    c = Canvas(32, 32)
    program_icon(c)
    save(128, c.keyed(backdrop=(200, 200, 200)))

    # 164: recording, a microphone with a red dot.
    c = Canvas(32, 32)
    c.draw(rounded(10, 2, 20, 19, 5), vgrad(SILVER, SILVER_DARK, 2, 19))
    for y in (6, 9, 12, 15):
        c.draw(rect(11.5, y, 18.5, y + 1), SLATE_LIGHT)
    c.draw(ring(15, 13, 7, 8.8, 180, 360), SLATE)
    c.draw(union(rect(14, 21, 16, 27), rect(9, 26, 21, 28)), SLATE)
    c.draw(circle(25, 24, 6), RED_DARK)
    c.draw(circle(25, 24, 5), radial(RED_LIGHT, RED, 23, 22, 6))
    save(164, c.keyed(backdrop=(200, 200, 200)))


def main():
    os.makedirs(OUT, exist_ok=True)
    tile = background_tile()
    write_bmp8(os.path.join(OUT, "129.bmp"), tile)
    transport()
    record_button()
    cd_refresh()
    move_arrows()
    clear_and_remove()
    repeat_modes()
    add_and_convert()
    display_picture(tile)
    convert_arrow(tile)
    icons()


if __name__ == "__main__":
    main()
