#!/usr/bin/env python3
"""Draws imgs/save36.png, the alarm viewer's Save icon: a 36 x 36 floppy disk (RGBA PNG)."""
import struct
import sys
import zlib

SIZE = 36
BODY = (38, 70, 128, 255)
EDGE = (20, 40, 80, 255)
SHUTTER = (196, 204, 214, 255)
LABEL = (245, 245, 245, 255)
LINE = (150, 160, 175, 255)
CLEAR = (0, 0, 0, 0)


def pixel(x, y):
    if not (3 <= x <= 32 and 3 <= y <= 32):
        return CLEAR
    if x >= 28 and y <= 7 and (x - 28) > y - 3:  # cut corner, top right
        return CLEAR
    if x in (3, 32) or y in (3, 32):
        return EDGE
    if 10 <= x <= 24 and 4 <= y <= 12:  # metal shutter with its slot
        return BODY if 19 <= x <= 22 and 6 <= y <= 10 else SHUTTER
    if 8 <= x <= 27 and 18 <= y <= 31:  # paper label with writing lines
        return LINE if y in (22, 25, 28) and 10 <= x <= 25 else LABEL
    return BODY


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def main(path):
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "imgs/save36.png")
