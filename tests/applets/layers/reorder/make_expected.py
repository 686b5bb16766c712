#!/usr/bin/env python3
"""Paints the pictures the reorder test expects: the background and the layers' rectangles in
the list's order, written as PNG with zlib alone."""
import struct
import zlib

W, H = 32, 24
NAVY, RED, GREEN, YELLOW = (0, 0, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0)


def write_png(name, rects):
    pixels = [[NAVY] * W for _ in range(H)]
    for x, y, w, h, colour in rects:
        for yy in range(y, min(y + h, H)):
            for xx in range(x, min(x + w, W)):
                pixels[yy][xx] = colour
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    with open(name, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw)))
        f.write(chunk(b"IEND", b""))


a = (2, 2, 8, 8, RED)
b = (6, 4, 8, 8, GREEN)
c = (10, 6, 8, 8, YELLOW)
c_moved = (13, 4, 8, 8, YELLOW)
write_png("expected-front.png", [a, c, b])
write_png("expected-zpos.png", [b, a, c])
write_png("expected-hidden.png", [a, c_moved])
write_png("expected-moved.png", [(20, 14, 8, 8, GREEN), c_moved])
write_png("expected-display.png", [(20, 14, 8, 8, GREEN), c_moved])
