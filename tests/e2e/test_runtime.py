"""The C runtime the product is linked with behaves as the launcher needs, and
the codecs' fast paths, as the Windows build compiles them, give what zlib
gives."""

import random
import unittest
import zlib

import harness


def host_cpu_flags():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("flags"):
                return set(line.split(":", 1)[1].split())
    return set()


def raw_deflate(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()


class WindowsRuntime(unittest.TestCase):
    def test_format_into_keeps_c99_rules_on_the_windows_runtime(self):
        r = harness.SESSION.run(harness.TEST_HELPER_EXE, ["format-check"], display=False)
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.lines[:3], ["cut=20|abcdefghijklmno", "zero=5|keep", "conversions=22|a\\b|-7|4000000000|0a|%"])

    def test_inflate_and_crc32_fast_and_portable_paths_agree_with_zlib(self):
        rng = random.Random(8)
        words = [b"room", b"code", b"launcher", b"bundle", b"patch", b"player"]
        parts = []
        while sum(map(len, parts)) < 3_000_000:
            kind = rng.randrange(3)
            if kind == 0:
                parts.append(b" ".join(rng.choice(words) for _ in range(300)))
            elif kind == 1:
                parts.append(bytes([rng.randrange(256)]) * rng.randrange(300, 3000))
            else:
                parts.append(rng.randbytes(rng.randrange(500, 5000)))
        data = b"".join(parts)
        expected_crc = f"{zlib.crc32(data):08x}"
        flags = host_cpu_flags()
        folder = harness.SESSION.scratch("codecs")
        for name, stream in [("dynamic", raw_deflate(data, 9)), ("fixed", raw_deflate(data, 6, zlib.Z_FIXED)),
                             ("stored", raw_deflate(data, 0))]:
            path = folder / f"{name}.deflate"
            path.write_bytes(stream)
            r = harness.SESSION.run(harness.TEST_HELPER_EXE, ["codec-check", harness.win_path(path), str(len(data))],
                                    display=False)
            self.assertEqual(r.returncode, 0, name)
            self.assertEqual(r.lines[0], f"bmi2={int('bmi2' in flags)} pclmul={int('pclmulqdq' in flags)}", name)
            self.assertEqual(r.lines[1], f"inflate={len(data)} crc={expected_crc}", name)
            self.assertEqual(r.lines[2], f"portable={len(data)} crc={expected_crc}", name)
            if "pclmulqdq" in flags:
                self.assertEqual(r.lines[3], f"clmul crc={expected_crc}", name)


if __name__ == "__main__":
    unittest.main()
