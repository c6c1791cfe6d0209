"""The update check against a site on 127.0.0.1: what a run does with an
unreachable site, an error page, and a published release."""

from scenario import PlayerTest, Site, read_text, win_path


class UpdateCheck(PlayerTest):
    def setUp(self):
        super().setUp()
        self.player.install("1.0")

    def test_a_refused_port_logs_the_unreachable_line_and_starts_the_installed_version(self):
        r = self.player.run()
        self.assertLogged(r, f"checking {self.player.update_base}/manifest.json ...",
                          "  (manifest unreachable \u2014 launching installed/bundled app without update)")
        self.assertExit(r)
        self.assertIn("app.1.0", self.player.game_report().argv[0])

    def test_an_error_page_for_the_manifest_has_no_version_and_the_installed_version_starts(self):
        with Site(self.player) as site:
            r = self.player.run()
        self.assertLogged(r, "  (no version in manifest)")
        self.assertEqual(site.requests, ["/releases/manifest.json"])
        self.assertExit(r)
        self.assertIn("app.1.0", self.player.game_report().argv[0])


class BundleInstall(PlayerTest):
    def publish_and_run(self, version, flat=False, digest=None):
        """A run against a site with `version` published, whose manifest names the bundle's
        digest as digest(real digest) when given: the result, the site and the real manifest."""
        with Site(self.player) as site:
            manifest = site.publish(version, flat=flat)
            if digest:
                bundle = manifest["windows"]
                site.write_manifest({**manifest, "windows": {**bundle, "sha256": digest(bundle["sha256"])}})
            r = self.player.run(env=self.player.usable_rom())
        self.assertExit(r)
        return r, site, manifest

    def test_an_empty_home_installs_the_release_and_starts_it(self):
        p = self.player
        r, site, manifest = self.publish_and_run("1.0")
        self.assertLogged(r, f"checking {site.base}/manifest.json ...", "remote version: 1.0",
                          f"downloading {manifest['windows']['url']} ...", "  sha256 OK.", "installing 1.0 ...",
                          "  installed 1.0.")
        game = p.game_dir("1.0")
        self.assertEqual((p.home / "current.txt").read_bytes(), win_path(game).encode())
        self.assertEqual(read_text(p.home / "version.txt"), "1.0\n")
        self.assertEqual(read_text(game / "version.txt"), "1.0\n")
        self.assertEqual(p.game_report().argv[0], win_path(game / "Pelko.exe"))

        # The next run finds nothing new.
        again, _, _ = self.publish_and_run("1.0")
        self.assertLogged(again, "  app up to date.")
        self.assertFalse(any(l.startswith("downloading ") for l in again.lines))

    def test_a_new_release_carries_the_players_files_forward(self):
        p = self.player
        old = p.install("1.0")
        (old / "keymap.txt").write_bytes(b"A=X\r\n")
        (old / "savestate.vela").write_bytes(bytes(range(256)) * 4)
        r, site, _ = self.publish_and_run("1.1")
        new = p.game_dir("1.1")
        for name in ("patched.nds", "keymap.txt", "savestate.vela"):
            self.assertLogged(r, f"  (kept {name})")
            self.assertEqual((new / name).read_bytes(), (old / name).read_bytes())
        self.assertFalse(any("player_name.txt" in l for l in r.lines))
        self.assertLogged(r, f"downloading {site.base}/pelko-1.1-windows.zip ...")
        self.assertEqual(p.game_report().argv[0], win_path(new / "Pelko.exe"))
        self.assertTrue(old.exists(), "older versions stay")

    def test_a_digest_mismatch_keeps_the_old_version_and_still_starts_it(self):
        p = self.player
        p.install("1.0")
        r, _, manifest = self.publish_and_run("1.1", digest=str.upper)
        good = manifest["windows"]["sha256"]
        self.assertLogged(r, f"  SHA256 MISMATCH (expected {good.upper()}, got {good}) \u2014 refusing to update")
        self.assertEqual(read_text(p.home / "version.txt"), "1.0\n")
        self.assertIn("app.1.0", p.game_report().argv[0])

    def test_an_interrupted_update_is_repaired_and_installed_again(self):
        p = self.player
        p.install("1.0")
        # An update to 1.1 that stopped after the version record was written.
        (p.home / "version.txt").write_bytes(b"1.1\r\n")
        r, _, _ = self.publish_and_run("1.1")
        self.assertLogged(r, "  (repaired a half-finished update: the installed app is 1.0, the record said '1.1')",
                          "  installed 1.1.")
        self.assertEqual((p.home / "current.txt").read_bytes(), win_path(p.game_dir("1.1")).encode())

    def test_a_release_without_a_game_folder_runs_from_its_version_directory(self):
        p = self.player
        self.publish_and_run("2.0", flat=True)
        flat = p.home / "app.2.0"
        self.assertEqual((p.home / "current.txt").read_bytes(), win_path(flat).encode())
        self.assertEqual(p.game_report().argv[0], win_path(flat / "Pelko.exe"))
