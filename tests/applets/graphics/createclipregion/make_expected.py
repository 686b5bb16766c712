#!/usr/bin/python3
# The picture main.qvs leaves on brush 2, drawn independently with Pillow.
from PIL import Image, ImageDraw

image = Image.new("RGB", (50, 40), (255, 255, 255))
draw = ImageDraw.Draw(image)
draw.rectangle([10, 5, 19, 19], fill=(255, 0, 0))   # inside region 1: x 0..19, y 5..24
draw.rectangle([35, 30, 49, 39], fill=(255, 0, 0))  # no region: cut at the brush's edges
draw.rectangle([27, 22, 30, 25], fill=(0, 0, 255))  # inside the region by handle
draw.rectangle([25, 0, 34, 9], fill=(0, 0, 255))    # after it was freed: whole
image.save("expected-box.png")
