#!/usr/bin/python3
# Makes expected-display.png and expected-window.png with Pillow: after Cls the 12 x 6 display
# shows its background colour only. Run it in this folder.
from PIL import Image

im = Image.new('RGB', (12, 6), (0x33, 0x66, 0x99))
im.save('expected-display.png')
im.save('expected-window.png')
