#!/usr/bin/env python3
"""Paints the pictures the FreeLayers test expects: the background and the brushes' rectangles
in the order they were shown."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from rect_pictures import GREEN, RED, write_png  # noqa: E402


kept = [(2, 2, 8, 8, RED), (6, 4, 8, 8, GREEN)]
for name in ("before", "kept", "keptdisplay", "hidden"):
    write_png("expected-%s.png" % name, kept)
write_png("expected-shown.png", kept + [(20, 10, 8, 8, RED)])
write_png("expected-bare.png", kept)
