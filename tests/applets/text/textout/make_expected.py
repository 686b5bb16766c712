#!/usr/bin/python3
# Makes expected-display.png with Pillow, independently of the player: the glyphs of the built-in
# font read from its drawing (text/builtin_font.txt) and painted where main.qvs draws them. Run
# it in this folder after changing them.
import os
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
DRAWING = os.path.join(HERE, '..', '..', '..', '..', 'text', 'builtin_font.txt')

glyphs, code = {}, None
for line in open(DRAWING):
    line = line.rstrip('\n')
    if not line or line.startswith(';'):
        continue
    if line.startswith('char '):
        code = int(line[5:])
        glyphs[code] = []
    elif line == 'substitute':
        code = None
    elif code is not None:
        glyphs[code].append(line)

W = H = 48
im = Image.new('RGB', (W, H), (0, 0, 0))


def ink(text, x, y):
    """The set pixels of the text with its line's top at (x, y)."""
    points = set()
    for n, ch in enumerate(text):
        for row, bits in enumerate(glyphs[ord(ch)]):
            for col, bit in enumerate(bits):
                if bit == '#':
                    points.add((x + 8 * n + col, y + row))
    return points


def paint(points, colour):
    for (i, j) in points:
        if 0 <= i < W and 0 <= j < H:
            im.putpixel((i, j), colour)


WHITE, BLUE = (255, 255, 255), (0, 0, 255)
paint(ink('Hi', 0, 0), WHITE)
paint(ink('Hi', 0, 10), WHITE)
# Bold: every pixel smeared one to the right.
bold = ink('Hi', 24, 0)
paint(bold | {(i + 1, j) for (i, j) in bold}, WHITE)
# An edge of 1: every pixel grown to its 3 x 3 square in the edge colour, the text over it.
edged = ink('Hi', 25, 21)
paint({(i + di, j + dj) for (i, j) in edged for di in (-1, 0, 1) for dj in (-1, 0, 1)}, BLUE)
paint(edged, WHITE)
# NPrint("H") at (0, 31), then Print("i") on the next line.
paint(ink('H', 0, 31), WHITE)
paint(ink('i', 0, 39), WHITE)
im.save(os.path.join(HERE, 'expected-display.png'))
