#!/usr/bin/env python3
"""Draws the program's icon: a disc in the colours of the French flag.

    draw_icon.py OUTPUT.ico    the Windows icon, 16, 32, 48 and 256 pixels
    draw_icon.py OUTPUT.png    the 256-pixel picture alone, to look at

Only the standard library; the same bytes on every run.
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
SAMPLES = 4  # per pixel and axis: edges are smoothed over 16 samples

TRANSPARENT = (0, 0, 0, 0)
OUTLINE = (28, 32, 58, 255)
HUB = (206, 211, 220, 255)
BLUE = (0, 85, 164, 255)
WHITE = (250, 250, 250, 255)
RED = (239, 65, 53, 255)

# Radii as fractions of the icon's side.
OUTER = 0.47
RIM = 0.03
HUB_OUTER = 0.17
HOLE = 0.075
HOLE_EDGE = 0.02


def colour_at(x, y):
    """Colour of the point (x, y) of the unit square."""
    dx, dy = x - 0.5, y - 0.5
    d2 = dx * dx + dy * dy
    if d2 > OUTER * OUTER or d2 < HOLE * HOLE:
        return TRANSPARENT
    if d2 > (OUTER - RIM) ** 2 or d2 < (HOLE + HOLE_EDGE) ** 2:
        return OUTLINE
    if d2 < HUB_OUTER * HUB_OUTER:
        return HUB
    third = (OUTER - RIM) * 2 / 3
    if dx < -third / 2:
        return BLUE
    if dx > third / 2:
        return RED
    return WHITE


def draw(size):
    """Rows of (r, g, b, a) pixels, top row first."""
    rows = []
    count = SAMPLES * SAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    cr, cg, cb, ca = colour_at((px + (sx + 0.5) / SAMPLES) / size,
                                               (py + (sy + 0.5) / SAMPLES) / size)
                    r += cr * ca
                    g += cg * ca
                    b += cb * ca
                    a += ca
            if a == 0:
                row.append(TRANSPARENT)
            else:
                row.append((r // a, g // a, b // a, (a + count // 2) // count))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bitmap(rows):
    """A 32-bit icon bitmap: header, colour rows bottom up, then the transparency mask."""
    size = len(rows)
    mask_stride = (size + 31) // 32 * 4
    colours = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        colours += bytes(c for r, g, b, a in row for c in (b, g, r, a))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colours) + len(mask), 0, 0, 0, 0)
    return header + bytes(colours) + bytes(mask)


def icon():
    # The large picture as PNG, as Windows reads it since Vista; the small ones as bitmaps,
    # which every version reads.
    images = [png(draw(size)) if size >= 256 else bitmap(draw(size)) for size in SIZES]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(SIZES, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main():
    if len(sys.argv) != 2 or not sys.argv[1].endswith((".ico", ".png")):
        sys.exit("usage: draw_icon.py OUTPUT.ico|OUTPUT.png")
    data = icon() if sys.argv[1].endswith(".ico") else png(draw(256))
    with open(sys.argv[1], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
