"""What a Pelko test sets up around the launcher: a download folder with the
launcher in it, a home directory, an installed client (the stub game in place
of the real one), an update site, and the environment every run gets."""

import functools
import http.server
import json
import shutil
import subprocess
import sys
import threading
import unittest
from dataclasses import dataclass, field
from pathlib import Path

import harness
from harness import LAUNCHER_EXE, ROOT, STUB_GAME_EXE, closed_port, win_path

ROM_STANDIN = ROOT / "build" / "native" / "tools" / "rom_standin"

sys.path.insert(0, str(ROOT / "tools"))
import release  # noqa: E402

# 512 bytes that pass the launcher's "usable DS ROM" test, so no run ever waits
# on the ROM dialog.
USABLE_ROM = bytes(0x15C) + b"\x56\xCF" + bytes(512 - 0x15E)


def read_text(path):
    """A text file the launcher or the game wrote in text mode, with LF line ends."""
    return Path(path).read_bytes().decode("utf-8", "replace").replace("\r\n", "\n")


@dataclass
class GameReport:
    """What the stub game recorded in game.log."""
    cmdline: str = ""
    argv: list = field(default_factory=list)
    cwd: str = ""
    env: dict = field(default_factory=dict)

    @classmethod
    def parse(cls, text):
        report = cls()
        for line in text.split("\n"):
            key, _, value = line.partition("=")
            if key in ("cmdline", "cwd"):
                setattr(report, key, value)
            elif key.startswith("argv["):
                report.argv.append(value)
            elif key.startswith("env "):
                report.env[key[4:]] = value
        return report


class Player:
    """One player's machine inside a test: a download folder and a home."""

    def __init__(self, session, name):
        self.session = session
        self.root = session.scratch(name)
        self.downloads = self.root / "Downloads"
        self.home = self.root / "home"
        self.downloads.mkdir()
        self.launcher = self.downloads / "Pelko-Setup.exe"
        shutil.copy2(LAUNCHER_EXE, self.launcher)
        self.update_base = f"http://127.0.0.1:{closed_port()}/releases"

    def rename_launcher(self, name):
        self.launcher = self.launcher.rename(self.downloads / name)
        return self.launcher

    def game_dir(self, version):
        return self.home / f"app.{version}" / "kestrel-core"

    def install(self, version, rom=USABLE_ROM):
        """An installed client of `version`, named by the records as the current one."""
        game = self.game_dir(version)
        game.mkdir(parents=True, exist_ok=True)
        shutil.copy2(STUB_GAME_EXE, game / "Pelko.exe")
        (game / "version.txt").write_bytes(f"{version}\r\n".encode())
        if rom is not None:
            (game / "patched.nds").write_bytes(rom)
        (self.home / "version.txt").write_bytes(f"{version}\r\n".encode())
        (self.home / "current.txt").write_bytes(win_path(game).encode())
        return game

    def usable_rom(self):
        """VELA_ROM naming a usable dump, so that no run can wait on the file dialog."""
        rom = self.root / "dump.nds"
        rom.write_bytes(USABLE_ROM)
        return {"VELA_ROM": win_path(rom)}

    def env(self, **extra):
        env = {"PELKO_UPDATE_BASE": self.update_base, "VELA_HOME": win_path(self.home), **extra}
        return {k: v for k, v in env.items() if v is not None}

    def start(self, *args, env=None, display=True):
        return self.session.launch(self.launcher, args, self.env(**(env or {})), self.root, display)

    def run(self, *args, timeout=60, **start):
        return self.start(*args, **start).finish(timeout)

    def game_report(self):
        return GameReport.parse(read_text(self.home / "game.log"))


class PlayerTest(unittest.TestCase):
    """A test with a player of its own, named after the test."""

    def setUp(self):
        self.session = harness.SESSION
        self.player = Player(self.session, self.id().rsplit(".", 1)[-1])

    def assertExit(self, result, code=0):
        self.assertEqual(result.returncode, code, result.stdout)

    def assertLogged(self, result, *lines):
        for line in lines:
            self.assertIn(line, result.lines)


class Site:
    """An update site for one test, built with the release tool and served over
    plain HTTP on 127.0.0.1 by a thread of the harness."""

    def __init__(self, player):
        self.player, self.root = player, player.root / "site"
        self.releases = self.root / "releases"
        self.releases.mkdir(parents=True, exist_ok=True)
        self.requests = []
        site = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def do_GET(self):
                site.requests.append(self.path)
                super().do_GET()

            def log_message(self, *args):
                pass

        handler = functools.partial(Handler, directory=str(self.root))
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.base = f"http://127.0.0.1:{self.server.server_address[1]}/releases"

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.player.update_base = self.base
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()

    def publish(self, version, flat=False, launcher=None):
        """A release of the stand-in game (in a game folder unless flat)."""
        folder = self.player.root / f"client-{version}"
        game = folder if flat else folder / "kestrel-core"
        game.mkdir(parents=True, exist_ok=True)
        shutil.copy2(STUB_GAME_EXE, game / "Pelko.exe")
        return release.build_site(folder, version, self.base, self.releases, launcher=launcher)

    def write_manifest(self, manifest):
        (self.releases / "manifest.json").write_text(json.dumps(manifest), encoding="utf-8")


def synthetic_dump(path):
    """Writes the synthetic supported dump (the stand-in for a player's cartridge) to path."""
    subprocess.run([str(ROM_STANDIN), "dump", str(path)], check=True, timeout=120)
    return path
