"""The ROM step of the real executable: the player's dump patched into the
playable ROM, the file dialog, and an invite that needs no ROM."""

import hashlib

import harness
from scenario import PlayerTest, synthetic_dump, win_path

EXPECTED_ROM_SHA256 = (harness.ROOT / "assets" / "patched_rom.sha256").read_text().split()[0]
DIALOG_TITLE = "Select your Starlit Fair DS ROM (.nds)"


class RomStep(PlayerTest):
    def setUp(self):
        super().setUp()
        self.game = self.player.install("1.0", rom=None)

    def assertPatched(self):
        self.assertEqual(hashlib.sha256((self.game / "patched.nds").read_bytes()).hexdigest(), EXPECTED_ROM_SHA256)


class RomFromEnvironment(RomStep):
    def test_the_players_dump_becomes_the_playable_rom_and_the_game_starts(self):
        dump = synthetic_dump(self.player.root / "my dump.nds")
        self.assertExit(self.player.run(env={"VELA_ROM": win_path(dump)}, timeout=120))
        self.assertPatched()
        self.assertEqual(self.player.game_report().argv[1], win_path(self.game / "patched.nds"))

    def test_an_invite_without_a_rom_starts_the_game_with_the_missing_path(self):
        p = self.player
        r = p.run("pelko://join/host1", env={"VELA_ROM": win_path(p.root / "never-read.nds")})
        self.assertExit(r)
        self.assertIn("[rom] joining room HOST1 with no local ROM -> the app will fetch it from the host",
                      r.stderr.replace("\r\n", "\n"))
        self.assertFalse((self.game / "patched.nds").exists())
        report = p.game_report()
        self.assertEqual(report.argv[1], win_path(self.game / "patched.nds"))
        self.assertEqual(report.argv[-1], "--room=HOST1")


class RomFromDialog(RomStep):
    # The dialog is driven with the keyboard: one window at a time.
    serial = True

    def start_with_the_dialog(self):
        """Starts the launcher and gives its file dialog the keyboard. The
        splash window, shown by its own thread, can come up after the dialog
        and take the keyboard; once it is up, the dialog gets it back."""
        running = self.player.start()
        window = self.session.wait_for_window(DIALOG_TITLE)
        self.assertIsNotNone(window, "the file dialog did not appear")
        self.session.wait_for_window("Pelko", timeout=10)
        self.assertTrue(self.session.focus_by_caption(window), "the file dialog did not get the keyboard")
        return running

    def test_the_dump_picked_in_the_dialog_is_patched(self):
        dump = synthetic_dump(self.player.root / "picked.nds")
        running = self.start_with_the_dialog()
        self.session.xdotool("type", "--delay", "20", win_path(dump))
        self.session.xdotool("key", "Return")
        self.assertExit(running.finish(timeout=120))
        self.assertPatched()

    def test_closing_the_dialog_ends_the_run_after_the_wait(self):
        running = self.start_with_the_dialog()
        self.session.xdotool("key", "Escape")
        r = running.finish(timeout=60)
        self.assertExit(r, 1)
        self.assertGreaterEqual(r.elapsed, 9.0)
        self.assertFalse((self.player.home / "game.log").exists())
