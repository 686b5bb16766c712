#!/usr/bin/env python3
"""Paints the pictures the layer move test expects: the background and the layers' rectangles
in the list's order at the end."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from rect_pictures import GREEN, RED, write_png  # noqa: E402


write_png("expected-moved.png", [(12, 4, 8, 8, RED), (24, 14, 8, 8, RED), (20, 12, 6, 6, GREEN)])
