#!/usr/bin/python3
# Prints the GetPen lines of expected.txt from the ILBM's own CMAP chunk, read here without the
# player.
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import bgpic_pictures as p  # noqa: E402

pens = p.ilbm_palette(p.fixture('pictures', 'ilbm_8planes.ilbm'))
for pen in (0, 1, 100, 199):
    print('GetPen(%d) %d' % (pen, pens[pen]))
