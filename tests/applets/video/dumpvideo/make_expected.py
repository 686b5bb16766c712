#!/usr/bin/python3
"""Makes the inputs and the expected files of this test: the CDXL videos from the test-side
writer, the frames as ffmpeg's cdxl decoder gives them, and the WAVE file around ffmpeg's 16-bit
decode of the sound at the rate of the chunk's sound (bytes per chunk x frames per second)."""
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE = os.path.join(HERE, "../../../fixtures/make_cdxl.py")


def main():
    os.chdir(HERE)
    subprocess.run([sys.executable, MAKE, "video", "video.cdxl", "6"], check=True)
    subprocess.run([sys.executable, MAKE, "second", "second.cdxl"], check=True)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "cdxl", "-i", "video.cdxl", "-pix_fmt",
                    "rgb24", "-start_number", "0", "expected-f%d.png"], check=True)
    pcm = subprocess.run(["ffmpeg", "-v", "error", "-f", "cdxl", "-i", "video.cdxl", "-vn", "-f",
                          "s16le", "-acodec", "pcm_s16le", "-"], check=True,
                         capture_output=True).stdout
    chunk = os.path.getsize("video.cdxl") // 6
    rate = int(400 * (153600 / chunk))
    head = b"RIFF" + struct.pack("<I", 36 + len(pcm)) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16) + b"data" + struct.pack("<I", len(pcm))
    with open("expected-f.wav", "wb") as f:
        f.write(head + pcm)


if __name__ == "__main__":
    main()
