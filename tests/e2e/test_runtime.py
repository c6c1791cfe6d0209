"""The C runtime the product is linked with behaves as the launcher needs."""

import unittest

import harness


class WindowsRuntime(unittest.TestCase):
    def test_format_into_keeps_c99_rules_on_the_windows_runtime(self):
        r = harness.SESSION.run(harness.TEST_HELPER_EXE, ["format-check"], display=False)
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.lines[:3], ["cut=20|abcdefghijklmno", "zero=5|keep", "conversions=22|a\\b|-7|4000000000|0a|%"])
