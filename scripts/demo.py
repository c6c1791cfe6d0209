#!/usr/bin/env python3
"""A player's first run of the real Pelko-Setup.exe under Wine.

An update site on 127.0.0.1 publishes release 1.0 of the client (the stand-in
game). The player has nothing installed and starts the installer they
downloaded from an invite, Pelko-Setup-DEMO1.exe: the launcher installs itself,
registers the pelko:// scheme, installs the client from the site and starts the
game in room DEMO1.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import harness  # noqa: E402
from scenario import USABLE_ROM, Player, Site, read_text, win_path  # noqa: E402


def show(title, text=""):
    print(f"\n--- {title}")
    if text:
        print(text.rstrip("\n"))


def main():
    with harness.WineSession() as session:
        player = Player(session, "demo")
        rom = player.root / "my-dump.nds"
        rom.write_bytes(USABLE_ROM)
        with Site(player) as site:
            manifest = site.publish("1.0")
            show(f"update site on {site.base}: manifest.json", (site.releases / "manifest.json").read_text())
            player.rename_launcher("Pelko-Setup-DEMO1.exe")
            print(f"\ndemo: the player starts {player.launcher.name} from {player.downloads} (home is empty)...")
            result = player.run(env={"VELA_ROM": win_path(rom)})

        show("launcher log (standard output)", "\n".join(l for l in result.lines if l))
        show(f"launcher exit code {result.returncode} after {result.elapsed:.1f} s")
        show("what the game received (game.log)", read_text(player.home / "game.log"))
        show("home directory", "\n".join(sorted(str(p.relative_to(player.home)) for p in player.home.rglob("*"))))
        show("downloads folder", "\n".join(sorted(p.name for p in player.downloads.iterdir())))
        rc, registry = session.reg_query(r"HKCU\Software\Classes\pelko")
        show("registered URL scheme", registry.replace("\r\n", "\n").strip())
        ok = result.returncode == 0 and (player.home / "current.txt").exists() and manifest["version"] == "1.0"
        print(f"\ndemo: {'the game started' if ok else 'FAILED'}")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
