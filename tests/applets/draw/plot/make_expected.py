#!/usr/bin/python3
# Makes expected-display.png and expected-window.png with Pillow, independently of the player:
# the points main.qvs plots on its 8 x 4 display. Run it in this folder after changing them.
from PIL import Image


def mix(old, colour, transparency):
    # Each channel o + ((c - o) * (255 - t) >> 8), the shift rounding toward minus infinity.
    return tuple(o + (((c - o) * (255 - transparency)) >> 8) for o, c in zip(old, colour))


im = Image.new('RGB', (8, 4), (0, 0, 0))
im.putpixel((0, 0), (255, 0, 0))
im.putpixel((7, 3), (0, 255, 0))
im.putpixel((3, 1), mix((0, 0, 0), (255, 255, 255), 0x80))
# CENTER (-100000) on an 8-pixel row puts a point at (8 - 1) / 2 = 3.
im.putpixel((3, 2), (0, 0, 255))
im.save('expected-display.png')
im.save('expected-window.png')
