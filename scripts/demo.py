#!/usr/bin/env python3
"""A player's first evening with the real Pelko-Setup.exe, under Wine.

An update site on 127.0.0.1 publishes release 1.0 of the client (a stand-in
game that records what it is handed). The player has nothing installed:

1. They start the installer they downloaded from an invite,
   Pelko-Setup-DEMO1.exe. The launcher installs itself, registers the pelko://
   scheme, installs the client from the site and joins room DEMO1; the room's
   host sends the game, so no ROM is asked for.
2. Later they start the installed launcher to host a room of their own. It
   patches their cartridge dump (a synthetic one here) into patched.nds and
   starts the game.
3. Another player has a launcher built with a release key (made for the
   demo). The site publishes a signed release 1.0, which the launcher installs
   and starts; then a release 1.1 whose manifest lost its integrity (one byte
   changed after signing): the launcher refuses it and starts 1.0.

A screenshot of the splash window of the first run, as it announces the
game's start, is saved in build/demo/splash.png.
"""

import contextlib
import hashlib
import subprocess
import sys
from pathlib import Path
from types import SimpleNamespace

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import harness  # noqa: E402
from harness import Player, Site, helper, poll, win_path, x_client  # noqa: E402

SPLASH_PNG = harness.ROOT / "build" / "demo" / "splash.png"
DEMO_KEY = harness.ROOT / "build" / "demo" / "key" / "release-key.pem"
KEYED_EXE = harness.ROOT / "build" / "demo-keyed" / "Pelko-Setup.exe"
ROM_STANDIN = harness.ROOT / "build" / "native" / "tools" / "rom_standin"


def show(title, text=""):
    print(f"\n--- {title}")
    if text:
        print(text.replace("\r\n", "\n").rstrip("\n"))


def show_run(result):
    show("launcher log (standard output)", "\n".join(l for l in result.lines if l and not l.startswith("wine:")))
    if result.errors.strip():
        show("launcher standard error", result.errors.strip())
    show(f"launcher exit code {result.returncode} after {result.elapsed:.1f} s")


def watch_splash(started):
    """Screenshots of the splash's client area for as long as its window is up."""
    running = lambda: started.poll() is None  # noqa: E731
    window = poll(lambda: x_client("xdotool", "search", "--name", "^Pelko$") and helper("window"), 10, alive=running)
    if not window or "client" not in window:
        return []
    x, y = window["client"].split(",")[:2]
    shots = []
    while running() and x_client("xdotool", "search", "--name", "^Pelko$"):
        shots.append(x_client("import", "-silent", "-window", "root", "-crop", f"460x250+{x}+{y}", "+repage",
                              "-depth", "8", "rgb:-"))
    return shots


def save_splash(shots):
    """Saves the last complete screenshot: the window shows the full bar for
    about a second before it goes."""
    if len(shots) < 2:
        return "no splash window was seen"
    SPLASH_PNG.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["convert", "-size", "460x250", "-depth", "8", "rgb:-", f"png:{SPLASH_PNG}"], input=shots[-2],
                   capture_output=True, timeout=30, check=True)
    return f"{len(shots)} screenshots taken while it was up; one is in {SPLASH_PNG}"


def main():
    with harness.WineSession() as harness.SESSION:
        player = Player("demo")
        with contextlib.ExitStack() as cleanup:
            site = Site(SimpleNamespace(player=player, addCleanup=cleanup.callback))
            site.publish("1.0")
            show(f"update site on {site.base}: manifest.json", (site.releases / "manifest.json").read_text())

            player.launcher = player.launcher.rename(player.downloads / "Pelko-Setup-DEMO1.exe")
            print(f"\ndemo: 1. the player starts {player.launcher.name} from {player.downloads} (home is empty)...")
            started = player.start()
            shots = watch_splash(started)
            joined = started.finish(timeout=60)
            show_run(joined)
            show("splash window", save_splash(shots))
            show("what the game received (game.log)", (player.home / "game.log").read_text())
            registry = subprocess.run(["wine", "reg", "query", r"HKCU\Software\Classes\pelko", "/s"],
                                      env=harness.SESSION.env(DISPLAY=None), capture_output=True, timeout=60).stdout
            show("registered URL scheme", registry.decode("utf-8", "replace").strip())

            dump = player.root / "my-cartridge.nds"
            subprocess.run([str(ROM_STANDIN), "dump", str(dump)], check=True, timeout=120)
            print(f"\ndemo: 2. the player starts the installed launcher to host, with VELA_ROM={win_path(dump)}...")
            hosted = player.run(exe=player.home / "Pelko-Setup.exe", env={"VELA_ROM": win_path(dump)}, timeout=120)
            show_run(hosted)

        rom = player.home / "app.1.0" / "kestrel-core" / "patched.nds"
        digest = hashlib.sha256(rom.read_bytes()).hexdigest() if rom.exists() else "(none)"
        expected = (harness.ROOT / "assets" / "patched_rom.sha256").read_text().split()[0]
        show("patched.nds", f"{rom.stat().st_size if rom.exists() else 0} bytes, sha256 {digest}\n"
                            f"expected sha256 {expected}")
        show("what the game received (game.log)", (player.home / "game.log").read_text())
        show("home directory", "\n".join(sorted(str(p.relative_to(player.home)) for p in player.home.rglob("*"))))
        signed_ok = signed_releases()
        ok = joined.returncode == 0 and hosted.returncode == 0 and digest == expected and signed_ok
        print(f"\ndemo: {'every run started the game' if ok else 'FAILED'}")
        return 0 if ok else 1


def signed_releases():
    player = Player("signed")
    player.launcher.write_bytes(KEYED_EXE.read_bytes())
    with contextlib.ExitStack() as cleanup:
        site = Site(SimpleNamespace(player=player, addCleanup=cleanup.callback))
        site.publish("1.0", sign_keys=[DEMO_KEY], serial=1)
        show("signed manifest.json and manifest.json.sig", (site.releases / "manifest.json").read_text() +
             (site.releases / "manifest.json.sig").read_text())
        print("\ndemo: 3. a player whose launcher carries the release key joins room SIGN1...")
        first = player.run("pelko://join/sign1")
        show_run(first)
        site.publish("1.1", sign_keys=[DEMO_KEY], serial=2)
        manifest = site.releases / "manifest.json"
        manifest.write_bytes(manifest.read_bytes().replace(b"1.1", b"1.2", 1))
        print("\ndemo: ... and again, after one byte of the signed manifest of 1.1 was changed on the host:")
        second = player.run("pelko://join/sign1")
        show_run(second)
        show("what the game received (game.log)", (player.home / "game.log").read_text())
    return first.returncode == 0 and second.returncode == 0 and "app.1.0" in (player.home / "game.log").read_text()


if __name__ == "__main__":
    sys.exit(main())
