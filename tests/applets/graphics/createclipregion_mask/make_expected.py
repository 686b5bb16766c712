#!/usr/bin/python3
# The display and the brush that main.qvs leaves, drawn independently with Pillow: each
# region shows the keyed brush's white pixels, moved by the region's place and cut.
from PIL import Image

WHITE, RED, BLUE = (255, 255, 255), (255, 0, 0), (0, 0, 255)
key = Image.new("RGB", (12, 12), (0, 0, 0))
for i in range(12):
    key.putpixel((i, i), WHITE)
    key.putpixel((5, i), WHITE)
    key.putpixel((i, 8), WHITE)


def through_key(image, left, top, colour):
    """Colours each pixel where the key brush drawn at (left, top) is white."""
    for y in range(12):
        for x in range(12):
            px, py = left + x, top + y
            if px < 0 or py < 0 or px >= image.width or py >= image.height:
                continue
            if key.getpixel((x, y)) == WHITE:
                image.putpixel((px, py), colour)


display = Image.new("RGB", (60, 40), WHITE)
through_key(display, -3, 5, RED)
display.save("expected-display.png")

brush = Image.new("RGB", (20, 20), WHITE)
through_key(brush, 5, -1, RED)
through_key(brush, -9, 8, BLUE)
brush.save("expected-brush.png")
