#!/usr/bin/python3
# Makes expected-box.png with Pillow, independently of the player: the picture main.qvs draws.
# Run it in this folder after changing the figures of the script.
from PIL import Image

im = Image.new('RGB', (16, 12), (0x20, 0x30, 0x40))
for y in range(2, 9):
    for x in range(3, 13):
        im.putpixel((x, y), (0xFF, 0x80, 0x00))
for i in range(12):
    im.putpixel((i, i), (0x00, 0xC0, 0x00))
im.save('expected-box.png')
