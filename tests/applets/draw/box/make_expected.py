#!/usr/bin/python3
# Makes expected-display.png and expected-window.png with Pillow, independently of the player:
# the boxes main.qvs draws on its 40 x 32 display, cut by hand to the picture. Run it in this
# folder after changing them.
from PIL import Image

W, H = 40, 32
im = Image.new('RGB', (W, H), (0, 0, 0))


def fill(x, y, w, h, colour):
    for j in range(max(y, 0), min(y + h, H)):
        for i in range(max(x, 0), min(x + w, W)):
            im.putpixel((i, j), colour)


def frame(x, y, w, h, colour):
    fill(x, y, w, 1, colour)
    fill(x, y + h - 1, w, 1, colour)
    fill(x, y, 1, h, colour)
    fill(x + w - 1, y, 1, h, colour)


def tint(x, y, w, h, colour, transparency):
    # Towards the colour by 255 - t: o + ((c - o) * (255 - t) >> 8) per channel.
    for j in range(max(y, 0), min(y + h, H)):
        for i in range(max(x, 0), min(x + w, W)):
            old = im.getpixel((i, j))
            im.putpixel((i, j), tuple(o + (((c - o) * (255 - transparency)) >> 8)
                                      for o, c in zip(old, colour)))


def gradient(x, y, w, h, start, end):
    # Linear at 0 degrees, top to bottom: row j takes start + trunc(j (end - start) / h).
    for j in range(h):
        c = tuple(s + int((j * (e - s)) / h) for s, e in zip(start, end))
        fill(x, y + j, w, 1, c)


frame(1, 1, 6, 4, (255, 0, 0))
fill(-3, 7, 6, 5, (0, 255, 0))
fill(36, 28, 10, 10, (0, 0, 255))
# The frame's left side at x = -2 lies outside: the other three sides are drawn.
frame(-2, 14, 6, 4, (255, 255, 255))
fill(10, 1, 6, 4, (0, 255, 0))
tint(12, 2, 6, 4, (255, 0, 0), 0x80)
# SHADOW: distance 2 to the south-east, then the box.
fill(22, 4, 5, 4, (0x40, 0x40, 0x40))
fill(20, 2, 5, 4, (255, 255, 0))
# EDGE of 1 around the box.
fill(29, 2, 6, 5, (0, 255, 255))
fill(30, 3, 4, 3, (255, 0, 255))
# Both: a shadow of 1 to the north-west pushes the box (with its edge) 1 right and down.
fill(21, 11, 6, 5, (0x40, 0x40, 0x40))
fill(22, 12, 6, 5, (0, 255, 255))
fill(23, 13, 4, 3, (255, 255, 255))
fill(30, 20, 3, 3, (255, 0x80, 0))
gradient(2, 20, 8, 6, (255, 0, 0), (0, 0, 255))
gradient(-4, 27, 8, 6, (255, 0, 0), (0, 0, 255))
texture = {(0, 0): (255, 0, 0), (1, 0): (0, 255, 0), (0, 1): (0, 0, 255), (1, 1): (255, 255, 255)}
for j in range(3):
    for i in range(5):
        im.putpixel((12 + i, 20 + j), texture[((i + 1) % 2, j % 2)])
# The same texture on a box at x = -1: its first column is cut, the tiles stay where they were.
for j in range(3):
    for i in range(1, 3):
        im.putpixel((-1 + i, 24 + j), texture[((i + 1) % 2, j % 2)])
im.save('expected-display.png')
im.save('expected-window.png')
