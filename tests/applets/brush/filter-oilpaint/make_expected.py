#!/usr/bin/python3
# Makes the expected pictures of main.qvs from the formulas in ../filter_formulas.py (Pillow reads
# the fixture and writes the PNGs). Run it in this folder.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import filter_formulas as f

px, _ = f.load('picture.bmp')
for radius in (0, 1, 3):
    f.save('expected-oil%d.png' % radius, f.oil_paint(px, radius))
