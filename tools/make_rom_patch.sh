#!/usr/bin/env bash
# Regenerates the stand-in ROM patch and the digest of the ROM it produces.
#   tools/make_rom_patch.sh                      writes assets/rom_patch.vcdiff and assets/patched_rom.sha256
#   tools/make_rom_patch.sh DIR [ROM_STANDIN]    writes them into DIR instead, with the given generator
# The encoder is xdelta3 (Debian's, or $XDELTA3), without secondary
# compression, so the patch holds nothing but an application header and
# windows with a source segment and an Adler-32 field. Its application header
# is a 27-byte note, which puts the first window at offset 33. The same inputs
# give the same patch, byte for byte; a unit test holds the committed one to
# that.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/assets}"
tool="${2:-}"
xdelta3="${XDELTA3:-xdelta3}"
note="pelko stand-in rom patch v1"
[ "${#note}" -eq 27 ] || { echo "make_rom_patch: the note must be 27 bytes" >&2; exit 1; }

if [ -z "$tool" ]; then
  (cd "$root" && cmake --preset native >/dev/null && cmake --build --preset native --target rom_standin >/dev/null)
  tool="$root/build/native/tools/rom_standin"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$tool" dump "$work/dump.nds"
"$tool" target "$work/target.nds"
"$xdelta3" -e -S none -A="$note" -s "$work/dump.nds" "$work/target.nds" "$work/rom_patch.vcdiff"

mkdir -p "$out"
cp "$work/rom_patch.vcdiff" "$out/rom_patch.vcdiff"
sha256sum "$work/target.nds" | cut -c1-64 > "$out/patched_rom.sha256"
