#!/usr/bin/env python3
"""Builds a Pelko update site from a client folder.

    tools/release.py --folder client/ --version 1.4 --base-url https://updates.example.org/releases \
                     --out site/ [--launcher Pelko-Setup.exe] [--unzip build/native/tools/pelko_unzip]

Nothing is published that the launcher would turn into harm on a player's
machine: the version names a folder in the player's home, so it is made of
letters, digits, ".", "_" and "-" only; every file of the bundle must have a
name that Windows keeps as it is and that stays inside the version folder; the
bundle must unpack to under 2 GiB. Before the manifest is written, the bundle
is unpacked with the launcher's own ZIP walk (pelko_unzip, built with the
native preset) and compared with the folder, file by file.

The site folder receives:
  manifest.json                  the version and the Windows entry the launcher reads
  pelko-<version>-windows.zip    the client folder's contents (the game lives in kestrel-core/)
  Pelko-Setup.exe                with --launcher: the launcher build to update to

Serve the folder at --base-url. The launcher finds the manifest by searching the
text, so the manifest is written in the one shape it reads: "version" first,
then the "windows" entry, every value a plain string.
"""

import argparse
import hashlib
import json
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

# Fixed entry times keep the archive (and so its digest) the same for the same input.
ENTRY_TIME = (2020, 1, 1, 0, 0, 0)
MAX_BUNDLE_BYTES = 2 << 30
DEFAULT_UNZIP = Path(__file__).resolve().parent.parent / "build" / "native" / "tools" / "pelko_unzip"
RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL", *(f"COM{n}" for n in range(1, 10)), *(f"LPT{n}" for n in range(1, 10))}


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def plain_string(name, value):
    """The launcher takes values byte for byte between quotes: no escapes allowed."""
    if any(c in value for c in '"\\') or any(ord(c) < 0x20 for c in value):
        raise SystemExit(f"release: the {name} must not contain quotes, backslashes or control characters: {value!r}")
    return value


def check_version(version):
    if not re.fullmatch(r"[A-Za-z0-9._-]+", version) or version.startswith(".") or ".." in version:
        raise SystemExit(f"release: the version must be letters, digits, '.', '_' and '-', not start with '.' and "
                         f"hold no '..': {version!r}")


def check_entry_name(name):
    """A name the launcher writes under the version folder, as Windows keeps it."""
    for part in name.split("/"):
        problem = ("a '..'" if ".." in part else
                   "a character outside printable ASCII" if any(not 0x20 <= ord(c) < 0x7F for c in part) else
                   "a colon or a backslash" if ":" in part or "\\" in part else
                   "a reserved device name" if part.split(".")[0].upper() in RESERVED_NAMES else
                   "a trailing dot or space" if part.endswith((".", " ")) else None)
        if problem:
            raise SystemExit(f"release: the bundle file {name!r} has {problem} in its name")


def write_bundle(folder, archive, limit):
    files = sorted(p for p in folder.rglob("*") if p.is_file())
    if not files:
        raise SystemExit(f"release: {folder} holds no files")
    for path in files:
        check_entry_name(path.relative_to(folder).as_posix())
    total = sum(path.stat().st_size for path in files)
    if total > limit:
        raise SystemExit(f"release: the bundle would unpack to {total} bytes, more than {limit}")
    with zipfile.ZipFile(archive, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for path in files:
            info = zipfile.ZipInfo(path.relative_to(folder).as_posix(), ENTRY_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, path.read_bytes())


def check_with_launcher_walk(folder, bundle, unzip):
    """The bundle unpacks with the launcher's ZIP walk to exactly the folder's files."""
    if not Path(unzip).is_file():
        raise SystemExit(f"release: {unzip} is missing; build it: cmake --preset native && "
                         "cmake --build --preset native --target pelko_unzip")
    with tempfile.TemporaryDirectory() as dest:
        subprocess.run([str(unzip), str(bundle), dest], check=False, capture_output=True)
        wanted = {p.relative_to(folder).as_posix(): p for p in folder.rglob("*") if p.is_file()}
        got = {p.relative_to(dest).as_posix(): p for p in Path(dest).rglob("*") if p.is_file()}
        for name in sorted(wanted.keys() | got.keys()):
            if name not in got or name not in wanted or got[name].read_bytes() != wanted[name].read_bytes():
                raise SystemExit(f"release: the launcher would not unpack {name!r} from the bundle as it is in "
                                 f"{folder}")


def build_site(folder, version, base_url, out, launcher=None, unzip=DEFAULT_UNZIP, limit=MAX_BUNDLE_BYTES):
    folder, out = Path(folder), Path(out)
    check_version(version)
    base_url = plain_string("base URL", base_url.rstrip("/"))
    if not base_url.startswith(("http://", "https://")):
        raise SystemExit("release: the base URL must start with http:// or https://")
    out.mkdir(parents=True, exist_ok=True)

    bundle_name = plain_string("bundle name", f"pelko-{version}-windows.zip")
    bundle = out / bundle_name
    write_bundle(folder, bundle, limit)
    check_with_launcher_walk(folder, bundle, unzip)
    entry = {"url": f"{base_url}/{bundle_name}", "sha256": sha256_of(bundle)}
    if launcher:
        shutil.copyfile(launcher, out / "Pelko-Setup.exe")
        entry["updater_url"] = f"{base_url}/Pelko-Setup.exe"
        entry["updater_sha256"] = sha256_of(out / "Pelko-Setup.exe")
    manifest = {"version": version, "windows": entry}
    (out / "manifest.json").write_text(json.dumps(manifest, indent=2) + "\n", encoding="utf-8")
    return manifest


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--folder", required=True, help="the client bundle's contents")
    parser.add_argument("--version", required=True, help="the release's version text")
    parser.add_argument("--base-url", required=True, help="where the site folder will be served")
    parser.add_argument("--out", required=True, help="the site folder to write")
    parser.add_argument("--launcher", help="a launcher executable to publish as the update")
    parser.add_argument("--unzip", default=DEFAULT_UNZIP, help="the launcher's ZIP walk as a command (pelko_unzip)")
    args = parser.parse_args(argv)
    manifest = build_site(args.folder, args.version, args.base_url, args.out, args.launcher, args.unzip)
    print(json.dumps(manifest, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
