# The pictures that the bgpic folders expect, made independently of the player: Pillow for the
# files, tiles and blends, and a transcription of the stop-less linear gradient (parameter t by
# the angle's quadrant, each channel S + t (E - S) / H, integer division toward zero).
import math
import os

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, '..', '..', 'fixtures')


def fixture(*parts):
    return os.path.join(FIXTURES, *parts)


def cdiv(a, b):
    # C's integer division: toward zero.
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def gradient(width, height, start, end, angle):
    theta = angle * math.pi / 180
    c = int(-255 * math.cos(theta))
    s = int(255 * math.sin(theta))
    a = angle % 360 if angle >= 0 else 360 - ((-angle) % 360)
    im = Image.new('RGB', (width, height))
    w, h = width, height
    for j in range(height):
        for i in range(width):
            if a <= 90:
                t = cdiv(h * (s * i - c * j), s * w - c * h)
            elif a <= 180:
                t = cdiv(h * (s * i + c * (h - j)), s * w + c * h)
            elif a <= 270:
                t = cdiv(h * (s * (w - i) - c * (h - j)), s * w - c * h)
            else:
                t = cdiv(h * (s * (w - i) + c * j), s * w + c * h)
            px = []
            for shift in (16, 8, 0):
                sc, ec = (start >> shift) & 255, (end >> shift) & 255
                px.append(sc + cdiv(t * (ec - sc), h))
            im.putpixel((i, j), tuple(px))
    return im


def tiled(src, width, height, ox, oy):
    # Offsets wrap around the tile whatever their size or sign.
    im = Image.new('RGB', (width, height))
    for y in range(height):
        for x in range(width):
            im.putpixel((x, y), src.getpixel(((x + ox) % src.width, (y + oy) % src.height)))
    return im


def over_colour(src, colour, key=None):
    """The picture over a plain colour: keyed pixels (RGB equal to key) show the colour; with no
    key the alpha byte blends, d + (((s - d) * a) >> 8), 0 keeping and 255 copying."""
    fill = ((colour >> 16) & 255, (colour >> 8) & 255, colour & 255)
    rgba = src.convert('RGBA')
    im = Image.new('RGB', src.size)
    for y in range(src.height):
        for x in range(src.width):
            r, g, b, a = rgba.getpixel((x, y))
            if key is not None:
                hit = ((r << 16) | (g << 8) | b) == key
                im.putpixel((x, y), fill if hit else (r, g, b))
                continue
            if a == 0:
                px = fill
            elif a == 255:
                px = (r, g, b)
            else:
                px = tuple(d + (((s - d) * a) >> 8) for s, d in zip((r, g, b), fill))
            im.putpixel((x, y), px)
    return im


def ilbm_palette(path):
    """The CMAP entries of an ILBM file as 0xRRGGBB words."""
    data = open(path, 'rb').read()
    pos = 12
    while pos + 8 <= len(data):
        kind, size = data[pos:pos + 4], int.from_bytes(data[pos + 4:pos + 8], 'big')
        body = data[pos + 8:pos + 8 + size]
        if kind == b'CMAP':
            return [(body[i] << 16) | (body[i + 1] << 8) | body[i + 2]
                    for i in range(0, len(body) - 2, 3)]
        pos += 8 + size + (size & 1)
    raise ValueError('no CMAP')
