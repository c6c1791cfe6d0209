"""The real Pelko-Setup.exe under Wine on a virtual display, for players with a
download folder and a home, and update sites on 127.0.0.1 (and nothing else)."""

import contextlib
import functools
import http.server
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path
from types import SimpleNamespace

ROOT = Path(__file__).resolve().parents[2]
WINDOWS_BUILD = ROOT / "build" / "windows"
LAUNCHER_EXE = WINDOWS_BUILD / "Pelko-Setup.exe"
STUB_GAME_EXE = WINDOWS_BUILD / "tools" / "stub_game.exe"
HELPER_EXE = WINDOWS_BUILD / "tests" / "win" / "pelko_test_helper.exe"
BASE_PREFIX = ROOT / "build" / "e2e" / "prefix-base"
USABLE_ROM = bytes(0x15C) + b"\x56\xCF" + bytes(512 - 0x15E)  # passes the "usable DS ROM" test
SESSION = None  # the runner's

sys.path.insert(0, str(ROOT / "tools"))
import release  # noqa: E402


def win_path(path):
    """A Linux path as Windows programs under Wine see it (drive Z:)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def poll(check, seconds, interval=0.05, alive=lambda: True):
    """check()'s first true value within `seconds` while alive(); None without one."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and alive():
        if found := check():
            return found
        time.sleep(interval)
    return None


def quiet(cmd, env, timeout=300):
    subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=timeout, check=False)


class Running(subprocess.Popen):
    """A started Windows program; its output goes to a file, never a pipe."""

    def __init__(self, cmd, env, cwd, folder):
        self.folder, self.started = folder, time.monotonic()
        with open(folder / "out", "wb") as out, open(folder / "err", "wb") as err:
            super().__init__(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                             start_new_session=True)

    def running(self):
        return self.poll() is None

    def finish(self, timeout=60):
        try:
            rc = self.wait(timeout=max(0.0, timeout - (time.monotonic() - self.started)))
        except subprocess.TimeoutExpired:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.pid, signal.SIGKILL)
            rc = self.wait()
        out, err = ((self.folder / name).read_bytes().decode("utf-8", "replace") for name in ("out", "err"))
        return SimpleNamespace(returncode=rc, elapsed=time.monotonic() - self.started, stdout=out, stderr=err,
                               lines=out.splitlines())


class WineSession:
    """One Xvfb display and one Wine prefix, shared by the tests running side by side."""

    def env(self, display=True):
        # WinHTTP honours proxies even for 127.0.0.1; a crash must not wait on a debugger.
        env = {k: v for k, v in os.environ.items() if k.lower() not in ("http_proxy", "https_proxy", "display")}
        return {**env, "WINEPREFIX": str(self.prefix), "WINEARCH": "win64", "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "mscoree,mshtml=;winedbg.exe=d", **({"DISPLAY": self.display} if display else {})}

    def __enter__(self):
        self.work = Path(tempfile.mkdtemp(prefix="pelko-e2e-"))
        self.prefix, self.display = self.work / "prefix", None
        if not (BASE_PREFIX / ".pelko-ready").exists():  # about 15 s, once; a copy takes 1 s
            shutil.rmtree(BASE_PREFIX, ignore_errors=True)
            BASE_PREFIX.parent.mkdir(parents=True, exist_ok=True)
            env = {**self.env(False), "WINEPREFIX": str(BASE_PREFIX)}
            quiet(["wineboot", "-i"], env)
            quiet(["wineserver", "-w"], env)
            # No window manager: windows get a caption (and DestroyWindow stops stalling) if Wine manages them.
            quiet(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"], env)
            quiet(["wineserver", "-w"], env)
            (BASE_PREFIX / ".pelko-ready").write_text("ok\n")
        shutil.copytree(BASE_PREFIX, self.prefix, symlinks=True)
        # Xvfb picks a free display and writes its number once it accepts connections.
        ready, done = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(done), "-screen", "0", "1024x768x24", "-nolisten",
                                      "tcp"], pass_fds=(done,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(done)
        with os.fdopen(ready) as f:
            self.display = ":" + f.readline().strip()
        if self.display == ":":
            raise RuntimeError("Xvfb did not start")
        # Wine's background services inherit the first process's streams: all closed.
        quiet(["wineserver", "-p"], self.env())
        quiet(["wine", "cmd", "/c", "exit"], self.env())
        return self

    def __exit__(self, *exc):
        quiet(["wineserver", "-k"], self.env(), timeout=60)
        self.xvfb.kill()
        self.xvfb.wait()
        shutil.rmtree(self.work, ignore_errors=True)

    def launch(self, exe, args=(), env=None, cwd=None, display=True):
        """Starts a Windows program and returns at once; finish() waits for it."""
        folder = Path(tempfile.mkdtemp(dir=self.work, prefix="run-"))
        return Running(["wine", str(exe), *map(str, args)], {**self.env(display), **(env or {})}, cwd, folder)


def x_client(*cmd):
    env = {**os.environ, "DISPLAY": SESSION.display}
    return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=30).stdout


def helper(*args, **run):
    """The key=value lines of the test helper; repeated keys as lists."""
    found, result = {}, SESSION.launch(HELPER_EXE, args, **run).finish()
    assert result.lines, f"the test helper printed nothing, exit code {result.returncode}: {result.stderr}"
    for key, _, value in (l.partition("=") for l in result.lines if "=" in l):
        found.setdefault(key, []).append(value)
    return {key: values if len(values) > 1 else values[0] for key, values in found.items()}


class Player:
    """A download folder with the launcher, and a home."""

    def __init__(self, name):
        self.root = Path(tempfile.mkdtemp(dir=SESSION.work, prefix=f"{name} "))
        self.downloads, self.home = self.root / "Downloads", self.root / "home"
        self.downloads.mkdir()
        self.launcher = self.downloads / "Pelko-Setup.exe"
        shutil.copy2(LAUNCHER_EXE, self.launcher)
        with socket.socket() as s:  # a loopback port that refuses connections
            s.bind(("127.0.0.1", 0))
            self.update_base = f"http://127.0.0.1:{s.getsockname()[1]}/releases"

    def install(self, version, rom=USABLE_ROM):
        """An installed client of `version` that the records name as current."""
        (game := self.home / f"app.{version}" / "kestrel-core").mkdir(parents=True)
        shutil.copy2(STUB_GAME_EXE, game / "Pelko.exe")
        if rom:
            (game / "patched.nds").write_bytes(rom)
        (self.home / "version.txt").write_bytes(f"{version}\r\n".encode())
        (self.home / "current.txt").write_bytes(win_path(game).encode())
        return game

    def env(self, **extra):
        return {"PELKO_UPDATE_BASE": self.update_base, "VELA_HOME": win_path(self.home), **extra}

    def start(self, *args, exe=None, env=None, display=True):
        return SESSION.launch(exe or self.launcher, args, self.env(**(env or {})), self.root, display)

    def run(self, *args, timeout=60, **start):
        return self.start(*args, **start).finish(timeout)

    def game_report(self):
        """What the stub game wrote to game.log: cmdline, cwd, argv and env."""
        pairs = [line.partition("=")[::2] for line in (self.home / "game.log").read_text().splitlines()]
        return {**dict(pairs), "argv": [v for k, v in pairs if k.startswith("argv[")],
                "env": {k[4:]: v for k, v in pairs if k.startswith("env ")}}


class PlayerTest(unittest.TestCase):
    def setUp(self):
        self.player = Player(f"{type(self).__name__} player")  # paths with a space

    def assertExit(self, result, code=0):
        self.assertEqual(result.returncode, code, result.stdout)


class Site:
    """A player's update site made with the release tool, on 127.0.0.1; it records paths and user agents."""

    def __init__(self, player):
        self.player, self.releases, self.requests = player, player.root / "site" / "releases", []
        record = self.requests.append

        class Handler(http.server.SimpleHTTPRequestHandler):
            def log_request(self, *args):
                record((self.path, self.headers["User-Agent"]))

            def log_error(self, *args):  # error pages are expected
                pass

        handler = functools.partial(Handler, directory=self.releases.parent)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.base = player.update_base = f"http://127.0.0.1:{self.server.server_address[1]}/releases"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()

    def publish(self, version, launcher=None, bundle_sha256=None):
        """A release of the stub game in its game folder; the manifest may name another bundle digest."""
        (game := self.player.root / f"client-{version}" / "kestrel-core").mkdir(parents=True)
        shutil.copy2(STUB_GAME_EXE, game / "Pelko.exe")
        manifest = release.build_site(game.parent, version, self.base, self.releases, launcher)
        if bundle_sha256:
            manifest["windows"]["sha256"] = bundle_sha256
            (self.releases / "manifest.json").write_text(json.dumps(manifest))
        return manifest
