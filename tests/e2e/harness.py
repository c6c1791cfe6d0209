"""Runs the real Pelko-Setup.exe under Wine on a virtual display.

A WineSession owns one Xvfb display and one Wine prefix (copied from a base
prefix that is made once per checkout), starts the launcher with a chosen
environment and arguments, and stops everything it started by the process ids
it recorded. Nothing here talks to anything but 127.0.0.1.
"""

import contextlib
import itertools
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINDOWS_BUILD = ROOT / "build" / "windows"
LAUNCHER_EXE = WINDOWS_BUILD / "Pelko-Setup.exe"
STUB_GAME_EXE = WINDOWS_BUILD / "tools" / "stub_game.exe"
TEST_HELPER_EXE = WINDOWS_BUILD / "tests" / "win" / "pelko_test_helper.exe"
BASE_PREFIX = ROOT / "build" / "e2e" / "prefix-base"

# The session the test runner started; tests take it from here.
SESSION = None

PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy")


def win_path(path):
    """A Linux path as Windows programs under Wine see it (drive Z:)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def closed_port():
    """A loopback port that refuses connections (bound once, then released)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def poll(check, seconds, interval=0.05, alive=lambda: True):
    """check()'s first true value within `seconds` while alive(); None without one."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and alive():
        found = check()
        if found:
            return found
        time.sleep(interval)
    return None


def wine_environment(prefix, display):
    env = {k: v for k, v in os.environ.items() if k not in PROXY_VARIABLES + ("DISPLAY",)}
    # No Mono/Gecko prompts; a crash must not open a debugger dialog that waits forever.
    env.update(WINEPREFIX=str(prefix), WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d", **({"DISPLAY": display} if display else {}))
    return env


def _quiet(cmd, env, timeout=120):
    return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout, check=False)


def ensure_base_prefix():
    """Makes the base prefix once (about 15 s); sessions copy it (about 1 s)."""
    marker = BASE_PREFIX / ".pelko-ready"
    if marker.exists():
        return
    shutil.rmtree(BASE_PREFIX, ignore_errors=True)
    BASE_PREFIX.parent.mkdir(parents=True, exist_ok=True)
    env = wine_environment(BASE_PREFIX, None)
    _quiet(["wineboot", "-i"], env, timeout=300)
    _quiet(["wineserver", "-w"], env, timeout=300)
    # Without a window manager, windows only get a caption (and DestroyWindow
    # stops stalling) when Wine manages them itself.
    _quiet(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/t", "REG_SZ",
            "/d", "N", "/f"], env)
    _quiet(["wineserver", "-w"], env, timeout=300)
    marker.write_text("ok\n")


@dataclass
class RunResult:
    returncode: int
    elapsed: float
    stdout: str
    stderr: str
    lines: list


class Running:
    """A started Windows program; output goes to files, never pipes."""

    def __init__(self, exe, args, env, cwd, out_dir):
        self.out_path, self.err_path = out_dir / "out.txt", out_dir / "err.txt"
        self.started = time.monotonic()
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen(["wine", str(exe), *args], env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                         stdout=out, stderr=err, start_new_session=True)

    def running(self):
        return self.proc.poll() is None

    def finish(self, timeout=60):
        try:
            rc = self.proc.wait(timeout=max(0.0, timeout - (time.monotonic() - self.started)))
        except subprocess.TimeoutExpired:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.proc.pid, signal.SIGKILL)
            rc = self.proc.wait()
        elapsed = time.monotonic() - self.started
        stdout, stderr = (path.read_bytes().decode("utf-8", "replace") for path in (self.out_path, self.err_path))
        lines = [l for l in stdout.replace("\r\n", "\n").split("\n") if not l.startswith("wine:")]
        return RunResult(rc, elapsed, stdout, stderr, lines)


class WineSession:
    """One display and one prefix; thread-safe runs of the launcher."""

    def __init__(self):
        self.work = Path(tempfile.mkdtemp(prefix="pelko-e2e-"))
        self.prefix = self.work / "prefix"
        self.display = None
        self._xvfb = None
        self._counter = itertools.count(1)

    # -- lifecycle

    def start(self):
        ensure_base_prefix()
        shutil.copytree(BASE_PREFIX, self.prefix, symlinks=True)
        self._start_xvfb()
        env = self.env()
        # A persistent server, primed once with every standard stream closed:
        # Wine's background services inherit the first process's streams.
        subprocess.Popen(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait(timeout=60)
        _quiet(["wine", "cmd", "/c", "exit"], env, timeout=180)
        return self

    def stop(self):
        with contextlib.suppress(Exception):
            _quiet(["wineserver", "-k"], self.env(), timeout=60)
        if self._xvfb:
            self._xvfb.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                self._xvfb.wait(timeout=10)
            self._xvfb.kill()
        shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _start_xvfb(self):
        for n in range(90, 200):
            if Path(f"/tmp/.X{n}-lock").exists() or Path(f"/tmp/.X11-unix/X{n}").exists():
                continue
            proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            if poll(Path(f"/tmp/.X11-unix/X{n}").exists, 5, alive=lambda: proc.poll() is None):
                self._xvfb, self.display = proc, f":{n}"
                return
            proc.kill()
            proc.wait()
        raise RuntimeError("could not start Xvfb")

    # -- helpers for tests

    def env(self, display=True):
        return wine_environment(self.prefix, self.display if display else None)

    def scratch(self, name):
        """A fresh folder for one test."""
        path = self.work / f"{next(self._counter):03d}-{name}"  # next() on a count is atomic
        path.mkdir(parents=True)
        return path

    def run(self, exe, args=(), env=None, cwd=None, timeout=60, display=True):
        """Runs a Windows program with wine to its end; output goes to files, never pipes."""
        return self.launch(exe, args, env, cwd, display).finish(timeout)

    def launch(self, exe, args=(), env=None, cwd=None, display=True):
        """Starts a Windows program and returns at once; finish() waits for it."""
        out_dir = Path(tempfile.mkdtemp(dir=self.work, prefix="run-"))
        return Running(exe, args, {**self.env(display), **(env or {})}, cwd, out_dir)

    def x(self, *cmd):
        """Runs an X client (xdotool, import) on the session's display; its standard output."""
        return subprocess.run(cmd, env={**os.environ, "DISPLAY": self.display}, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=30, check=False).stdout

    def xdotool(self, *args):
        return self.x("xdotool", *args).decode()

    def geometry(self, window):
        """X, Y, WIDTH and HEIGHT of an X window."""
        shell = self.xdotool("getwindowgeometry", "--shell", window)
        return {k: int(v) for k, v in (line.split("=", 1) for line in shell.split())}

    def wait_for_window(self, name, timeout=30):
        """The id of the first visible window whose title is name, or None."""
        search = ("search", "--onlyvisible", "--name", f"^{re.escape(name)}$")
        return poll(lambda: (self.xdotool(*search).split() or [None])[0], timeout, 0.2)

    def focus_by_caption(self, window, timeout=10):
        """Gives a window the keyboard with a click on its caption: Wine draws
        the caption itself (Managed=N) and activates a window clicked there,
        while windowactivate needs a window manager. True once it has the focus."""
        g = self.geometry(window)
        self.xdotool("mousemove", "--sync", str(g["X"] + g["WIDTH"] // 2), str(g["Y"] + 8))
        self.xdotool("click", "1")
        return poll(lambda: self.xdotool("getwindowfocus").strip() == window, timeout)

    def reg_query(self, key):
        proc = subprocess.run(["wine", "reg", "query", key, "/s"], env=self.env(False),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60, check=False)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")
