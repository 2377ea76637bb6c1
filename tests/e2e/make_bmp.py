#!/usr/bin/env python3
"""Writes a plain picture for the tests of a bootstrapper's own pictures: an 8-bit
bitmap with a two-colour table, filled with one colour and framed in the other.

    make_bmp.py OUT WIDTH HEIGHT FILL FRAME      (colours as RRGGBB)

Written at configure time, so that the build can check it like any user's picture.
The format is not the 24-bit one that the build draws: the bootstrapper must show
whatever Windows can load.
"""

import struct
import sys


def main(out, width, height, fill, frame):
    width, height = int(width), int(height)
    table = b"".join(bytes.fromhex(c)[::-1] + b"\0" for c in (fill, frame))
    stride = (width + 3) & ~3
    rows = bytearray()
    for y in range(height):
        edge = y in (0, height - 1)
        row = bytes(1 if edge or x in (0, width - 1) else 0 for x in range(width))
        rows += row + b"\0" * (stride - width)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 2835, 2835, 2, 2)
    offset = 14 + len(info) + len(table)
    data = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset) + info + table + rows
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(*sys.argv[1:])
