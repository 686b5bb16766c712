#!/usr/bin/python3
# Makes the expected-*.png pictures of main.qvs independently of the player: Pillow for the
# cuts, mirrors, colour swaps and tiles, and a transcription of the stop-less linear gradient
# (parameter t by the angle's quadrant, each channel S + t (E - S) / H, integer division toward
# zero). Run it in this folder after changing the figures of the script.
from PIL import Image

src = Image.open('../../../fixtures/png/pil_rgb8.png').convert('RGB')
W, H = src.size


def save(im, name):
    im.save('expected-%s.png' % name)


save(src.crop((3, 2, 9, 6)), 'crop')
save(src.crop((9, 4, 13, 7)), 'cropcut')
save(src.transpose(Image.FLIP_LEFT_RIGHT), 'flipx')
save(src.transpose(Image.FLIP_TOP_BOTTOM), 'flipy')

# Pairs in turn: a later pair sees what earlier ones made.
pairs = [(0xE1510D, 0x00FF00), (0xEDC064, 0x0000FF), (0x00FF00, 0x123456)]
rep = src.copy()
for y in range(H):
    for x in range(W):
        r, g, b = rep.getpixel((x, y))
        c = (r << 16) | (g << 8) | b
        for old, new in pairs:
            if c == old:
                c = new
        rep.putpixel((x, y), (c >> 16, (c >> 8) & 255, c & 255))
save(rep, 'replace')

trim = Image.new('RGB', (5, 3), (255, 0, 0))
trim.putpixel((0, 0), (0, 255, 0))
trim.putpixel((4, 2), (0, 0, 255))
save(trim, 'trim')


def tiled(width, height, ox, oy):
    im = Image.new('RGB', (width, height))
    for y in range(height):
        for x in range(width):
            im.putpixel((x, y), src.getpixel(((x + ox) % W, (y + oy) % H)))
    return im


save(tiled(30, 17, 4, 2), 'textured')
save(tiled(9, 5, -3, 9), 'texturedneg')


def cdiv(a, b):
    # C's integer division: toward zero.
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def gradient(width, height, start, end, angle):
    import math
    theta = angle * math.pi / 180
    c = int(-255 * math.cos(theta))
    s = int(255 * math.sin(theta))
    a = angle % 360 if angle >= 0 else 360 - ((-angle) % 360)
    im = Image.new('RGB', (width, height))
    Wd, Hd = width, height
    for j in range(height):
        for i in range(width):
            if a <= 90:
                t = cdiv(Hd * (s * i - c * j), s * Wd - c * Hd)
            elif a <= 180:
                t = cdiv(Hd * (s * i + c * (Hd - j)), s * Wd + c * Hd)
            elif a <= 270:
                t = cdiv(Hd * (s * (Wd - i) - c * (Hd - j)), s * Wd - c * Hd)
            else:
                t = cdiv(Hd * (s * (Wd - i) + c * j), s * Wd + c * Hd)
            px = []
            for shift in (16, 8, 0):
                sc, ec = (start >> shift) & 255, (end >> shift) & 255
                px.append(sc + cdiv(t * (ec - sc), Hd))
            im.putpixel((i, j), tuple(px))
    return im


save(gradient(19, 11, 0xFF8000, 0x0040FF, 30), 'gradient30')
save(gradient(19, 11, 0xFF8000, 0x0040FF, -160), 'gradient200')
save(gradient(19, 11, 0x000000, 0xFFFFFF, 90), 'gradient90')
save(gradient(19, 11, 0x102030, 0xF0E0D0, 300), 'gradient300')
