"""An installed client starts: the command line, environment and log files the
game receives, the invite's room, install-only mode and the first-run error."""

from scenario import PlayerTest, read_text, win_path

GAME_SERVER = "127.0.0.1"


class InstalledClient(PlayerTest):
    def setUp(self):
        super().setUp()
        self.game = self.player.install("1.0")

    def test_the_game_gets_its_command_line_environment_and_log(self):
        p = self.player
        r = p.run()
        self.assertExit(r)
        self.assertGreaterEqual(r.elapsed, 7.0)
        g = win_path(self.game)
        expected = f'"{g}\\Pelko.exe" "{g}\\patched.nds" "{g}" 0 {GAME_SERVER} 6100'
        self.assertLogged(r, f"launch: {expected}", "one-tap: no room code -- this launch will host a fresh room")
        report = p.game_report()
        self.assertEqual(report.cmdline, expected)
        self.assertEqual(report.argv[1:], [f"{g}\\patched.nds", g, "0", GAME_SERVER, "6100"])
        self.assertEqual(report.env, {"VELA_NOOPEN": "1", "VELA_STREAM": "8199", "PELKO_VIA_UPDATER": "1",
                                      "VELA_NATIVE": "1"})
        # The game inherits the launcher's current folder, not its own.
        self.assertEqual(report.cwd.lower(), win_path(p.root).lower())
        self.assertFalse((p.home / "game.1.log").exists())

    def test_web_mode_leaves_out_vela_native(self):
        self.assertExit(self.player.run(env={"PELKO_WEB": ""}))
        self.assertEqual(self.player.game_report().env["VELA_NATIVE"], "<unset>")

    def test_a_second_start_rotates_the_game_logs(self):
        p = self.player
        self.assertExit(p.run("1"))
        first = read_text(p.home / "game.log")
        self.assertExit(p.run("2"))
        self.assertEqual(read_text(p.home / "game.1.log"), first)
        self.assertEqual(read_text(p.home / "game.prev.log"), first)
        self.assertIn(" 2 127.0.0.1 6100", p.game_report().cmdline)
        self.assertIn(" 1 127.0.0.1 6100", first)

    def test_safe_writes_softrender_txt(self):
        r = self.player.run("3", "--safe")
        self.assertExit(r)
        self.assertEqual((self.game / "softrender.txt").read_bytes(), b"1\n")
        self.assertLogged(r, f"safe video: wrote {win_path(self.game / 'softrender.txt')} -- the game will use the "
                             "software renderer")
        self.assertTrue(self.player.game_report().cmdline.endswith(f" 3 {GAME_SERVER} 6100"))

    def test_an_invite_link_argument_joins_its_room(self):
        r = self.player.run("--url", "pelko://join/wxyz")
        self.assertExit(r)
        self.assertLogged(r, "one-tap: joining room WXYZ (source: a clicked pelko:// invite link)")
        report = self.player.game_report()
        self.assertTrue(report.cmdline.endswith(f" 0 {GAME_SERVER} 6100 --room=WXYZ"), report.cmdline)
        self.assertEqual(report.argv[-1], "--room=WXYZ")

    def test_an_invite_file_name_joins_its_room(self):
        self.player.rename_launcher("Pelko-Setup-AB12.exe")
        r = self.player.run()
        self.assertExit(r)
        self.assertTrue(any(l.startswith("one-tap: joining room AB12 (source: the name of the installer file")
                            for l in r.lines), r.lines)
        self.assertEqual(self.player.game_report().argv[-1], "--room=AB12")

    def test_install_only_ends_with_0_before_the_game(self):
        r = self.player.run(env={"VELA_INSTALL_ONLY": ""})
        self.assertExit(r)
        self.assertLogged(r, f"install-only: done (rom prepared at {win_path(self.game)}\\patched.nds).")
        self.assertLess(r.elapsed, 6.0)
        self.assertFalse((self.player.home / "game.log").exists())


class EmptyHome(PlayerTest):
    def test_nothing_installed_ends_with_exit_1_after_the_wait(self):
        r = self.player.run()
        self.assertExit(r, 1)
        self.assertGreaterEqual(r.elapsed, 8.0)
        self.assertFalse((self.player.home / "game.log").exists())
