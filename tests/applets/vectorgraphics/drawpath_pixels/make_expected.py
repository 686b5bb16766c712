#!/usr/bin/python3
# Makes expected-paths.png with Pillow, independently of the player: the picture main.qvs draws.
# Run it in this folder after changing the figures of the script.
from PIL import Image, ImageDraw

im = Image.new('RGB', (40, 28), (0, 0, 0))
d = ImageDraw.Draw(im)
d.rectangle([2, 2, 7, 5], fill=(255, 0, 0))             # 6 x 4 filled
d.rectangle([10, 2, 15, 7], outline=(0, 255, 0))        # 6 x 6 ring, 1 wide
d.rectangle([18, 2, 29, 13], fill=(0, 0, 255))          # 12 x 12 ring, 4 wide
d.rectangle([22, 6, 25, 9], fill=(0, 0, 0))
for x, hole in ((2, True), (12, False), (22, True)):    # even-odd, winding same, winding other
    d.rectangle([x, 16, x + 7, 23], fill=(255, 255, 0))
    if hole:
        d.rectangle([x + 2, 18, x + 5, 21], fill=(0, 0, 0))
im.save('expected-paths.png')
