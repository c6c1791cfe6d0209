"""The real Pelko-Setup.exe under Wine on a virtual display, for players with a
download folder and a home, and update sites on 127.0.0.1 (and nothing else)."""

import functools
import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINDOWS_BUILD = ROOT / "build" / "windows"
LAUNCHER_EXE = WINDOWS_BUILD / "Pelko-Setup.exe"
KEYED_LAUNCHER_EXE = ROOT / "build" / "windows-keyed" / "Pelko-Setup.exe"  # with the keys of build/test-keys
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

    def __init__(self, cmd, env, cwd):
        self.folder, self.started = Path(tempfile.mkdtemp(dir=SESSION.work, prefix="run-")), time.monotonic()
        with open(self.folder / "out", "wb") as out, open(self.folder / "err", "wb") as err:
            super().__init__(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                             start_new_session=True)

    def finish(self, timeout=60):
        try:
            self.wait(timeout=max(0.0, timeout - (time.monotonic() - self.started)))
        except subprocess.TimeoutExpired:
            os.killpg(self.pid, signal.SIGKILL)  # the group lives while its leader is not reaped
            self.wait()
        self.elapsed = time.monotonic() - self.started
        self.text, self.errors = ((self.folder / n).read_bytes().decode("utf-8", "replace") for n in ("out", "err"))
        self.lines = self.text.splitlines()
        return self


class WineSession:
    """One Xvfb display and one Wine prefix, shared by the tests running side by side."""

    def env(self, **extra):
        # None removes a variable. WinHTTP honours proxies even for 127.0.0.1; a crash must not wait on a debugger.
        # A UTF-8 locale, or Wine garbles non-ASCII names and environment values.
        env = {**os.environ, "LC_ALL": "C.UTF-8", "WINEPREFIX": str(self.prefix), "WINEARCH": "win64",
               "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winedbg.exe=d", "DISPLAY": self.display,
               **extra}
        return {k: v for k, v in env.items() if v is not None and k.lower() not in ("http_proxy", "https_proxy")}

    def __enter__(self):
        self.work = Path(tempfile.mkdtemp(prefix="pelko-e2e-"))
        self.prefix, self.display = self.work / "prefix", None
        if not (BASE_PREFIX / ".pelko-ready").exists():  # about 15 s, once; a copy takes 1 s
            shutil.rmtree(BASE_PREFIX, ignore_errors=True)
            BASE_PREFIX.parent.mkdir(parents=True, exist_ok=True)
            # No window manager: windows get a caption (and DestroyWindow stops stalling) if Wine manages them.
            managed = ["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"]
            for cmd in (["wineboot", "-i"], ["wineserver", "-w"], managed, ["wineserver", "-w"]):
                quiet(cmd, self.env(WINEPREFIX=str(BASE_PREFIX)))
            (BASE_PREFIX / ".pelko-ready").write_text("ok\n")
        shutil.copytree(BASE_PREFIX, self.prefix, symlinks=True)
        # Xvfb picks a free display and writes its number once it accepts connections.
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.display = ":" + self.xvfb.stdout.readline().decode().strip()
        assert self.display != ":", "Xvfb did not start"
        # Wine's background services inherit the first process's streams: all closed.
        quiet(["wineserver", "-p"], self.env())
        quiet(["wine", "cmd", "/c", "exit"], self.env())
        return self

    def __exit__(self, *exc):
        quiet(["wineserver", "-k"], self.env(), timeout=60)
        self.xvfb.kill()
        self.xvfb.communicate()
        shutil.rmtree(self.work, ignore_errors=True)

    def launch(self, exe, args=(), env=None, cwd=None):
        """Starts a Windows program and returns at once; finish() waits for it."""
        return Running(["wine", str(exe), *map(str, args)], self.env(**(env or {})), cwd)


def x_client(*cmd):
    env = {**os.environ, "DISPLAY": SESSION.display}
    return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=30).stdout


def helper(*args, **run):
    """The key=value lines of the test helper; repeated keys as lists."""
    found, result = {}, SESSION.launch(HELPER_EXE, args, **run).finish()
    assert result.lines, f"the test helper printed nothing, exit code {result.returncode}: {result.errors}"
    for key, _, value in (l.partition("=") for l in result.lines if "=" in l):
        found.setdefault(key, []).append(value)
    return {key: values if len(values) > 1 else values[0] for key, values in found.items()}


class Player:
    """A download folder with the launcher, and a home; its update site refuses connections until a Site."""

    def __init__(self, name):
        self.root = Path(tempfile.mkdtemp(dir=SESSION.work, prefix=f"{name} "))
        self.downloads, self.home = self.root / "Downloads", self.root / "home"
        self.downloads.mkdir()
        self.launcher = self.downloads / "Pelko-Setup.exe"
        shutil.copy2(LAUNCHER_EXE, self.launcher)
        self.update_base = "http://127.0.0.1:1/releases"

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

    def start(self, *args, exe=None, env=None):
        return SESSION.launch(exe or self.launcher, args, self.env(**(env or {})), self.root)

    def run(self, *args, timeout=60, **start):
        return self.start(*args, **start).finish(timeout)

    def game_report(self):
        """What the stub game wrote to game.log: cmdline, cwd, argv and env."""
        pairs = [line.partition("=")[::2] for line in (self.home / "game.log").read_text("utf-8").splitlines()]
        return {**dict(pairs), "argv": [v for k, v in pairs if k.startswith("argv[")],
                "env": {k[4:]: v for k, v in pairs if k.startswith("env ")}}


class PlayerTest(unittest.TestCase):
    def setUp(self):
        self.player = Player(f"{type(self).__name__} player")  # paths with a space

    def assertExit(self, result, code=0):
        self.assertEqual(result.returncode, code, result.text)


class Site(http.server.ThreadingHTTPServer):
    """A test's update site made with the release tool, on 127.0.0.1; it records paths and user agents."""

    class Handler(http.server.SimpleHTTPRequestHandler):
        def log_request(self, *args):
            self.server.requests.append((self.path, self.headers["User-Agent"]))

        def log_error(self, *args):  # error pages are expected
            pass

    def __init__(self, test):
        self.player, self.releases, self.requests = test.player, test.player.root / "site" / "releases", []
        super().__init__(("127.0.0.1", 0), functools.partial(self.Handler, directory=self.releases.parent))
        self.base = self.player.update_base = f"http://127.0.0.1:{self.server_address[1]}/releases"
        threading.Thread(target=self.serve_forever, daemon=True).start()
        test.addCleanup(lambda: (self.shutdown(), self.server_close()))

    def publish(self, version, launcher=None, files=(), **signing):
        (game := self.player.root / f"client-{version}" / "kestrel-core").mkdir(parents=True, exist_ok=True)
        shutil.copy2(STUB_GAME_EXE, game / "Pelko.exe")
        for name, data in dict(files).items():
            (game / name).write_bytes(data)
        return release.build_site(game.parent, version, self.base, self.releases, launcher, **signing)
