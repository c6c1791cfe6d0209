"""The ROM step of the real executable: the player's dump patched into the
playable ROM, the file dialog, and an invite that needs no ROM."""

import hashlib
import unittest

import harness
from scenario import Player, synthetic_dump, win_path

EXPECTED_ROM_SHA256 = (harness.ROOT / "assets" / "patched_rom.sha256").read_text().split()[0]
DIALOG_TITLE = "Select your Starlit Fair DS ROM (.nds)"


def focus_dialog(window):
    """The splash window, shown by its own thread, can come up after the dialog
    and take the keyboard; once it is up, the dialog gets the keyboard back."""
    harness.SESSION.wait_for_window("Pelko", timeout=10)
    return harness.SESSION.focus_by_caption(window)


def sha256_of(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


class RomFromEnvironment(unittest.TestCase):
    def setUp(self):
        self.player = Player(harness.SESSION, self.id().rsplit(".", 1)[-1])

    def test_the_players_dump_becomes_the_playable_rom_and_the_game_starts(self):
        p = self.player
        game = p.install("1.0", rom=None)
        dump = synthetic_dump(p.root / "my dump.nds")
        r = p.run(env={"VELA_ROM": win_path(dump)}, timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual(sha256_of(game / "patched.nds"), EXPECTED_ROM_SHA256)
        self.assertEqual(p.game_report().argv[1], win_path(game / "patched.nds"))

    def test_an_invite_without_a_rom_starts_the_game_with_the_missing_path(self):
        p = self.player
        game = p.install("1.0", rom=None)
        r = p.run("pelko://join/host1", env={"VELA_ROM": win_path(p.root / "never-read.nds")})
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("[rom] joining room HOST1 with no local ROM -> the app will fetch it from the host",
                      r.stderr.replace("\r\n", "\n"))
        self.assertFalse((game / "patched.nds").exists())
        report = p.game_report()
        self.assertEqual(report.argv[1], win_path(game / "patched.nds"))
        self.assertEqual(report.argv[-1], "--room=HOST1")


class RomFromDialog(unittest.TestCase):
    # The dialog is driven with the keyboard: one window at a time.
    serial = True

    def setUp(self):
        self.player = Player(harness.SESSION, self.id().rsplit(".", 1)[-1])

    def test_the_dump_picked_in_the_dialog_is_patched(self):
        p = self.player
        game = p.install("1.0", rom=None)
        dump = synthetic_dump(p.root / "picked.nds")
        running = p.start()
        window = harness.SESSION.wait_for_window(DIALOG_TITLE)
        self.assertIsNotNone(window, "the file dialog did not appear")
        self.assertTrue(focus_dialog(window), "the file dialog did not get the keyboard")
        harness.SESSION.xdotool("type", "--delay", "20", win_path(dump))
        harness.SESSION.xdotool("key", "Return")
        r = running.finish(timeout=120)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual(sha256_of(game / "patched.nds"), EXPECTED_ROM_SHA256)

    def test_closing_the_dialog_ends_the_run_after_the_wait(self):
        p = self.player
        p.install("1.0", rom=None)
        running = p.start()
        window = harness.SESSION.wait_for_window(DIALOG_TITLE)
        self.assertIsNotNone(window, "the file dialog did not appear")
        self.assertTrue(focus_dialog(window), "the file dialog did not get the keyboard")
        harness.SESSION.xdotool("key", "Escape")
        r = running.finish(timeout=60)
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertGreaterEqual(r.elapsed, 9.0)
        self.assertFalse((p.home / "game.log").exists())


if __name__ == "__main__":
    unittest.main()
