"""A launcher build published on the update site replaces the installed one and
finishes the run."""

import json
import unittest

import harness
from scenario import USABLE_ROM, Player, Site, read_text, win_path


class SelfUpdate(unittest.TestCase):
    def setUp(self):
        self.player = Player(harness.SESSION, self.id().rsplit(".", 1)[-1])
        self.rom = self.player.root / "dump.nds"
        self.rom.write_bytes(USABLE_ROM)
        # A different build: the same program with bytes appended, so its
        # digest differs and it still runs.
        self.new_build = self.player.root / "new-build.exe"
        self.new_build.write_bytes(harness.LAUNCHER_EXE.read_bytes() + b"\0build 2\0")

    def run_installed(self, *args):
        p = self.player
        return harness.SESSION.run(p.home / "Pelko-Setup.exe", args, env=p.env(VELA_ROM=win_path(self.rom)),
                                   cwd=p.root, timeout=120)

    def test_the_new_build_takes_over_the_run_and_the_next_run_removes_the_old_one(self):
        p = self.player
        with Site(p) as site:
            site.publish("1.0")
            first = p.run(env={"VELA_ROM": win_path(self.rom)})
            self.assertEqual(first.returncode, 0, first.stdout)
            installed = p.home / "Pelko-Setup.exe"
            self.assertEqual(installed.read_bytes(), harness.LAUNCHER_EXE.read_bytes())

            site.publish("1.0", launcher=self.new_build)
            r = self.run_installed("pelko://join/abcd", "--safe")
            self.assertEqual(r.returncode, 0, r.stdout)
            self.assertTrue(r.logged("self-update: a newer updater is available -> fetching"), r.lines)
            self.assertTrue(r.logged("self-update: swapped in the new updater; it finished the update."), r.lines)
            self.assertEqual(installed.read_bytes(), self.new_build.read_bytes())
            # The replaced build was running, so it could not be removed yet.
            self.assertEqual((p.home / "Pelko-Setup.old.exe").read_bytes(), harness.LAUNCHER_EXE.read_bytes())
            self.assertFalse((p.home / "Pelko-Setup.new.exe").exists())
            # The new build finished the run with the invite, not the other arguments.
            report = p.game_report()
            self.assertEqual(report.argv[-1], "--room=ABCD")
            self.assertFalse((p.game_dir("1.0") / "softrender.txt").exists())

            again = self.run_installed()
            self.assertEqual(again.returncode, 0)
            self.assertFalse(any(l.startswith("self-update:") for l in again.lines), again.lines)
            self.assertFalse((p.home / "Pelko-Setup.old.exe").exists())

    def test_the_new_builds_exit_code_ends_the_run(self):
        p = self.player
        with Site(p) as site:
            # Nothing can be installed (a digest that never matches), so the
            # new build ends its run with the error and exit code 1.
            manifest = site.publish("1.0", launcher=self.new_build)
            manifest["windows"]["sha256"] = "0" * 64
            site.write_manifest(json.dumps(manifest))
            p.run(env={"VELA_ONETAP_TEST": win_path(p.root / "x.txt")})  # install the launcher only
            r = self.run_installed()
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertTrue(r.logged("!! self-update: the new updater exited with 1 -- the app may not have been updated."),
                        r.lines)
        self.assertGreaterEqual(r.elapsed, 8.0)


if __name__ == "__main__":
    unittest.main()
