#!/usr/bin/python3
# Makes the expected pictures of main.qvs from the formulas in ../filter_formulas.py (Pillow reads
# the fixture and writes the PNGs). Run it in this folder.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import filter_formulas as f


def brush(shape, colour, size, softness, border):
    alpha = f.shadow_alpha(shape, size, softness, 255, border, border and size >= 4 and has_alpha)
    rgb = [(colour >> 16) & 255, (colour >> 8) & 255, colour & 255]
    return [[list(rgb) for _ in row] for row in alpha], alpha


box = [[True] * 10 for _ in range(10)]
has_alpha = False
f.save('expected-shadow.png', *brush(box, 0x000080, 4, 4 / 3, False))
f.save('expected-border.png', *brush(box, 0x00FF00, 2, 2 / 3, True))
f.save('expected-nosize.png', *brush(box, 0, 0, 0, False))
f.save('expected-itself.png', *brush(box, 0x000080, 4, 4 / 3, False))
_, alpha = f.load('alpha.png')
shape = [[a != 0 for a in row] for row in alpha]
has_alpha = True
f.save('expected-alphashadow.png', *brush(shape, 0x204060, 5, 5 / 3, False))
f.save('expected-alphaborder.png', *brush(shape, 0xFFFFFF, 4, 4 / 3, True))
