#!/usr/bin/python3
# Makes the expected pictures of main.qvs independently of the player (Pillow, the gradient
# transcription and the tiling of ../bgpic_pictures.py). A picture scaled by ScaleBGPic is made
# at its new size from the start: generated again, never stretched.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from PIL import Image  # noqa: E402

import bgpic_pictures as p  # noqa: E402

p.gradient(19, 11, 0xFF8000, 0x0040FF, 30).save('expected-gradient30.png')
p.gradient(37, 23, 0xFF8000, 0x0040FF, 30).save('expected-gradient30big.png')
p.gradient(38, 11, 0x102030, 0xF0E0D0, 300).save('expected-gradient300wide.png')
p.gradient(16, 10, 0x000000, 0xFFFFFF, 90).save('expected-vertical.png')
src = Image.open(p.fixture('png', 'pil_rgb8.png')).convert('RGB')
p.tiled(src, 30, 17, 4, 2).save('expected-textured.png')
p.tiled(src, 20, 15, -3, 9).save('expected-texturedneg.png')
p.tiled(src, 9, 5, -29, 22).save('expected-texturedfar.png')
