#!/usr/bin/python3
# Makes the expected pictures of main.qvs independently of the player: Pillow reads the fixtures,
# ../bgpic_pictures.py lays them over the colour fills (keyed, or blended by their alpha).
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from PIL import Image  # noqa: E402

import bgpic_pictures as p  # noqa: E402

rgb = Image.open(p.fixture('png', 'pil_rgb8.png'))
rgba = Image.open(p.fixture('png', 'pil_rgba8.png'))
p.over_colour(rgb, 0x00FF00, key=0xE1510D).save('expected-keyed.png')
p.over_colour(rgba, 0x0000FF).save('expected-alpha.png')
p.over_colour(rgba, 0x0000FF).save('expected-alphakept.png')
rgb.convert('RGB').save('expected-roundtrip.png')
# The pixels the script reads back: colour and mask bit or alpha byte.
px = rgb.convert('RGB')
for x, y in ((0, 0), (1, 0)):
    r, g, b = px.getpixel((x, y))
    c = (r << 16) | (g << 8) | b
    print('ReadBrushPixel(3, %d, %d) %d %d' % (x, y, c, 0 if c == 0xE1510D else 1))
for x, y in ((0, 0), (5, 3)):
    r, g, b, a = rgba.convert('RGBA').getpixel((x, y))
    print('ReadBrushPixel(4, %d, %d) %d %d' % (x, y, (r << 16) | (g << 8) | b, a))
