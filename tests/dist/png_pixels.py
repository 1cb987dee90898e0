#!/usr/bin/env python3
"""Prints a PNG's pixels as one line of RGBA hex per row, for comparing two
pictures whatever their encoders chose (filters, compression, bit depth).
Fully transparent pixels print as 00000000, since their colour is not seen.

Reads the 8-bit RGBA, RGB, grey and palette PNGs that icon tools write.
usage: png_pixels.py FILE.png
"""
import struct
import sys
import zlib


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def main():
    data = open(sys.argv[1], "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("not a PNG")
    pos, idat, palette, alpha = 8, b"", None, None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) != crc:
            sys.exit("bad CRC in %s" % kind.decode())
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(
                ">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = [body[i:i + 3] for i in range(0, len(body), 3)]
        elif kind == b"tRNS":
            alpha = body
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if depth != 8 or interlace != 0:
        sys.exit("only 8-bit, non-interlaced PNGs are read")
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    stride = width * channels
    raw = zlib.decompress(idat)
    previous = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 0xFF
        row = []
        for x in range(width):
            p = line[x * channels:(x + 1) * channels]
            if colour == 6:
                rgba = bytes(p)
            elif colour == 2:
                rgba = bytes(p) + b"\xff"
            elif colour == 0:
                rgba = bytes((p[0],) * 3) + b"\xff"
            elif colour == 4:
                rgba = bytes((p[0],) * 3) + bytes((p[1],))
            else:
                rgba = palette[p[0]] + bytes(
                    (alpha[p[0]] if alpha and p[0] < len(alpha) else 255,))
            row.append("00000000" if rgba[3] == 0 else rgba.hex())
        print(" ".join(row))
        previous = line


if __name__ == "__main__":
    main()
