#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets (standard library only).

    python3 tests/fuzz/make_seeds.py

Raw deflate streams from zlib in each block type and strategy for the two
inflate targets; small archives from zipfile, stored, deflated, with a
directory and with data descriptors, for the ZIP walk. The output is
deterministic, so running it again changes nothing.
"""
import io
import os
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TEXT = (b"room code launcher update bundle version patch game player host relay splash\n" * 6
        + bytes(range(256)) + b"\x00" * 300)


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, flush_every=0):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    if not flush_every:
        return c.compress(data) + c.flush()
    out = b""
    for i in range(0, len(data), flush_every):
        out += c.compress(data[i:i + flush_every]) + c.flush(zlib.Z_SYNC_FLUSH)
    return out + c.flush()


def inflate_seeds():
    return {
        "stored-empty": b"\x01\x00\x00\xff\xff",
        "stored-text": raw_deflate(TEXT[:200], level=0),
        "fixed": raw_deflate(b"hello hello hello hello", strategy=zlib.Z_FIXED),
        "dynamic": raw_deflate(TEXT, level=9),
        "huffman-only": raw_deflate(TEXT[:300], strategy=zlib.Z_HUFFMAN_ONLY),
        "rle": raw_deflate(b"a" * 500 + b"b" * 300, strategy=zlib.Z_RLE),
        "flushed-blocks": raw_deflate(TEXT, level=1, flush_every=128),
    }


class Unseekable(io.RawIOBase):
    """A pipe-like sink, so zipfile writes data descriptors."""

    def __init__(self):
        self.data = b""

    def writable(self):
        return True

    def write(self, b):
        self.data += bytes(b)
        return len(b)


def fixed_time(name, method):
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
    info.compress_type = method
    return info


def zip_seeds():
    seeds = {}
    plain = io.BytesIO()
    with zipfile.ZipFile(plain, "w") as z:
        z.writestr(fixed_time("bin/", zipfile.ZIP_STORED), b"")
        z.writestr(fixed_time("bin/readme.txt", zipfile.ZIP_STORED), TEXT[:100])
        z.writestr(fixed_time("bin/game.dat", zipfile.ZIP_DEFLATED), TEXT)
        z.writestr(fixed_time("empty.cfg", zipfile.ZIP_STORED), b"")
    seeds["stored-and-deflated"] = plain.getvalue()

    streamed = Unseekable()
    with zipfile.ZipFile(streamed, "w") as z:
        z.writestr(fixed_time("a/b.txt", zipfile.ZIP_DEFLATED), TEXT[:400])
        z.writestr(fixed_time("c.txt", zipfile.ZIP_STORED), b"stored")
    seeds["data-descriptors"] = streamed.data

    commented = io.BytesIO()
    with zipfile.ZipFile(commented, "w") as z:
        z.writestr(fixed_time("x", zipfile.ZIP_DEFLATED), b"x" * 1000)
        z.comment = b"a comment after the end record"
    seeds["comment"] = commented.getvalue()
    return seeds


def write(directory, seeds):
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write(os.path.join(HERE, "corpus", "inflate"), inflate_seeds())
    write(os.path.join(HERE, "corpus", "inflate_zlib"), inflate_seeds())
    write(os.path.join(HERE, "corpus", "zip"), zip_seeds())
