"""Installs and updates through WinHTTP, records in the C runtime's text mode, what the game gets from
CreateProcessA, the hand-over to a new build, an invite installer, the URL scheme and a click on a link."""

import hashlib
import re
import subprocess
import unittest
from concurrent.futures import ThreadPoolExecutor

import harness
from harness import LAUNCHER_EXE, ROOT, WINDOWS_BUILD, Player, PlayerTest, Site, helper, win_path

UPDATE_HOST = re.search(r"PELKO_UPDATE_HOST:STRING=(.*)", (WINDOWS_BUILD / "CMakeCache.txt").read_text())[1]


class Install(PlayerTest):
    def test_a_release_from_the_site_starts_with_its_records_command_line_log_environment_and_folder(self):
        p = self.player
        site = Site(self)
        site.publish("1.0")
        self.assertExit(p.run("2", "pelko://join/wxyz", "--safe"))
        agent = f"Pelko/1.0 (+https://{UPDATE_HOST})"
        self.assertEqual(site.requests, [(f"/releases/{n}", agent) for n in ("manifest.json", "pelko-1.0-windows.zip")])
        game = p.home / "app.1.0" / "kestrel-core"
        for record in (p.home / "version.txt", game / "version.txt"):
            self.assertEqual(record.read_bytes(), b"1.0\r\n")  # text mode; softrender.txt is binary
        self.assertEqual((game / "softrender.txt").read_bytes(), b"1\n")
        g, report = win_path(game), p.game_report()
        argv = [f"{g}\\Pelko.exe", f"{g}\\patched.nds", g, "2", "127.0.0.1", "6100", "--room=WXYZ"]
        # The game inherits the launcher's current folder (not its own), and game.log for both its streams.
        self.assertEqual([report[k] for k in ("cmdline", "argv", "env", "std_handles")], [
            '"{}" "{}" "{}" 2 127.0.0.1 6100 --room=WXYZ'.format(*argv), argv,
            {"VELA_NOOPEN": "1", "VELA_STREAM": "8199", "PELKO_VIA_UPDATER": "1", "VELA_NATIVE": "1"}, "shared"])
        self.assertEqual(report["cwd"].lower(), win_path(p.root).lower())

        # The player's files (binary too) follow the update, a dump becomes the ROM, and no display is needed.
        files = {"keymap.txt": b"A=X\r\n", "savestate.vela": bytes(range(256)) * 4}
        subprocess.run([ROOT / "build/native/tools/rom_standin", "dump", p.root / "dump"], check=True, timeout=60)
        for name, data in files.items():
            (game / name).write_bytes(data)
        first_log = (p.home / "game.log").read_bytes()
        site.publish("1.1")
        r = p.run(env={"VELA_ROM": win_path(p.root / "dump"), "DISPLAY": None}, timeout=120)
        self.assertExit(r)
        self.assertLess(r.elapsed, 15.0)
        self.assertEqual((p.home / "version.txt").read_bytes(), b"1.1\r\n")
        for name, data in files.items():
            self.assertEqual((p.home / "app.1.1" / "kestrel-core" / name).read_bytes(), data, name)
        self.assertEqual([(p.home / n).read_bytes() for n in ("game.1.log", "game.prev.log")], [first_log] * 2)
        self.assertEqual(hashlib.sha256((p.home / "app.1.1" / "kestrel-core" / "patched.nds").read_bytes()).hexdigest(),
                         (ROOT / "assets" / "patched_rom.sha256").read_text().split()[0])


class SelfUpdate(PlayerTest):
    def test_the_running_launcher_is_renamed_and_the_new_builds_exit_code_ends_the_run(self):
        p = self.player
        (new_build := p.root / "new-build.exe").write_bytes(LAUNCHER_EXE.read_bytes() + b"\0build 2\0")  # new digest
        installed = p.home / "Pelko-Setup.exe"
        self.assertExit(p.run(env={"VELA_ONETAP_TEST": win_path(p.root / "x.txt")}))  # installs the launcher
        # The new build cannot install the bundle, whose digest never matches: it ends with exit code 1.
        site = Site(self)
        site.publish("1.0", launcher=new_build)
        (site.releases / "pelko-1.0-windows.zip").write_bytes(b"not the bundle the manifest names")
        r = p.run(exe=installed, timeout=120)
        self.assertExit(r, 1)
        self.assertGreaterEqual(r.elapsed, 8.0)
        self.assertIn("!! self-update: the new updater exited with 1 -- the app may not have been updated.", r.lines)
        self.assertEqual([path for path, _ in site.requests], [f"/releases/{name}" for name in (
            "manifest.json", "Pelko-Setup.exe", "manifest.json", "pelko-1.0-windows.zip")])  # the new build's too
        self.assertEqual(installed.read_bytes(), new_build.read_bytes())
        # The old build was running while the new one tried to remove it.
        self.assertEqual((p.home / "Pelko-Setup.old.exe").read_bytes(), LAUNCHER_EXE.read_bytes())


class InviteInstaller(PlayerTest):
    # Every run registers the scheme in the prefix's one registry: this test reads it after the others.
    serial = True

    def test_the_file_name_invites_and_the_registered_command_starts_the_installed_launcher(self):
        p = self.player
        local = next((harness.SESSION.prefix / "drive_c" / "users").glob("*/AppData/Local"))
        p.home = local / "Pelko"  # the home without VELA_HOME, where SHGetFolderPathA puts it
        installed = f"C:\\users\\{local.parent.parent.name}\\AppData\\Local\\Pelko\\Pelko-Setup.exe"
        game = p.install("1.0")
        p.launcher = p.launcher.rename(p.downloads / "Pelko-Setup-AB12.exe")
        (p.downloads / "Pelko-Setup.exe").write_bytes(b"an older download")
        self.assertExit(p.run(env={"VELA_HOME": "", "VELA_ONETAP_TEST": win_path(p.root / "onetap.txt")}))
        self.assertEqual((p.root / "onetap.txt").read_bytes(), b"roomcode=AB12 from_filename=1\r\n")
        self.assertEqual(sorted(f.name for f in p.downloads.iterdir()), ["Pelko-Setup.exe"])
        for copy in (p.downloads / "Pelko-Setup.exe", p.home / "Pelko-Setup.exe"):
            self.assertEqual(copy.read_bytes(), LAUNCHER_EXE.read_bytes())
        self.assertEqual((p.home / "updater.txt").read_bytes(), installed.encode())

        # Stored as REG_SZ (1), each with its terminating NUL.
        command = f'"{installed}" --url "%1"'
        values = [("", "", "URL:Pelko"), ("", "URL Protocol", ""), ("\\shell\\open\\command", "", command)]
        self.assertEqual(sorted(helper("regdump", r"Software\Classes\pelko")["value"]),
                         sorted(f"{key}|{name}|1|{(data.encode() + bytes(1)).hex()}" for key, name, data in values))

        # The shell replaces %1 with the link and starts the line as it is.
        (p.root / "click.txt").write_bytes(command.replace("%1", "pelko://join/wxyz").encode())
        click = helper("run-file", win_path(p.root / "click.txt"), env=p.env(VELA_HOME=""), cwd=p.root)
        self.assertEqual(click["exit"], "0")
        self.assertEqual(p.game_report()["argv"], [win_path(game / n) for n in ("Pelko.exe", "patched.nds")] +
                         [win_path(game), "0", "127.0.0.1", "6100", "--room=WXYZ"])


class QuickExits(unittest.TestCase):
    def test_runs_that_end_while_the_splash_window_is_being_created_exit_with_their_code(self):
        # One-tap runs end while the splash thread creates its window: an exit then could hang under Wine.
        players = [Player(f"quick {i}") for i in range(12)]
        with ThreadPoolExecutor(4) as pool:
            runs = pool.map(lambda p: p.run(env={"VELA_ONETAP_TEST": win_path(p.root / "r.txt")}, timeout=30), players)
            self.assertEqual([(r.returncode, (p.root / "r.txt").exists()) for r, p in zip(runs, players)],
                             [(0, True)] * 12)
