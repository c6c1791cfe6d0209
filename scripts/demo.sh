#!/usr/bin/env bash
# The main job, from a fresh Debian 12 machine: builds Pelko-Setup.exe and the
# stand-in game, and shows a player's run of the launcher under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
echo "demo: building the launcher (native tools and the Windows executable)..."
scripts/build.sh native windows
python3 scripts/demo.py
