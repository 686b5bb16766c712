#!/usr/bin/python3
# Makes expected-display.png and expected-window.png with Pillow, independently of the player:
# what main.qvs draws on its 32 x 24 display, kept to the even columns of the left half (the
# clip region's mask). Run it in this folder.
from PIL import Image, ImageDraw

full = Image.new('RGB', (32, 24), (0, 0, 0))
d = ImageDraw.Draw(full)
d.point((2, 2), fill=(255, 0, 0))
d.point((3, 2), fill=(255, 0, 0))
d.line([(0, 5), (31, 5)], fill=(0, 255, 0))
d.line([(0, 7), (7, 14)], fill=(255, 255, 0))
d.rectangle([(1, 16), (10, 18)], fill=(0, 0, 255))
d.rectangle([(0, 20), (11, 23)], outline=(255, 255, 255))
im = Image.new('RGB', (32, 24), (0, 0, 0))
for y in range(24):
    for x in range(0, 16, 2):
        im.putpixel((x, y), full.getpixel((x, y)))
im.save('expected-display.png')
im.save('expected-window.png')
