#!/usr/bin/env python3
"""Builds a Pelko update site from a client folder.

    tools/release.py --folder client/ --version 1.4 --base-url https://updates.example.org/releases \
                     --out site/ [--launcher Pelko-Setup.exe]

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
import shutil
import sys
import zipfile
from pathlib import Path

# Fixed entry times keep the archive (and so its digest) the same for the same input.
ENTRY_TIME = (2020, 1, 1, 0, 0, 0)


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


def write_bundle(folder, archive):
    files = sorted(p for p in folder.rglob("*") if p.is_file())
    if not files:
        raise SystemExit(f"release: {folder} holds no files")
    with zipfile.ZipFile(archive, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for path in files:
            info = zipfile.ZipInfo(path.relative_to(folder).as_posix(), ENTRY_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, path.read_bytes())


def build_site(folder, version, base_url, out, launcher=None):
    folder, out = Path(folder), Path(out)
    plain_string("version", version)
    base_url = plain_string("base URL", base_url.rstrip("/"))
    if not base_url.startswith(("http://", "https://")):
        raise SystemExit("release: the base URL must start with http:// or https://")
    out.mkdir(parents=True, exist_ok=True)

    bundle_name = plain_string("bundle name", f"pelko-{version}-windows.zip")
    bundle = out / bundle_name
    write_bundle(folder, bundle)
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
    args = parser.parse_args(argv)
    manifest = build_site(args.folder, args.version, args.base_url, args.out, args.launcher)
    print(json.dumps(manifest, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
