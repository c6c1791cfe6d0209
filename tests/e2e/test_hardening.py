"""What only the real executable shows of its hardening: DLLs a web page dropped beside it, a home on a full
disk, and homes whose names lie outside the ANSI code page."""

import os
import random
import shutil
import subprocess
import tempfile
from pathlib import Path

import harness
from harness import ROOT, WINDOWS_BUILD, PlayerTest, Site, win_path

PLANTED = ("uxtheme.dll", "winhttp.dll")
SMALL_DISK = ROOT / "build" / "e2e" / "small-disk"  # 8 MiB of tmpfs, mounted by scripts/test.sh
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"


class PlantedDlls(PlayerTest):
    def test_dlls_beside_the_launcher_are_never_loaded_where_an_unguarded_program_loads_them(self):
        p = self.player
        for dll in PLANTED:
            shutil.copy2(WINDOWS_BUILD / "tests" / "win" / dll, p.downloads)
        p.launcher = p.launcher.rename(p.downloads / "Pelko-Setup-AB12.exe")
        planted_first = {"WINEDLLOVERRIDES": harness.SESSION.env()["WINEDLLOVERRIDES"] + ";winhttp,uxtheme=n,b"}
        Site(self).publish("1.0")
        self.assertExit(p.run(env=planted_first))  # a first install, its splash on the display
        self.assertEqual(p.game_report()["argv"][-1], "--room=AB12")
        loaded = lambda: sorted(f.name.lower() for f in p.downloads.glob("*.loaded"))  # noqa: E731
        self.assertEqual(loaded(), [])
        control = shutil.copy2(WINDOWS_BUILD / "tests" / "win" / "pelko_unguarded.exe", p.downloads)
        self.assertEqual(harness.SESSION.launch(control, env=planted_first, cwd=p.downloads).finish().returncode, 0)
        self.assertEqual(loaded(), [f"{dll}.loaded" for dll in PLANTED])


class FullDisk(PlayerTest):
    def test_a_bundle_and_a_rom_too_large_for_the_disk_leave_the_installed_version_whole(self):
        self.assertTrue(os.path.ismount(SMALL_DISK), f"{SMALL_DISK} is not a disk of its own: run scripts/test.sh")
        p = self.player
        p.home = Path(tempfile.mkdtemp(dir=SMALL_DISK)) / "home"
        self.addCleanup(shutil.rmtree, p.home.parent, True)
        game = p.install("1.0", rom=None)
        Site(self).publish("1.1", files={"data.bin": random.Random(1).randbytes(12 << 20)})
        subprocess.run([ROOT / "build" / "native" / "tools" / "rom_standin", "dump", p.root / "dump"], check=True)
        r = p.run(env={"VELA_ROM": win_path(p.root / "dump")}, timeout=120)
        self.assertExit(r, 1)  # the ROM's disk error, after its wait
        self.assertGreaterEqual(r.elapsed, 10.0)
        self.assertIn("  (extract failed)", r.lines)
        self.assertEqual((p.home / "version.txt").read_bytes(), b"1.0\r\n")
        self.assertEqual(sorted(f.name for f in game.iterdir()), ["Pelko.exe"])  # no patched.nds, whole or part


class HomeTest(PlayerTest):
    def first_install(self, **env):
        """A first install from the site into the player's home, which starts the game from there."""
        p = self.player
        Site(self).publish("1.0")
        self.assertExit(p.run("pelko://join/ab12", env=env))
        game = p.home / "app.1.0" / "kestrel-core"
        self.assertEqual((p.home / "current.txt").read_bytes(), win_path(game).encode())
        self.assertEqual(p.game_report()["argv"][:3], [win_path(game / "Pelko.exe"), win_path(game / "patched.nds"),
                                                      win_path(game)])


class HomesOutsideTheCodePage(HomeTest):
    def test_a_chinese_home_installs_and_starts_the_game(self):
        self.player.home = self.player.root / "玩家" / "home"
        self.first_install()

    def test_records_an_earlier_build_wrote_in_windows_1252_still_name_the_game(self):
        p = self.player
        p.home = p.root / "José" / "home"
        p.install("2.0")  # what a run that cannot read the record falls back to
        game = p.install("1.0")
        (p.home / "current.txt").write_bytes(win_path(game).encode("cp1252"))
        self.assertExit(p.run())
        self.assertEqual(p.game_report()["argv"][0], win_path(game / "Pelko.exe"))


class CyrillicShellFolder(HomeTest):
    # Runs without VELA_HOME read the prefix's one shell folder: this test changes it while no other runs.
    serial = True

    def test_a_cyrillic_local_application_data_folder_installs_and_starts_the_game(self):
        (local := self.player.root / "Пётр" / "AppData" / "Local").mkdir(parents=True)
        reg = lambda *args: subprocess.run(["wine", "reg", *args, "/f"], env=harness.SESSION.env(),  # noqa: E731
                                           capture_output=True, check=True, timeout=60)
        reg("add", SHELL_FOLDERS, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d", win_path(local))
        self.addCleanup(reg, "add", SHELL_FOLDERS, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d",
                        r"%USERPROFILE%\AppData\Local")
        self.player.home = local / "Pelko"
        self.first_install(VELA_HOME="")
