#!/usr/bin/python3
# Makes the expected pictures with Pillow, independently of the player: the lines main.qvs draws
# on its 24 x 16 display and brush, each cut by hand to the picture (an end outside moves along
# the line to the edge it crosses, the other coordinate truncated). Run it in this folder.
from PIL import Image, ImageDraw

im = Image.new('RGB', (24, 16), (0, 0, 0))
d = ImageDraw.Draw(im)
d.line([(1, 1), (10, 1)], fill=(255, 0, 0))
d.line([(22, 14), (22, 3)], fill=(0, 255, 0))
d.line([(2, 3), (8, 9)], fill=(0, 0, 255))
d.line([(20, 12), (14, 6)], fill=(255, 255, 0))
d.line([(0, 14), (23, 14)], fill=(255, 255, 255))  # (-10, 14) .. (40, 14)
d.line([(0, 13), (2, 15)], fill=(0, 255, 255))     # (-3, 10) .. (10, 23)
d.line([(12, 0), (12, 15)], fill=(255, 0, 255))    # (12, -5) .. (12, 30)
# (-9, -9) .. (-1, -1) and (30, 2) .. (40, 2) lie outside: nothing.
im.putpixel((5, 5), (0x80, 0x80, 0x80))
for name in ('display', 'window', 'brush'):
    im.save('expected-%s.png' % name)
