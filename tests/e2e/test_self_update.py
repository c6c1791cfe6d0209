"""A launcher build published on the update site replaces the installed one and
finishes the run."""

import harness
from scenario import PlayerTest, Site, win_path


class SelfUpdate(PlayerTest):
    def setUp(self):
        super().setUp()
        self.rom = self.player.usable_rom()
        # A different build: the same program with bytes appended, so its
        # digest differs and it still runs.
        self.new_build = self.player.root / "new-build.exe"
        self.new_build.write_bytes(harness.LAUNCHER_EXE.read_bytes() + b"\0build 2\0")

    def run_installed(self, *args):
        p = self.player
        return self.session.run(p.home / "Pelko-Setup.exe", args, env=p.env(**self.rom), cwd=p.root, timeout=120)

    def test_the_new_build_takes_over_the_run_and_the_next_run_removes_the_old_one(self):
        p = self.player
        with Site(p) as site:
            site.publish("1.0")
            self.assertExit(p.run(env=self.rom))
            installed = p.home / "Pelko-Setup.exe"
            self.assertEqual(installed.read_bytes(), harness.LAUNCHER_EXE.read_bytes())

            site.publish("1.0", launcher=self.new_build)
            r = self.run_installed("pelko://join/abcd", "--safe")
            self.assertExit(r)
            self.assertLogged(r, "self-update: a newer updater is available -> fetching",
                              "self-update: swapped in the new updater; it finished the update.")
            self.assertEqual(installed.read_bytes(), self.new_build.read_bytes())
            # The replaced build was running, so it could not be removed yet.
            self.assertEqual((p.home / "Pelko-Setup.old.exe").read_bytes(), harness.LAUNCHER_EXE.read_bytes())
            self.assertFalse((p.home / "Pelko-Setup.new.exe").exists())
            # The new build finished the run with the invite, not the other arguments.
            self.assertEqual(p.game_report().argv[-1], "--room=ABCD")
            self.assertFalse((p.game_dir("1.0") / "softrender.txt").exists())

            again = self.run_installed()
            self.assertExit(again)
            self.assertFalse(any(l.startswith("self-update:") for l in again.lines), again.lines)
            self.assertFalse((p.home / "Pelko-Setup.old.exe").exists())

    def test_the_new_builds_exit_code_ends_the_run(self):
        p = self.player
        with Site(p) as site:
            # Nothing can be installed (a digest that never matches), so the
            # new build ends its run with the error and exit code 1.
            manifest = site.publish("1.0", launcher=self.new_build)
            manifest["windows"]["sha256"] = "0" * 64
            site.write_manifest(manifest)
            p.run(env={"VELA_ONETAP_TEST": win_path(p.root / "x.txt")})  # install the launcher only
            r = self.run_installed()
        self.assertExit(r, 1)
        self.assertLogged(r, "!! self-update: the new updater exited with 1 -- the app may not have been updated.")
        self.assertGreaterEqual(r.elapsed, 8.0)
