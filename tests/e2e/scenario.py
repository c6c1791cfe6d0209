"""What a Pelko test sets up around the launcher: a download folder with the
launcher in it, a home directory, an installed client (the stub game in place
of the real one) and the environment every run gets."""

import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path

import sys

from harness import LAUNCHER_EXE, ROOT, STUB_GAME_EXE, UpdateSite, closed_port, win_path

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
    cmdline: str
    argv: list
    cwd: str
    env: dict

    @classmethod
    def parse(cls, text):
        cmdline, cwd, argv, env = "", "", [], {}
        for line in text.replace("\r\n", "\n").split("\n"):
            if line.startswith("cmdline="):
                cmdline = line[len("cmdline="):]
            elif line.startswith("argv["):
                argv.append(line.split("=", 1)[1])
            elif line.startswith("cwd="):
                cwd = line[len("cwd="):]
            elif line.startswith("env "):
                name, value = line[4:].split("=", 1)
                env[name] = value
        return cls(cmdline, argv, cwd, env)


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
        target = self.downloads / name
        self.launcher.rename(target)
        self.launcher = target
        return target

    def game_dir(self, version):
        return self.home / f"app.{version}" / "kestrel-core"

    def install(self, version, rom=USABLE_ROM, current=True):
        """An installed client of `version`, named by the records when current."""
        game = self.game_dir(version)
        game.mkdir(parents=True, exist_ok=True)
        shutil.copy2(STUB_GAME_EXE, game / "Pelko.exe")
        (game / "version.txt").write_bytes(f"{version}\r\n".encode())
        if rom is not None:
            (game / "patched.nds").write_bytes(rom)
        if current:
            (self.home / "version.txt").write_bytes(f"{version}\r\n".encode())
            (self.home / "current.txt").write_bytes(win_path(game).encode())
        return game

    def env(self, **extra):
        env = {"PELKO_UPDATE_BASE": self.update_base, "VELA_HOME": win_path(self.home)}
        env.update(extra)
        return {k: v for k, v in env.items() if v is not None}

    def run(self, *args, env=None, timeout=60, display=True, cwd=None):
        return self.start(*args, env=env, display=display, cwd=cwd).finish(timeout)

    def start(self, *args, env=None, display=True, cwd=None):
        return self.session.launch(self.launcher, args, env=self.env(**(env or {})), display=display,
                                  cwd=cwd or self.root)

    def game_report(self):
        return GameReport.parse(read_text(self.home / "game.log"))


class Site:
    """An update site on 127.0.0.1 for one test, built with the release tool."""

    def __init__(self, player):
        self.root = player.root / "site"
        self.releases = self.root / "releases"
        self.releases.mkdir(parents=True, exist_ok=True)
        self.server = UpdateSite(self.root)
        self.player = player

    def __enter__(self):
        self.server.__enter__()
        self.player.update_base = self.base
        return self

    def __exit__(self, *exc):
        self.server.__exit__(*exc)

    @property
    def base(self):
        return f"{self.server.base}/releases"

    @property
    def requests(self):
        return self.server.requests

    def publish(self, version, flat=False, extra=None, launcher=None):
        """A release of the stand-in game; extra maps relative paths to bytes."""
        folder = self.player.root / f"client-{version}"
        game = folder if flat else folder / "kestrel-core"
        game.mkdir(parents=True, exist_ok=True)
        shutil.copy2(STUB_GAME_EXE, game / "Pelko.exe")
        for rel, data in (extra or {}).items():
            (folder / rel).parent.mkdir(parents=True, exist_ok=True)
            (folder / rel).write_bytes(data)
        return release.build_site(folder, version, self.base, self.releases, launcher=launcher)

    def write_manifest(self, text):
        (self.releases / "manifest.json").write_text(text, encoding="utf-8")


def synthetic_dump(path):
    """Writes the synthetic supported dump (the stand-in for a player's cartridge) to path."""
    subprocess.run([str(ROM_STANDIN), "dump", str(path)], check=True, timeout=120)
    return path
