#!/usr/bin/env python3
"""Paints the pictures the border test expects: the background, the border ring and the layer
painted in turn."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from rect_pictures import RED, write_png  # noqa: E402


WHITE = (255, 255, 255)
layer = (6, 6, 8, 8, RED)
write_png("expected-border.png", [(4, 4, 12, 12, WHITE), layer])
write_png("expected-borderoff.png", [layer])
write_png("expected-shadowoff.png", [layer])
