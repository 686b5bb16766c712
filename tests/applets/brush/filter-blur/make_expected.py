#!/usr/bin/python3
# Makes the expected pictures of main.qvs from the formulas in ../filter_formulas.py (Pillow reads
# the fixture and writes the PNGs). Run it in this folder.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import filter_formulas as f

px, _ = f.load('picture.bmp')
f.save('expected-blur5.png', f.convolve('b', px, None, 5, 2)[0])
f.save('expected-blur0.png', f.convolve('b', px, None, 0, 1.0)[0])
f.save('expected-sigma0.png', f.convolve('b', px, None, 2, 0)[0])
apx, alpha = f.load('alpha.png')
bpx, balpha = f.convolve('b', apx, alpha, 1.5, 1)
f.save('expected-alphablur.png', bpx, balpha)
f.save('expected-sharpen.png', f.convolve('s', px, None, 0, 1.0)[0])
f.save('expected-sharpen2.png', f.convolve('s', px, None, 2, 1.0)[0])
f.save('expected-emboss.png', f.convolve('e', px, None, 0, 1.0)[0])
f.save('expected-emboss1.png', f.convolve('e', px, None, 1, 1.0)[0])
f.save('expected-charcoal.png', f.charcoal(px, None, 1)[0])
