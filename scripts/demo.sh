#!/usr/bin/env bash
# The main job, from a fresh Debian 12 machine: builds Pelko-Setup.exe and the
# stand-in game, and shows a player's run of the launcher under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
echo "demo: building the launcher (native tools and the Windows executable)..."
scripts/build.sh native windows
# A release key made just for the demo, and the launcher built with it.
echo "demo: making a release key and building the launcher that checks it..."
rm -rf build/demo/key
tools/release.py keygen --out build/demo/key >/dev/null
{ cmake --preset windows -B build/demo-keyed -DPELKO_RELEASE_KEY="$PWD/build/demo/key/release-key.pub.pem" &&
  cmake --build build/demo-keyed -- -j2; } >build/demo-keyed.build.log 2>&1 ||
  { cat build/demo-keyed.build.log >&2; exit 1; }
python3 scripts/demo.py
