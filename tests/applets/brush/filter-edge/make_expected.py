#!/usr/bin/python3
# Makes the expected pictures of main.qvs from the formulas in ../filter_formulas.py (Pillow reads
# the fixture and writes the PNGs). Run it in this folder.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import filter_formulas as f

px, _ = f.load('picture.bmp')
for name, radius in (('edge1', 1), ('edge0', 0), ('edge2', 2), ('edge12', 12)):
    f.save('expected-%s.png' % name, f.convolve('g', px, None, radius, 1.0)[0])
