#!/usr/bin/python3
# The sprite test's inputs: strip.png, three 4x4 frames side by side (red, green, blue, each with
# its left column and top-left pixel in the key colour black), and anim.gif, the same three frames
# as a GIF animation joined by gifsicle. Run in this folder: /usr/bin/python3 make_inputs.py
import os
import subprocess
import tempfile

from PIL import Image

COLOURS = [(255, 0, 0), (0, 255, 0), (0, 0, 255)]


def frame(colour):
    im = Image.new("RGB", (4, 4), colour)
    for y in range(4):
        im.putpixel((0, y), (0, 0, 0))
    im.putpixel((1, 0), (0, 0, 0))
    return im


strip = Image.new("RGB", (12, 4))
for i, c in enumerate(COLOURS):
    strip.paste(frame(c), (4 * i, 0))
strip.save("strip.png")

with tempfile.TemporaryDirectory() as tmp:
    names = []
    for i, c in enumerate(COLOURS):
        name = os.path.join(tmp, "f%d.gif" % i)
        frame(c).convert("P", palette=Image.ADAPTIVE, colors=4).save(name)
        names.append(name)
    subprocess.run(["gifsicle", "--loopcount=forever", "--delay=10", *names, "-o", "anim.gif"],
                   check=True)
