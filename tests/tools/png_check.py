#!/usr/bin/env python3
"""Reads what the tools' PNG writer produced with ImageMagick (libpng):

    png_check.py SPLASH_FRAME_TOOL ICON_FILE

A splash frame written as PNG decodes to exactly the raw RGB the tool writes
for it; the icon's two images are 8-bit RGBA PNGs, 16 and 32 pixels square,
with transparent corners, the splash background and the spinner's brightest dot.
"""

import subprocess
import sys
import tempfile
from pathlib import Path


def magick(*args):
    return subprocess.run(args, capture_output=True, check=True, timeout=60).stdout


def main(tool, icon):
    with tempfile.TemporaryDirectory() as tmp:
        png, rgb = Path(tmp) / "f.png", Path(tmp) / "f.rgb"
        # 345,000 bytes of pixels: more than one stored deflate block.
        subprocess.run([tool, "--status", "Downloading the game", "--percent", "42", "--frame", "9",
                        "--png", png, "--rgb", rgb], check=True, timeout=60)
        assert magick("identify", "-format", "%m %w %h %z %[channels]", png) == b"PNG 460 250 8 srgb"
        assert magick("convert", png, "-depth", "8", "rgb:-") == rgb.read_bytes(), "the PNG's pixels"
    assert magick("identify", "-format", "%m %w %h %z %[channels]\n", icon) == b"PNG 16 16 8 srgba\nPNG 32 32 8 srgba\n"
    for index, size in enumerate((16, 32)):
        rgba = magick("convert", f"{icon}[{index}]", "-depth", "8", "rgba:-")
        pixel = lambda x, y: tuple(rgba[4 * (y * size + x):4 * (y * size + x) + 4])  # noqa: E731
        assert pixel(0, 0)[3] == 0 and pixel(size - 1, size - 1)[3] == 0, "transparent corners"
        assert pixel(1, size // 2) == (14, 15, 26, 255), "the splash background"
        assert (235, 92, 138, 255) in {pixel(x, y) for y in range(size) for x in range(size)}, "the brightest dot"
    print("png_check: the splash frame and the icon decode as written")


if __name__ == "__main__":
    main(*sys.argv[1:3])
