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

A screenshot of the splash window of the first run, as it announces the
game's start, is saved in build/demo/splash.png.
"""

import hashlib
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import harness  # noqa: E402
import splash_view  # noqa: E402
from scenario import Player, Site, read_text, synthetic_dump, win_path  # noqa: E402


SPLASH_PNG = harness.ROOT / "build" / "demo" / "splash.png"


def show(title, text=""):
    print(f"\n--- {title}")
    if text:
        print(text.rstrip("\n"))


def show_run(result):
    show("launcher log (standard output)", "\n".join(l for l in result.lines if l))
    errors = result.stderr.replace("\r\n", "\n").strip()
    if errors:
        show("launcher standard error", errors)
    show(f"launcher exit code {result.returncode} after {result.elapsed:.1f} s")


def watch_splash(session, started):
    """Screenshots of the splash's client area for as long as its window is up."""
    area = splash_view.wait_for_client_area(session, started)
    shots = []
    while area and started.running() and splash_view.x_windows(session):
        shots.append(splash_view.screenshot(session, *area))
    return shots


def save_splash(shots):
    """Saves the last screenshot that shows the full bar (the native render
    tells which), else the last complete one."""
    if len(shots) < 2:
        return "no splash window was seen"
    chosen = shots[-2]  # the very last one may have caught the window going
    if splash_view.SPLASH_FRAME.exists():
        ready = splash_view.native_frames("READY - STARTING THE GAME", 100)
        chosen = next((s for s in reversed(shots) if splash_view.matching_head(s, ready) is not None), chosen)
    splash_view.save_png(chosen, SPLASH_PNG)
    return f"{len(shots)} screenshots taken while it was up; one is in {SPLASH_PNG}"


def main():
    with harness.WineSession() as session:
        player = Player(session, "demo")
        with Site(player) as site:
            site.publish("1.0")
            show(f"update site on {site.base}: manifest.json", (site.releases / "manifest.json").read_text())

            player.rename_launcher("Pelko-Setup-DEMO1.exe")
            print(f"\ndemo: 1. the player starts {player.launcher.name} from {player.downloads} (home is empty)...")
            started = player.start()
            shots = watch_splash(session, started)
            joined = started.finish(timeout=60)
            show_run(joined)
            show("splash window", save_splash(shots))
            show("what the game received (game.log)", read_text(player.home / "game.log"))
            rc, registry = session.reg_query(r"HKCU\Software\Classes\pelko")
            show("registered URL scheme", registry.replace("\r\n", "\n").strip())

            dump = synthetic_dump(player.root / "my-cartridge.nds")
            print(f"\ndemo: 2. the player starts the installed launcher to host, with VELA_ROM={win_path(dump)}...")
            hosted = session.run(player.home / "Pelko-Setup.exe", env=player.env(VELA_ROM=win_path(dump)),
                                 cwd=player.root, timeout=120)
            show_run(hosted)

        rom = player.game_dir("1.0") / "patched.nds"
        digest = hashlib.sha256(rom.read_bytes()).hexdigest() if rom.exists() else "(none)"
        expected = (harness.ROOT / "assets" / "patched_rom.sha256").read_text().split()[0]
        show("patched.nds", f"{rom.stat().st_size if rom.exists() else 0} bytes, sha256 {digest}\n"
                            f"expected sha256 {expected}")
        show("what the game received (game.log)", read_text(player.home / "game.log"))
        show("home directory", "\n".join(sorted(str(p.relative_to(player.home)) for p in player.home.rglob("*"))))
        ok = joined.returncode == 0 and hosted.returncode == 0 and digest == expected
        print(f"\ndemo: {'both runs started the game' if ok else 'FAILED'}")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
