"""The update check against a site on 127.0.0.1: what a run does with an
unreachable site, an error page, and a published release."""

import unittest

import harness
from scenario import Player


class UpdateCheck(unittest.TestCase):
    def setUp(self):
        self.player = Player(harness.SESSION, self.id().rsplit(".", 1)[-1])

    def test_a_refused_port_logs_the_unreachable_line_and_starts_the_installed_version(self):
        p = self.player
        p.install("1.0")
        r = p.run()
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.logged(f"checking {p.update_base}/manifest.json ..."), r.lines)
        self.assertTrue(r.logged("  (manifest unreachable \u2014 launching installed/bundled app without update)"),
                        r.lines)
        self.assertIn("app.1.0", p.game_report().argv[0])

    def test_an_error_page_for_the_manifest_has_no_version_and_the_installed_version_starts(self):
        p = self.player
        p.install("1.0")
        site_root = p.root / "site"
        site_root.mkdir()
        with harness.UpdateSite(site_root) as site:
            p.update_base = f"{site.base}/releases"
            r = p.run()
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.logged("  (no version in manifest)"), r.lines)
        self.assertEqual(site.requests, ["/releases/manifest.json"])
        self.assertIn("app.1.0", p.game_report().argv[0])


if __name__ == "__main__":
    unittest.main()
