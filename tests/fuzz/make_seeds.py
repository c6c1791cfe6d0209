#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets (standard library only).

    python3 tests/fuzz/make_seeds.py

The output is deterministic, so running it again changes nothing; README.md
says what each corpus holds.
"""
import io
import pathlib
import subprocess
import tempfile
import zipfile
import zlib

HERE = pathlib.Path(__file__).resolve().parent
TEXT = (b"room code launcher update bundle version patch game player host relay splash\n" * 6
        + bytes(range(256)) + b"\x00" * 300)


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, flush_every=0):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    if not flush_every:
        return c.compress(data) + c.flush()
    pieces = [c.compress(data[i:i + flush_every]) + c.flush(zlib.Z_SYNC_FLUSH)
              for i in range(0, len(data), flush_every)]
    return b"".join(pieces) + c.flush()


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


class BitWriter:
    """A deflate bit stream: fields least significant bit first, Huffman codes
    most significant bit first."""

    def __init__(self):
        self.value = self.count = 0

    def bits(self, value, n):
        self.value |= (value & ((1 << n) - 1)) << self.count
        self.count += n

    def code(self, code, n):
        self.bits(int(f"{code:0{n}b}"[::-1], 2), n)

    def bytes(self):
        return self.value.to_bytes((self.count + 7) // 8, "little")


CL_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


def walked_codes(lengths):
    """(code, length) per symbol as a canonical walk assigns them; a set that
    runs out of room leaves the rest without a code (None)."""
    codes = [None] * len(lengths)
    first = 0
    for n in range(1, 16):
        symbols = [s for s, length in enumerate(lengths) if length == n]
        for k, s in enumerate(symbols):
            if first + k < (1 << n):
                codes[s] = (first + k, n)
        first = (first + len(symbols)) << 1
    return codes


def dynamic_block(literal_lengths, distance_lengths, symbols, last_run=None):
    """A final dynamic block sending the lengths with a complete code-length
    code (every length 4 or 5 bits), then the given literal/length symbols
    (a match: (length symbol, distance symbol), no extra bits). With last_run,
    the last length goes as symbol 16 with those extra bits instead: a repeat
    of the length before it that runs past the end."""
    w = BitWriter()
    for value, n in ((1, 1), (2, 2), (len(literal_lengths) - 257, 5), (len(distance_lengths) - 1, 5), (15, 4)):
        w.bits(value, n)
    cl_lengths = [5 if 10 <= s <= 15 else 4 for s in range(19)]
    for s in CL_ORDER:
        w.bits(cl_lengths[s], 3)
    cl_codes = walked_codes(cl_lengths)
    all_lengths = literal_lengths + distance_lengths
    for length in all_lengths[:-1] if last_run is not None else all_lengths:
        w.code(*cl_codes[length])
    if last_run is not None:
        w.code(*cl_codes[16])
        w.bits(last_run, 2)
    lit, dist = walked_codes(literal_lengths), walked_codes(distance_lengths)
    for symbol in symbols:
        if isinstance(symbol, tuple):
            w.code(*lit[symbol[0]])
            w.code(*dist[symbol[1]])
        else:
            w.code(*lit[symbol])
    return w.bytes()


def literal_lengths(**lengths):
    """257 literal/length code lengths, zero but for the symbols named (one
    character each, or 'end' for the end of block)."""
    out = [0] * 257
    for symbol, length in lengths.items():
        out[256 if symbol == "end" else ord(symbol)] = length
    return out


def hand_built_inflate_seeds():
    # Long codes: every literal 8 or 9 bits, the end of block and a match
    # symbol 15 bits, reached through second-level tables.
    long_lengths = ([8] * 128 + [9] * 126 + [10, 11, 15, 15] + [0] * 28)[:286]
    return {
        # Incomplete: 'a' and the end of block only.
        "incomplete": dynamic_block(literal_lengths(a=1, end=2), [1], [ord("a")] * 5 + [256]),
        # Over-subscribed: 'a' and the end of block take both one-bit codes,
        # and 'c' gets none.
        "over-subscribed": dynamic_block(literal_lengths(a=1, c=2, end=1), [1], [ord("a"), ord("a"), 256]),
        "long-codes": dynamic_block(long_lengths, list(range(1, 16)) + [15],
                                    [ord("x"), ord("y"), (257, 0), (257, 1), 255, 256]),
        # A code-length repeat past the end of the lengths is cut there.
        "repeat-past-end": dynamic_block(literal_lengths(q=1, end=1), [1], [ord("q"), 256], last_run=3),
    }


def crc32_seeds():
    return {"empty": b"", "one": b"\x5a", "block-63": lcg_bytes(63, 3), "block-64": lcg_bytes(64, 4),
            "block-65": lcg_bytes(65, 5), "text": TEXT}


class Unseekable(io.BytesIO):
    """A pipe-like sink, so zipfile writes data descriptors."""

    def seek(self, *args):
        raise OSError("not seekable")


def zip_archive(sink, entries, comment=b""):
    """entries: (name, method, content); every entry dated 2024-01-01."""
    with zipfile.ZipFile(sink, "w") as z:
        for name, method, content in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = method
            z.writestr(info, content)
        z.comment = comment
    return sink.getvalue()


def zip_seeds():
    stored, deflated = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
    return {
        "stored-and-deflated": zip_archive(io.BytesIO(), [
            ("bin/", stored, b""), ("bin/readme.txt", stored, TEXT[:100]), ("bin/game.dat", deflated, TEXT),
            ("empty.cfg", stored, b"")]),
        "data-descriptors": zip_archive(Unseekable(), [("a/b.txt", deflated, TEXT[:400]), ("c.txt", stored, b"stored")]),
        "comment": zip_archive(io.BytesIO(), [("x", deflated, b"x" * 1000)], b"a comment after the end record"),
    }


def lcg_bytes(n, seed):
    """Deterministic bytes that do not depend on the random module's algorithm."""
    out = bytearray()
    for _ in range(n):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(seed >> 16 & 0xFF)
    return bytes(out)


def varint(value):
    out = bytes([value & 0x7F])
    while value > 0x7F:
        value >>= 7
        out = bytes([0x80 | value & 0x7F]) + out
    return out


def xdelta3(source, target, *flags):
    """A patch from xdelta3 without secondary compression; no source: the target alone."""
    with tempfile.TemporaryDirectory() as work:
        source_path, target_path, patch_path = (pathlib.Path(work, name) for name in ("source", "target", "patch"))
        command = ["xdelta3", "-e", "-f", "-S", "none", "-A=seed", *flags]
        if source is not None:
            source_path.write_bytes(source)
            command += ["-s", source_path]
        target_path.write_bytes(target)
        subprocess.run(command + [target_path, patch_path], check=True)
        return patch_path.read_bytes()


def vcdiff_window(indicator, segment, target_length, data, instructions, addresses):
    window = bytes([indicator])
    if indicator & 0x03:
        window += varint(segment[0]) + varint(segment[1])
    delta = (varint(target_length) + b"\x00" + varint(len(data)) + varint(len(instructions))
             + varint(len(addresses)))
    if indicator & 0x04:
        delta += b"\x01\x02\x03\x04"
    delta += data + instructions + addresses
    return window + varint(len(delta)) + delta


def vcdiff_seeds():
    """Each seed is one byte n, a source of n bytes, then the patch."""
    def seed(source, patch):
        source = source or b""
        return bytes([len(source)]) + source + patch

    source = lcg_bytes(200, 7)
    edited = bytearray(source)
    edited[10] ^= 1
    edited[100:100] = b"inserted"
    del edited[150:160]
    text = (b"the rom patch copy window add run\n" * 20)[:700]
    header = bytes([0xD6, 0xC3, 0xC4, 0x00, 0x04, 0x02]) + b"hi"
    alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    # Code table indexes: 1 ADD, 19 + 16 * mode COPY (sizes follow); 163 ADD 1
    # with COPY 4 in mode 0.
    own_then_segment = (
        vcdiff_window(0x04, None, 11, b"hello world", bytes([1, 11]), b"")
        + vcdiff_window(0x02, (5, 6), 12, b"!", bytes([19, 5, 19, 6, 2]), bytes([0, 2])))
    caches = vcdiff_window(0x05, (26, 0), 40, b"abc", bytes([1, 2, 19, 9, 163, 19 + 16 * 6, 4, 19 + 16 * 2, 3]),
                           bytes([0, 3, 3, 1]))
    return {
        "edits": seed(source, xdelta3(source, bytes(edited))),
        "runs": seed(source, xdelta3(source, source[:50] + b"\x00" * 300 + source[50:] + b"\xff" * 40)),
        "target-only": seed(None, xdelta3(None, text)),
        "many-windows": seed(source, xdelta3(source, (source * 120)[:40000] + b"tail", "-W", "16384")),
        "empty-target": seed(source, xdelta3(source, b"")),
        "target-segment": seed(b"", header + own_then_segment),
        "caches": seed(alphabet, header + caches),
        "header-only": seed(b"xyz", header),
    }


def sha256_seeds():
    """Each seed is one byte (the seed of the piece sizes), then the message."""
    seeds = {f"size-{n}": bytes([n % 251]) + (TEXT * 3)[:n] for n in (0, 1, 55, 56, 63, 64, 65, 119, 120, 128)}
    seeds["size-1000"] = bytes([7]) + lcg_bytes(1000, 3)
    return seeds


if __name__ == "__main__":
    inflate = inflate_seeds()
    corpora = {"inflate": inflate, "inflate_zlib": inflate, "inflate_diff": {**inflate, **hand_built_inflate_seeds()},
               "zip": zip_seeds(), "zip_diff": zip_seeds(), "crc32_diff": crc32_seeds(), "vcdiff_diff": vcdiff_seeds(),
               "sha256_diff": sha256_seeds()}
    for corpus, seeds in corpora.items():
        (HERE / "corpus" / corpus).mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (HERE / "corpus" / corpus / name).write_bytes(data)
