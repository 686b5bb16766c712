#!/usr/bin/python3
# Makes expected-display.png and expected-window.png with Pillow, independently of the player:
# main.qvs's 120 x 60 display, black with a blue box over its left half, and the 20 x 10 red brush
# where each of its three moves ended: a move takes the picture as it stands, so the brush that
# rests where the next move starts stays there, and nothing is left between. Run it in this
# folder after changing them.
from PIL import Image

W, H = 120, 60
im = Image.new('RGB', (W, H), (0, 0, 0))


def fill(x, y, w, h, colour):
    for j in range(max(y, 0), min(y + h, H)):
        for i in range(max(x, 0), min(x + w, W)):
            im.putpixel((i, j), colour)


fill(0, 0, 60, 60, (0, 0, 255))
for x, y in ((100, 30), (0, 50), (90, 5)):
    fill(x, y, 20, 10, (255, 0, 0))
im.save('expected-display.png')
im.save('expected-window.png')
