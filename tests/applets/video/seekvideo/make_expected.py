#!/usr/bin/python3
"""The expected windows: ffmpeg's decode of frame trunc(t x 25 / 1000) of video.cdxl (five frames
at 25 frames a second, made by ../../../fixtures/make_cdxl.py video video.cdxl 5 6144) at (8, 4)
on the display's black 64x48 picture."""
import os
import subprocess
import tempfile

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    os.chdir(HERE)
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["ffmpeg", "-v", "error", "-f", "cdxl", "-i", "video.cdxl", "-pix_fmt",
                        "rgb24", "-start_number", "0", os.path.join(tmp, "f%d.png")], check=True)
        for name, ms in (("paused119", 119), ("paused120", 120), ("ended40", 40),
                         ("ended200", 200)):
            frame = min(ms * 25 // 1000, 4)
            window = Image.new("RGB", (64, 48), (0, 0, 0))
            window.paste(Image.open(os.path.join(tmp, f"f{frame}.png")).convert("RGB"), (8, 4))
            window.save(f"expected-{name}.png")


if __name__ == "__main__":
    main()
