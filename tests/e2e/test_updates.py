"""The update check against a site on 127.0.0.1: what a run does with an
unreachable site, an error page, and a published release."""

import unittest

import json

import harness
from scenario import USABLE_ROM, Player, Site, read_text, win_path


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


class BundleInstall(unittest.TestCase):
    def setUp(self):
        self.player = Player(harness.SESSION, self.id().rsplit(".", 1)[-1])
        # Every run names a ROM, so no run can wait on the file dialog.
        self.rom = self.player.root / "dump.nds"
        self.rom.write_bytes(USABLE_ROM)

    def run_launcher(self, *args, **env):
        return self.player.run(*args, env={"VELA_ROM": win_path(self.rom), **env})

    def test_an_empty_home_installs_the_release_and_starts_it(self):
        p = self.player
        with Site(p) as site:
            manifest = site.publish("1.0")
            r = self.run_launcher()
        self.assertEqual(r.returncode, 0, r.stdout)
        for line in (f"checking {site.base}/manifest.json ...", "remote version: 1.0",
                     f"downloading {manifest['windows']['url']} ...", "  sha256 OK.", "installing 1.0 ...",
                     "  installed 1.0."):
            self.assertTrue(r.logged(line), (line, r.lines))
        game = p.game_dir("1.0")
        self.assertEqual((p.home / "current.txt").read_bytes(), win_path(game).encode())
        self.assertEqual(read_text(p.home / "version.txt"), "1.0\n")
        self.assertEqual(read_text(game / "version.txt"), "1.0\n")
        self.assertEqual(p.game_report().argv[0], win_path(game / "Pelko.exe"))

        # The next run finds nothing new.
        with Site(p) as site:
            site.publish("1.0")
            again = self.run_launcher()
        self.assertEqual(again.returncode, 0)
        self.assertTrue(again.logged("  app up to date."), again.lines)
        self.assertFalse(any(l.startswith("downloading ") for l in again.lines))

    def test_a_new_release_carries_the_players_files_forward(self):
        p = self.player
        old = p.install("1.0")
        (old / "keymap.txt").write_bytes(b"A=X\r\n")
        (old / "savestate.vela").write_bytes(bytes(range(256)) * 4)
        with Site(p) as site:
            site.publish("1.1")
            r = self.run_launcher()
        self.assertEqual(r.returncode, 0, r.stdout)
        new = p.game_dir("1.1")
        for name in ("patched.nds", "keymap.txt", "savestate.vela"):
            self.assertTrue(r.logged(f"  (kept {name})"), (name, r.lines))
            self.assertEqual((new / name).read_bytes(), (old / name).read_bytes())
        self.assertFalse(any("player_name.txt" in l for l in r.lines))
        self.assertTrue(r.logged("downloading " + f"{site.base}/pelko-1.1-windows.zip ..."), r.lines)
        self.assertEqual(p.game_report().argv[0], win_path(new / "Pelko.exe"))
        self.assertTrue(old.exists(), "older versions stay")

    def test_a_digest_mismatch_keeps_the_old_version_and_still_starts_it(self):
        p = self.player
        p.install("1.0")
        with Site(p) as site:
            manifest = site.publish("1.1")
            good = manifest["windows"]["sha256"]
            manifest["windows"]["sha256"] = good.upper()
            site.write_manifest(json.dumps(manifest))
            r = self.run_launcher()
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.logged(f"  SHA256 MISMATCH (expected {good.upper()}, got {good}) \u2014 refusing to update"),
                        r.lines)
        self.assertEqual(read_text(p.home / "version.txt"), "1.0\n")
        self.assertIn("app.1.0", p.game_report().argv[0])

    def test_an_interrupted_update_is_repaired_and_installed_again(self):
        p = self.player
        p.install("1.0")
        # An update to 1.1 that stopped after the version record was written.
        (p.home / "version.txt").write_bytes(b"1.1\r\n")
        with Site(p) as site:
            site.publish("1.1")
            r = self.run_launcher()
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertTrue(r.logged("  (repaired a half-finished update: the installed app is 1.0, the record said '1.1')"),
                        r.lines)
        self.assertTrue(r.logged("  installed 1.1."), r.lines)
        self.assertEqual((p.home / "current.txt").read_bytes(), win_path(p.game_dir("1.1")).encode())

    def test_a_release_without_a_game_folder_runs_from_its_version_directory(self):
        p = self.player
        with Site(p) as site:
            site.publish("2.0", flat=True)
            r = self.run_launcher()
        self.assertEqual(r.returncode, 0, r.stdout)
        flat = p.home / "app.2.0"
        self.assertEqual((p.home / "current.txt").read_bytes(), win_path(flat).encode())
        self.assertEqual(p.game_report().argv[0], win_path(flat / "Pelko.exe"))


if __name__ == "__main__":
    unittest.main()
