"""The Windows build picks its codec paths at run time, by the processor it runs on.

Wine runs the exe's instructions on this machine's processor, so what cpuid
tells the exe is what /proc/cpuinfo tells here.
"""

import hashlib
import random
import unittest
from pathlib import Path

import harness

# What the SHA-256 path needs besides the SHA instructions themselves.
SHA_PATH_FLAGS = {"sha_ni", "ssse3", "sse4_1"}


def cpu_flags():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("flags"):
            return set(line.split(":", 1)[1].split())
    return set()


class Sha256Paths(unittest.TestCase):
    def sha256(self, path, *extra):
        r = harness.SESSION.run(harness.TEST_HELPER_EXE, ["sha256", harness.win_path(path), *extra], display=False)
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
        self.assertEqual(self.sha256(path), f"path={selected} digest={digest}")
        self.assertEqual(self.sha256(path, "portable"), f"path=portable digest={digest}")


if __name__ == "__main__":
    unittest.main()
