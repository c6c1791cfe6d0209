#!/usr/bin/env python3
"""A player's run of the real Pelko-Setup.exe under Wine: an installed client,
an invite link, and what the game was handed."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import harness  # noqa: E402
from scenario import Player, read_text  # noqa: E402


def show(title, text):
    print(f"\n--- {title}")
    print(text.rstrip("\n"))


def main():
    with harness.WineSession() as session:
        player = Player(session, "demo")
        game = player.install("1.0")
        print(f"demo: home {player.home} holds version 1.0 with the stand-in game")
        print("demo: starting Pelko-Setup.exe --url pelko://join/DEMO1 under Wine (about 8 s)...")
        result = player.run("--url", "pelko://join/DEMO1")
        show("launcher log (standard output)", "\n".join(result.lines))
        show(f"launcher exit code: {result.returncode} after {result.elapsed:.1f} s", "")
        show("what the game received (game.log)", read_text(player.home / "game.log"))
        show("home directory", "\n".join(sorted(str(p.relative_to(player.home))
                                                for p in player.home.rglob("*"))))
        return 0 if result.returncode == 0 and (game / "patched.nds").exists() else 1


if __name__ == "__main__":
    sys.exit(main())
