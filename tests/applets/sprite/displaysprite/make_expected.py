#!/usr/bin/python3
# The pictures the sprite test expects, from the frames of make_inputs.py: a white 24x12 display,
# the yellow 5x5 brush at 0,0 beneath the strip's first (red) frame at 2,2, and the GIF's second
# (green) frame at 10,2; each frame's left column and the pixel right of its top-left corner are
# keyed out. The display and window snapshots and the one after RemoveSprites(1) are this picture.
from PIL import Image


def paste_frame(im, colour, x0, y0):
    for y in range(4):
        for x in range(1, 4):
            if (x, y) != (1, 0):
                im.putpixel((x0 + x, y0 + y), colour)


im = Image.new("RGB", (24, 12), (255, 255, 255))
for y in range(5):
    for x in range(5):
        im.putpixel((x, y), (255, 255, 0))
paste_frame(im, (255, 0, 0), 2, 2)
paste_frame(im, (0, 255, 0), 10, 2)
for name in ("display", "window", "kept"):
    im.save("expected-%s.png" % name)
