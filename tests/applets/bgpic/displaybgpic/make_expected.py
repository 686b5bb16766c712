#!/usr/bin/python3
# Makes the expected pictures of main.qvs independently of the player (Pillow and the gradient
# transcription of ../bgpic_pictures.py). Run it in this folder after changing the script.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from PIL import Image  # noqa: E402

import bgpic_pictures as p  # noqa: E402

red = Image.new('RGB', (40, 30), (255, 0, 0))
red.save('expected-shown.png')
red.save('expected-kept.png')
p.gradient(19, 11, 0xFF8000, 0x0040FF, 30).save('expected-rainbow.png')
p.gradient(19, 11, 0xFF8000, 0x0040FF, 30).save('expected-gradient.png')
