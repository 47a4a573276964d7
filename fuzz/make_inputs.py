#!/usr/bin/env python3
"""Writes the fuzzer's seed inputs (corpus/) and the named bad files
(regressions/) beside this script. Every file is built here from scratch, so
the set can be regenerated and reviewed: run it and commit what changes.

Seeds are small valid or nearly valid images covering each feature of the
format the loader handles; the bad files are each damaged in one named way.
"""
import os
import random
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def header(width, height, image_type=10, depth=32, id_length=0, cmap_type=0,
           cmap_len=0, cmap_bits=0, descriptor=8):
    return struct.pack("<BBBHHBHHHHBB", id_length, cmap_type, image_type, 0,
                       cmap_len, cmap_bits, 0, 0, width, height, depth,
                       descriptor)


def px(b, g, r, a=128):
    return bytes((b, g, r, a))


P, Q, S, T = px(1, 2, 3), px(9, 8, 7, 0), px(200, 100, 50, 255), px(0, 0, 0, 0)


def run(count, pixel):
    return bytes((0x80 + count - 1,)) + pixel


def raw(*pixels):
    return bytes((len(pixels) - 1,)) + b"".join(pixels)


def noise(rng, count):
    return bytes(rng.randrange(256) for _ in range(count * 4))


def seeds(rng):
    yield "plain_2x2", header(2, 2, 2) + P + Q + S + T
    yield "rle_3x1", header(3, 1) + run(2, P) + raw(Q)
    yield "rle_cross_row_2x2", header(2, 2) + run(4, P)
    yield "rle_16x16", (header(16, 16) + run(128, S) +
                        b"\x7f" + noise(rng, 128))
    yield "rle_mixed_5x3", (header(5, 3) + raw(P, Q) + run(3, S) +
                            raw(T, P, Q, S, T) + run(5, Q))
    yield "rle_long_run_130", header(130, 1) + run(128, P) + run(2, P)
    yield "plain_noise_8x8", header(8, 8, 2) + noise(rng, 64)
    yield "plain_width_1", header(1, 6, 2) + noise(rng, 6)
    yield "plain_raw_300", header(300, 1, 2) + noise(rng, 300)
    yield "rle_flat_64x64", header(64, 64) + run(128, Q) * 32
    yield "plain_pairs_12x2", header(12, 2, 2) + b"".join(
        p * 2 for p in (P, Q, S, T, P, S) * 2)
    yield "id_field", (header(2, 1, 2, id_length=7) + b"brisel!" + P + Q)
    yield "color_map", (header(2, 2, 10, id_length=2, cmap_type=1, cmap_len=3,
                               cmap_bits=24) + b"id" + bytes(range(9)) +
                        run(3, S) + raw(T))
    yield "color_map_reserved_type", (header(1, 1, 2, cmap_type=2, cmap_len=9,
                                             cmap_bits=32) + P)
    yield "footer", (header(2, 2, 2) + P * 4 + bytes(8) +
                     b"TRUEVISION-XFILE.\0")
    yield "rle_stream_longer_than_pixels", (header(5, 1) +
                                            raw(P, Q, P, Q, P))
    yield "top_left_origin", header(3, 2, 10, descriptor=0x28) + run(6, S)
    yield "not_tga_type_3", header(2, 2, 3, depth=8) + bytes(4)
    yield "not_32bit_24", header(2, 1, 2, depth=24) + bytes(6)
    yield "two_bytes", b"\x00\x00"
    yield "empty", b""


def regressions(rng):
    # A run packet that describes more pixels than the image has left.
    yield "run_past_end", header(2, 2) + raw(P) + run(128, Q) + raw(S)
    # A raw packet that crosses the end of the image, stream going on.
    yield "raw_past_end", header(3, 1) + raw(P, Q, S, T, P) + run(3, Q)
    # The file ends inside a raw packet's pixels.
    yield "raw_packet_cut", header(4, 2) + raw(P, Q, S)[:7]
    # The file ends inside a run packet's pixel.
    yield "run_pixel_cut", header(4, 2) + run(5, S)[:3]
    # The file ends right after a packet header byte.
    yield "packet_header_only", header(4, 2) + run(2, P) + b"\x85"
    yield "zero_width", header(0, 500) + run(2, P)
    yield "zero_height", header(500, 0, 2) + P
    # A complete header declaring pixels that never come.
    yield "header_only", header(64, 64)
    yield "header_cut", header(4, 4, 2)[:11]
    yield "huge_dimensions", header(65535, 65535) + run(128, P)
    yield "id_field_cut", header(4, 4, 2, id_length=200) + b"abc"
    yield "color_map_cut", (header(4, 4, 10, cmap_type=1, cmap_len=65535,
                                   cmap_bits=255) + bytes(40))
    # Raw packet headers only, nothing else: every packet reads past the end.
    yield "raw_headers_only", header(32, 32) + b"\x7f" * 4
    # Two long raw packets, then one cut 27 bytes in: wide stores for the
    # second must not leave bytes past the cut.
    yield "raw_cut_after_long_packets", (header(200, 4) + b"\x78" +
                                         noise(rng, 121) + b"\x78" +
                                         noise(rng, 121) + b"\x7f" +
                                         noise(rng, 7)[:27])


def main():
    rng = random.Random(20261207)
    for folder, items in (("corpus", seeds(rng)),
                          ("regressions", regressions(rng))):
        path = os.path.join(HERE, folder)
        os.makedirs(path, exist_ok=True)
        for name, data in items:
            with open(os.path.join(path, name + ".tga"), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
