#!/usr/bin/python3
# Makes the expected pictures of main.qvs from the formulas in ../filter_formulas.py (Pillow reads
# the fixture and writes the PNGs). Run it in this folder.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import filter_formulas as f

px, _ = f.load('picture.bmp')
f.save('expected-solarize128.png', f.solarize(px, 128))
f.save('expected-solarize50.png', f.solarize(px, int(50 * 255 / 100)))
f.save('expected-solarize0.png', f.solarize(px, 0))
f.save('expected-solarize255.png', f.solarize(px, 255))
f.save('expected-gamma.png', f.gamma(px, 2.2, 1.0, 0.5))
f.save('expected-sharper.png', f.contrast(px, True))
f.save('expected-softer.png', f.contrast(px, False, 3))
f.save('expected-modulate.png', f.modulate(px, 1.2, 0.5, 1.5))
f.save('expected-sepia100.png', f.sepia(px, 100))
f.save('expected-sepia0.png', f.sepia(px, 0))
f.save('expected-mono.png', f.gray(px, True))
