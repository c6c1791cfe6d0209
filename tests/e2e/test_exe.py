"""The exe's resources as Windows loads them, C99 formatting on the Windows C runtime, the codec paths
picked by the processor (Wine runs the exe on this one: cpuid tells what /proc/cpuinfo does)."""

import hashlib
import random
import re
import struct
import unittest
import xml.etree.ElementTree as ET
import zlib
from pathlib import Path

import harness
from harness import LAUNCHER_EXE, ROOT, helper, win_path

CPU_FLAGS = set(re.search(r"^flags\s*:(.*)$", Path("/proc/cpuinfo").read_text(), re.M)[1].split())


class WindowsBuild(unittest.TestCase):
    def test_the_executable_carries_its_icon_version_information_and_manifest(self):
        found = helper("resources", win_path(LAUNCHER_EXE))
        expected = {"icon_16": "16,16", "icon_32": "32,32", "file_version": "1.0.0.0", "product_version": "1.0.0.0",
                    "FileVersion": "dev", "ProductVersion": "dev", "InternalName": "Pelko-Setup",
                    "OriginalFilename": "Pelko-Setup.exe", "ProductName": "Pelko"}
        self.assertEqual({k: found.get(k) for k in expected}, expected)
        # Icon group 1 holds the committed file's images byte for byte, 32 bits per pixel.
        ico = (ROOT / "resources" / "pelko.ico").read_bytes()
        entries = [struct.unpack_from("<BB6xII", ico, 6 + 16 * i) for i in range(struct.unpack_from("<H", ico, 4)[0])]
        self.assertEqual(found["icon_entry"], [f"{w},{h},32,{n},{ico[at:at + n].hex()}" for w, h, n, at in entries])

        manifest = ET.fromstring(bytes.fromhex(found["manifest"]))
        level = manifest.find(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
        self.assertEqual((level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
        supported = manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")
        self.assertEqual([e.get("Id") for e in supported], ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"])

    def test_format_into_keeps_c99_rules_on_the_windows_runtime(self):
        self.assertEqual(helper("format-check"), {"cut": "20|abcdefghijklmno", "zero": "5|keep",
                                                  "conversions": "22|a\\b|-7|4000000000|0a|%"})

    def test_the_codecs_take_the_processors_paths_where_it_has_them_and_the_portable_ones_when_told(self):
        folder = harness.SESSION.work
        # Words, runs and noise (literals, short and long matches, stored blocks), not whole SHA-256 blocks.
        rng = random.Random(8)
        data = b"".join(rng.choice([b"room code bundle patch " * rng.randrange(10, 300), rng.randbytes(3000),
                                    bytes([rng.randrange(256)]) * rng.randrange(300, 3000)])
                        for _ in range(1500))[:2_400_055]
        (folder / "data").write_bytes(data)
        sha = "sha-extensions" if {"sha_ni", "ssse3", "sse4_1"} <= CPU_FLAGS else "portable"
        inflate = "bmi" if {"bmi1", "bmi2"} <= CPU_FLAGS else "portable"
        crc32 = "pclmul" if "pclmulqdq" in CPU_FLAGS else "portable"
        for portable in ("", "portable"):
            self.assertEqual(helper("sha256", win_path(folder / "data"), portable),
                             {"path": portable or sha, "digest": hashlib.sha256(data).hexdigest()})
            for level, strategy in [(9, zlib.Z_DEFAULT_STRATEGY), (6, zlib.Z_FIXED), (0, zlib.Z_DEFAULT_STRATEGY)]:
                c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
                (folder / "stream").write_bytes(c.compress(data) + c.flush())
                self.assertEqual(helper("inflate", win_path(folder / "stream"), len(data), portable),
                                 {"inflate": portable or inflate, "crc32": portable or crc32,
                                  "result": str(len(data)), "crc": f"{zlib.crc32(data):08x}"}, level)
