#!/usr/bin/env python3
"""Paints the pictures the insert test expects: the background and the layers' rectangles
in the list's order."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from rect_pictures import GREEN, RED, write_png  # noqa: E402


YELLOW = (255, 255, 0)
a, b, c = (2, 2, 8, 8, RED), (6, 4, 8, 8, GREEN), (4, 6, 8, 8, YELLOW)
write_png("expected-inserted.png", [b, a])
write_png("expected-pending.png", [b, a])
write_png("expected-ended.png", [b, a, c])
write_png("expected-display.png", [b, a, c])
