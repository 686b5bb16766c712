"""Pictures of rectangles painted in turn over a background, written as PNG with zlib alone:
what the layer tests expect where every layer is an opaque rectangle."""
import struct
import zlib

W, H = 32, 24
NAVY, RED, GREEN = (0, 0, 128), (255, 0, 0), (0, 255, 0)


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
