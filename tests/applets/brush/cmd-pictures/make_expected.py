#!/usr/bin/python3
# Makes the expected-*.png pictures of main.qvs independently of the player: Pillow for the
# cuts, mirrors, colour swaps and tiles, and a transcription of the stop-less linear gradient
# (parameter t by the angle's quadrant, each channel S + t (E - S) / H, integer division toward
# zero). Run it in this folder after changing the figures of the script.
import os
import sys

from PIL import Image

# The gradient transcription that the bgpic tests use too: one model for both kinds of picture.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'bgpic'))
from bgpic_pictures import gradient  # noqa: E402

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


save(gradient(19, 11, 0xFF8000, 0x0040FF, 30), 'gradient30')
save(gradient(19, 11, 0xFF8000, 0x0040FF, -160), 'gradient200')
save(gradient(19, 11, 0x000000, 0xFFFFFF, 90), 'gradient90')
save(gradient(19, 11, 0x102030, 0xF0E0D0, 300), 'gradient300')
