#!/usr/bin/env python3
"""Reads what the PNG writer of the tools produced with Python's own zlib and
CRC-32, so the writer is checked by an independent decoder:

    png_check.py SPLASH_FRAME_TOOL ICON_FILE

- a splash frame written as PNG decodes to exactly the raw RGB the tool writes
  for the same frame;
- the icon file holds two 32-bit RGBA PNGs, 16 x 16 and 32 x 32, with
  transparent corners, the splash background and the spinner's brightest dot.
"""

import binascii
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def decode_png(data):
    """(width, height, colour type, rows of bytes) of an unfiltered 8-bit PNG."""
    assert data[:8] == SIGNATURE, "PNG signature"
    pos, chunks = 8, []
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert binascii.crc32(kind + body) == crc, f"CRC of {kind!r}"
        chunks.append((kind, body))
        pos += 12 + length
    assert [k for k, _ in chunks][0] == b"IHDR" and chunks[-1][0] == b"IEND"
    width, height, depth, colour, method, filtering, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    assert (depth, method, filtering, interlace) == (8, 0, 0, 0)
    raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    channels = {2: 3, 6: 4}[colour]
    stride = width * channels + 1
    assert len(raw) == stride * height, "image data size"
    rows = []
    for y in range(height):
        row = raw[y * stride:(y + 1) * stride]
        assert row[0] == 0, "filter type none"
        rows.append(row[1:])
    return width, height, colour, rows


def check_frame(tool):
    with tempfile.TemporaryDirectory() as tmp:
        png, rgb = Path(tmp) / "f.png", Path(tmp) / "f.rgb"
        subprocess.run([tool, "--status", "Downloading the game", "--percent", "42", "--frame", "9",
                        "--png", str(png), "--rgb", str(rgb)], check=True)
        width, height, colour, rows = decode_png(png.read_bytes())
        assert (width, height, colour) == (460, 250, 2), (width, height, colour)
        assert b"".join(rows) == rgb.read_bytes(), "PNG pixels equal the raw frame"
        # A frame of 345,000 bytes needs more than one stored block.
        assert len(rgb.read_bytes()) > 65535


def check_icon(path):
    data = Path(path).read_bytes()
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    assert (reserved, kind, count) == (0, 1, 2), (reserved, kind, count)
    sizes = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, offset = struct.unpack("<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        assert (colours, planes, bits) == (0, 1, 32)
        width, height, colour, rows = decode_png(data[offset:offset + size])
        assert (width, height, colour) == (w, h, 6), (width, height, colour)
        pixel = lambda x, y: tuple(rows[y][4 * x:4 * x + 4])  # noqa: E731
        assert pixel(0, 0)[3] == 0 and pixel(w - 1, h - 1)[3] == 0, "transparent corners"
        assert pixel(1, h // 2) == (14, 15, 26, 255), "splash background"
        pixels = {pixel(x, y) for y in range(h) for x in range(w)}
        assert (235, 92, 138, 255) in pixels, "the spinner's brightest dot"
        sizes.append(w)
    assert sizes == [16, 32], sizes


def main():
    check_frame(sys.argv[1])
    check_icon(sys.argv[2])
    print("png_check: splash frame and icon decode as written")
    return 0


if __name__ == "__main__":
    sys.exit(main())
