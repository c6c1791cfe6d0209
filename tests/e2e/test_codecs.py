"""The Windows build picks its codec paths at run time, by the processor it runs on,
and every path gives what the peers give.

Wine runs the exe's instructions on this machine's processor, so what cpuid
tells the exe is what /proc/cpuinfo tells here.
"""

import hashlib
import random
import unittest
import zlib
from pathlib import Path

import harness

# What the SHA-256 path needs besides the SHA instructions themselves.
SHA_PATH_FLAGS = {"sha_ni", "ssse3", "sse4_1"}


def cpu_flags():
    lines = Path("/proc/cpuinfo").read_text().splitlines()
    return set(next((l.split(":", 1)[1] for l in lines if l.startswith("flags")), "").split())


def raw_deflate(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()


def bundle_like_data(size):
    """Words, runs and noise: literals, short and long matches, stored blocks."""
    rng = random.Random(8)
    words = [b"room", b"code", b"launcher", b"bundle", b"patch", b"player"]
    parts = []
    while sum(map(len, parts)) < size:
        kind = rng.randrange(3)
        if kind == 0:
            parts.append(b" ".join(rng.choice(words) for _ in range(300)))
        elif kind == 1:
            parts.append(bytes([rng.randrange(256)]) * rng.randrange(300, 3000))
        else:
            parts.append(rng.randbytes(rng.randrange(500, 5000)))
    return b"".join(parts)


class CodecPaths(unittest.TestCase):
    def helper(self, command, path, *extra):
        """The first line the test helper prints for a command on a file."""
        r = harness.SESSION.run(harness.TEST_HELPER_EXE, [command, harness.win_path(path), *map(str, extra)],
                                display=False)
        self.assertEqual(r.returncode, 0, r.stdout)
        return r.lines[0]

    def test_the_exe_hashes_with_the_sha_instructions_where_the_processor_has_them_and_portably_when_told(self):
        folder = harness.SESSION.scratch("sha256-paths")
        # Longer than two of the reader's chunks, and not a whole number of blocks.
        data = random.Random(8).randbytes(300 * 1024 + 55)
        path = folder / "bundle.bin"
        path.write_bytes(data)
        digest = hashlib.sha256(data).hexdigest()

        selected = "sha-extensions" if SHA_PATH_FLAGS <= cpu_flags() else "portable"
        self.assertEqual(self.helper("sha256", path), f"path={selected} digest={digest}")
        self.assertEqual(self.helper("sha256", path, "portable"), f"path=portable digest={digest}")

    def test_the_exe_inflates_and_checks_crcs_on_bmi_and_pclmul_where_the_processor_has_them_and_portably_when_told(
            self):
        folder = harness.SESSION.scratch("inflate-paths")
        data = bundle_like_data(3_000_000)
        crc = f"{zlib.crc32(data):08x}"
        flags = cpu_flags()
        inflate_path = "bmi" if {"bmi1", "bmi2"} <= flags else "portable"
        crc32_path = "pclmul" if "pclmulqdq" in flags else "portable"
        for name, stream in [("dynamic", raw_deflate(data, 9)), ("fixed", raw_deflate(data, 6, zlib.Z_FIXED)),
                             ("stored", raw_deflate(data, 0))]:
            path = folder / f"{name}.deflate"
            path.write_bytes(stream)
            self.assertEqual(self.helper("inflate", path, len(data)),
                             f"inflate={inflate_path} crc32={crc32_path} result={len(data)} crc={crc}", name)
            self.assertEqual(self.helper("inflate", path, len(data), "portable"),
                             f"inflate=portable crc32=portable result={len(data)} crc={crc}", name)
            # One byte short: the decoder must fail rather than cut the output.
            self.assertIn(" result=-1 ", self.helper("inflate", path, len(data) - 1), name)
