#!/usr/bin/env python3
"""Draws quillmore's application icon and writes it as a .ico file.

The picture is a sheet of paper with a query laid out on it: lines of text
(navy) at the indentations the program gives them, each line's first word
(the keyword) in red, and the sheet's top right corner folded over.

One icon group of three images, as the program's identity needs them:
32x32 in 2 colours, 32x32 in 16 colours and 16x16 in 16 colours, each an
uncompressed device-independent bitmap with its transparency mask.

With --hicolor, the same pictures as PNG files for the desktop's icon theme
instead, in DIR/SIZExSIZE/apps/quillmore.png: the 16 and 32 pixel drawings
as they are, and the larger sizes as whole multiples of one of them, so
that every size shows the same pixels as the Windows icon.

Usage: make_icon.py OUTPUT.ico
       make_icon.py --hicolor DIR
"""

import os
import struct
import sys
import zlib

# The standard 16-colour palette (index: (red, green, blue)).
PALETTE16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00),
    (0x80, 0x80, 0x00), (0x00, 0x00, 0x80), (0x80, 0x00, 0x80),
    (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0), (0x80, 0x80, 0x80),
    (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF),
    (0xFF, 0xFF, 0xFF),
]
BLACK, GREY, SILVER, NAVY, RED, WHITE = 0, 8, 7, 4, 9, 15
CLEAR = None  # transparent

PALETTE2 = [(0x00, 0x00, 0x00), (0xFF, 0xFF, 0xFF)]


def draw(size):
    """Returns the picture as rows of palette indices (or CLEAR), top first."""
    px = [[CLEAR] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    if size == 32:
        left, top, right, bottom, fold = 4, 1, 27, 30, 6
        # (indent, length) of each line of the laid-out query; rows 3 apart.
        lines = [(0, 13), (6, 4), (2, 10), (0, 14), (2, 11), (3, 11), (0, 12)]
        first_row, step, height, keyword, margin = 6, 3, 2, 3, 3
    else:
        left, top, right, bottom, fold = 2, 0, 13, 15, 3
        lines = [(0, 7), (3, 3), (1, 6), (0, 7), (2, 5)]
        first_row, step, height, keyword, margin = 4, 2, 1, 2, 2

    # The sheet: white inside a black outline, its top right corner folded.
    fill(left, top, right, bottom, WHITE)
    for y in range(top, bottom + 1):
        px[y][left] = px[y][right] = BLACK
    for x in range(left, right + 1):
        px[top][x] = px[bottom][x] = BLACK
    for i in range(fold):
        # Cut the corner away along the diagonal, then draw the fold.
        for x in range(right - fold + 1 + i, right + 1):
            px[top + i][x] = CLEAR
        px[top + i][right - fold + i] = BLACK
        for x in range(right - fold, right - fold + i):
            px[top + i][x] = SILVER
    for x in range(right - fold, right + 1):
        px[top + fold][x] = BLACK
    for y in range(top, top + fold + 1):
        px[y][right - fold] = BLACK
    # A shadow along the right and bottom edges.
    for y in range(top + fold + 1, bottom):
        px[y][right - 1] = GREY if size == 32 else px[y][right - 1]
    # The laid-out lines.
    for n, (indent, length) in enumerate(lines):
        y = first_row + n * step
        x = left + margin + indent
        fill(x, y, x + length - 1, y + height - 1, NAVY)
        fill(x, y, x + keyword - 1, y + height - 1, RED)
    return px


def two_colour(px):
    """The same picture in black and white: dark colours become black."""
    def grey(colour):
        r, g, b = PALETTE16[colour]
        return 0 if (r * 30 + g * 59 + b * 11) / 100 < 0x90 else 1
    return [[CLEAR if c is CLEAR else grey(c) for c in row] for row in px]


def row_bytes(bits_per_row):
    """Bytes in one bitmap row: rows are padded to whole 32-bit words."""
    return (bits_per_row + 31) // 32 * 4


def pack(values, bits):
    """Packs pixel values of `bits` bits each, leftmost in the high bits."""
    out = bytearray(row_bytes(len(values) * bits))
    per_byte = 8 // bits
    for i, v in enumerate(values):
        out[i // per_byte] |= v << (8 - bits * (i % per_byte + 1))
    return bytes(out)


def image(px, palette, bits):
    """One icon image: header, palette, colour bitmap, transparency mask."""
    size = len(px)
    colour_rows = []
    mask_rows = []
    for row in reversed(px):  # bitmaps are stored bottom row first
        # A transparent pixel is colour 0 under a set mask bit.
        colour_rows.append(pack([0 if c is CLEAR else c for c in row], bits))
        mask_rows.append(pack([1 if c is CLEAR else 0 for c in row], 1))
    bitmap = b"".join(colour_rows) + b"".join(mask_rows)
    header = struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(bitmap), 0, 0,
        len(palette), 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + bitmap


def icon_file(images):
    """The .ico file: directory, one entry per image, then the images."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bits, data in images:
        out += struct.pack("<BBBBHHII", size, size, colours % 256, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, _, data in images)


# Icon theme sizes: (size, drawing it is made from).
HICOLOR_SIZES = [(16, 16), (32, 32), (48, 16), (64, 32), (128, 32), (256, 32)]


def scaled(px, factor):
    """Every pixel as a factor x factor square."""
    return [[c for c in row for _ in range(factor)]
            for row in px for _ in range(factor)]


def png_file(px):
    """The picture as an 8-bit RGBA PNG; transparent pixels have alpha 0."""
    size = len(px)
    raw = bytearray()
    for row in px:
        raw.append(0)  # filter: none
        for c in row:
            raw += bytes((0, 0, 0, 0)) if c is CLEAR else (
                bytes(PALETTE16[c]) + b"\xff")

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_hicolor(root):
    for size, drawn in HICOLOR_SIZES:
        folder = os.path.join(root, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "quillmore.png"), "wb") as f:
            f.write(png_file(scaled(draw(drawn), size // drawn)))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--hicolor":
        write_hicolor(sys.argv[2])
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    big = draw(32)
    small = draw(16)
    images = [
        (32, 2, 1, image(two_colour(big), PALETTE2, 1)),
        (32, 16, 4, image(big, PALETTE16, 4)),
        (16, 16, 4, image(small, PALETTE16, 4)),
    ]
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file(images))


if __name__ == "__main__":
    main()
