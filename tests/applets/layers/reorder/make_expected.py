#!/usr/bin/env python3
"""Paints the pictures the reorder test expects: the background and the layers' rectangles in
the list's order."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from rect_pictures import GREEN, RED, write_png  # noqa: E402

YELLOW = (255, 255, 0)


a = (2, 2, 8, 8, RED)
b = (6, 4, 8, 8, GREEN)
c = (10, 6, 8, 8, YELLOW)
c_moved = (13, 4, 8, 8, YELLOW)
write_png("expected-front.png", [a, c, b])
write_png("expected-zpos.png", [b, a, c])
write_png("expected-hidden.png", [a, c_moved])
write_png("expected-moved.png", [(20, 14, 8, 8, GREEN), c_moved])
write_png("expected-display.png", [(20, 14, 8, 8, GREEN), c_moved])
