#!/usr/bin/env python3
"""Writes example.tga: a small 32-bit run-length encoded TGA image.

A sky gradient over flat ground with a sun, its alpha falling off from left to
right, so that the tool's effect (alpha set to 255, colours kept) shows in
any viewer. Packets follow the TGA rules: raw packets for the gradient rows,
run packets for the flat spans.
"""
import struct
import sys

W, H = 96, 64


def pixel(x, y):
    # Rows are stored bottom-up (origin bits 0): y = 0 is the bottom row.
    top = H - 1 - y
    if (x - 70) ** 2 + (top - 16) ** 2 < 100:
        b, g, r = 40, 210, 250
    elif top < 40:
        b, g, r = 240, 150 + top, 60 + top * 2
    else:
        b, g, r = 30, 120, 50
    return bytes((b, g, r, 255 - (x * 255) // (W - 1)))


def encode_row(row):
    out = bytearray()
    x = 0
    while x < len(row):
        n = 1
        while x + n < len(row) and n < 128 and row[x + n] == row[x]:
            n += 1
        if n >= 2:
            out += bytes((0x80 + n - 1,)) + row[x]
            x += n
            continue
        start = x
        while x < len(row) and x - start < 128 and (
                x + 1 >= len(row) or row[x + 1] != row[x]):
            x += 1
        out += bytes((x - start - 1,)) + b"".join(row[start:x])
    return out


def main(path):
    header = struct.pack("<BBB5sHHHHBB", 0, 0, 10, b"\0" * 5, 0, 0, W, H, 32, 8)
    data = b"".join(encode_row([pixel(x, y) for x in range(W)]) for y in range(H))
    with open(path, "wb") as f:
        f.write(header + data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "example.tga")
