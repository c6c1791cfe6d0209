#!/usr/bin/env python3
"""Builds a Pelko update site from a client folder.

    tools/release.py --folder client/ --version 1.4 --base-url https://updates.example.org/releases \
                     --out site/ [--launcher Pelko-Setup.exe] [--unzip build/native/tools/pelko_unzip] \
                     [--sign-key release-key.pem [--sign-key new-key.pem] [--serial N]] \
                     [--authenticode-pfx code.pfx [--authenticode-password-file code.pass]]
    tools/release.py keygen --out keys/

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
                                 (with --authenticode-pfx: signed by osslsigncode first)
  manifest.json.sig              with --sign-key: per key, in the order given, the ECDSA P-256
                                 signature of manifest.json's bytes as 128 hex digits (r then s)

A signed manifest carries a "serial" that never goes down from one publication
to the next in the same site folder, and is never reused for different bytes.
Everything is written to a staging folder first and moved into the site only
when every check has passed, the manifest last.

Serve the folder at --base-url. The launcher finds the manifest by searching the
text, so the manifest is written in the one shape it reads: "version" first,
then the "windows" entry, every value a plain string.
"""

import argparse
import filecmp
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from datetime import datetime, timezone
from pathlib import Path

# Fixed entry times keep the archive (and so its digest) the same for the same input.
ENTRY_TIME = (2020, 1, 1, 0, 0, 0)
MAX_BUNDLE_BYTES = 2 << 30
DEFAULT_UNZIP = Path(__file__).resolve().parent.parent / "build" / "native" / "tools" / "pelko_unzip"
# The DER SubjectPublicKeyInfo of every P-256 key starts with these bytes (id-ecPublicKey, prime256v1).
P256_PUBLIC_KEY_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
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
            info.file_size = path.stat().st_size  # as writestr would set it: the same bytes, read in pieces
            with open(path, "rb") as source, z.open(info, "w") as entry:
                shutil.copyfileobj(source, entry, 1 << 20)


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
            if name not in got or name not in wanted or not filecmp.cmp(got[name], wanted[name], shallow=False):
                raise SystemExit(f"release: the launcher would not unpack {name!r} from the bundle as it is in "
                                 f"{folder}")


def openssl(*args):
    done = subprocess.run(["openssl", *map(str, args)], capture_output=True)
    if done.returncode:
        raise SystemExit(f"release: openssl {args[0]} failed: {done.stderr.decode(errors='replace').strip()}")
    return done.stdout


def keygen(out):
    """A new release key: the private half readable by its owner only, the public half for launcher builds."""
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    private, public = out / "release-key.pem", out / "release-key.pub.pem"
    for path in (private, public):
        if path.exists():
            raise SystemExit(f"release: {path} exists; a key is never overwritten")
    pem = openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
    with os.fdopen(os.open(private, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as f:
        f.write(pem)
    openssl("pkey", "-in", private, "-pubout", "-out", public)
    return private, public


def check_serial(serial):
    if not re.fullmatch(r"[0-9]{1,18}", serial):
        raise SystemExit(f"release: the serial must be 1 to 18 decimal digits: {serial!r}")
    return serial


def published_serial(manifest):
    """The serial of the manifest already in the site folder, or None."""
    if not manifest.is_file():
        return None
    try:
        serial = json.loads(manifest.read_bytes()).get("serial")
    except (ValueError, AttributeError):
        raise SystemExit(f"release: {manifest} is not a manifest this tool wrote; move it away first") from None
    return None if serial is None else check_serial(serial)


def raw_signature(der):
    """An ECDSA-Sig-Value (SEQUENCE of INTEGER r, INTEGER s) as r then s, 32 big-endian bytes each."""
    values, at = [], 2
    if len(der) >= 2 and der[0] == 0x30 and der[1] == len(der) - 2:
        while at + 2 <= len(der) and der[at] == 0x02 and len(values) < 2:
            end = at + 2 + der[at + 1]
            values.append(der[at + 2:end].lstrip(b"\0"))
            at = end
    if len(values) != 2 or at != len(der) or any(len(v) > 32 for v in values):
        raise SystemExit("release: openssl gave a signature that is not ECDSA over P-256")
    return b"".join(v.rjust(32, b"\0") for v in values)


def der_signature(raw):
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        value = b"\0" + value if value[0] & 0x80 else value
        return bytes([0x02, len(value)]) + value
    body = integer(raw[:32]) + integer(raw[32:])
    return bytes([0x30, len(body)]) + body


def sign_manifest(manifest, keys):
    """Writes manifest.json.sig beside the manifest and checks every line against its key's public half.
    Works in the caller's staging folder, so a refusal leaves no signature behind."""
    publics = []
    for n, key in enumerate(keys):
        publics.append(manifest.with_name(f"key{n}.der"))
        publics[-1].write_bytes(openssl("pkey", "-in", key, "-pubout", "-outform", "DER"))
        if not publics[-1].read_bytes().startswith(P256_PUBLIC_KEY_PREFIX):
            raise SystemExit(f"release: {key} is not an ECDSA P-256 key (make one with: release.py keygen)")
    signature = manifest.with_name("manifest.json.sig")
    signature.write_text("".join(raw_signature(openssl("dgst", "-sha256", "-sign", key, manifest)).hex() + "\n"
                                 for key in keys))
    for n, (key, public, line) in enumerate(zip(keys, publics, signature.read_text().splitlines())):
        der = manifest.with_name(f"signature{n}.der")
        der.write_bytes(der_signature(bytes.fromhex(line)))
        check = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public, "-keyform", "DER",
                                "-signature", der, manifest], capture_output=True)
        if check.returncode:
            raise SystemExit(f"release: the signature by {key} does not verify with its public key")


def authenticode_sign(exe, signed, pfx, password_file=None):
    """Signs the launcher executable into `signed`. The password, stripped of its line end, reaches
    osslsigncode in a file of its own beside `signed` (a private staging folder), never on a command line."""
    command = ["osslsigncode", "sign", "-pkcs12", str(pfx), "-in", str(exe), "-out", str(signed)]
    if password_file:
        password = Path(password_file).read_bytes().removesuffix(b"\n").removesuffix(b"\r")
        passfile = signed.with_name("authenticode.pass")
        with os.fdopen(os.open(passfile, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as f:
            f.write(password)
        command[4:4] = ["-readpass", str(passfile)]
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True)
    except FileNotFoundError:
        raise SystemExit("release: osslsigncode is missing; scripts/setup.sh installs it") from None
    if done.returncode:
        raise SystemExit(f"release: osslsigncode could not sign {exe} with {pfx}: "
                         f"{(done.stdout + done.stderr).decode(errors='replace').strip()}")


def build_site(folder, version, base_url, out, launcher=None, unzip=DEFAULT_UNZIP, limit=MAX_BUNDLE_BYTES,
               sign_keys=(), serial=None, authenticode=None):
    """authenticode: (PKCS#12 file, password file or None) to sign the launcher with."""
    folder, out = Path(folder), Path(out)
    check_version(version)
    base_url = plain_string("base URL", base_url.rstrip("/"))
    if not base_url.startswith(("http://", "https://")):
        raise SystemExit("release: the base URL must start with http:// or https://")
    if sign_keys:
        if serial is None:
            serial = datetime.now(timezone.utc).strftime("%Y%m%d%H%M%S")
        serial = check_serial(str(serial))
        old_manifest = out / "manifest.json"
        old_serial = published_serial(old_manifest)
        if old_serial is not None and int(serial) < int(old_serial):
            raise SystemExit(f"release: the serial {serial} is below {old_serial}, the serial of {old_manifest}")
    out.mkdir(parents=True, exist_ok=True)

    with tempfile.TemporaryDirectory(dir=out, prefix=".release-") as staging:
        staging = Path(staging)
        bundle_name = plain_string("bundle name", f"pelko-{version}-windows.zip")
        write_bundle(folder, staging / bundle_name, limit)
        check_with_launcher_walk(folder, staging / bundle_name, unzip)
        entry = {"url": f"{base_url}/{bundle_name}", "sha256": sha256_of(staging / bundle_name)}
        if launcher:
            if authenticode:
                authenticode_sign(launcher, staging / "Pelko-Setup.exe", *authenticode)
            else:
                shutil.copyfile(launcher, staging / "Pelko-Setup.exe")
            entry["updater_url"] = f"{base_url}/Pelko-Setup.exe"
            entry["updater_sha256"] = sha256_of(staging / "Pelko-Setup.exe")
        manifest = {"version": version, "windows": entry}
        if sign_keys:
            manifest["serial"] = serial
        text = (json.dumps(manifest, indent=2) + "\n").encode("utf-8")
        if sign_keys and old_serial is not None and int(serial) == int(old_serial) \
                and text != old_manifest.read_bytes():
            raise SystemExit(f"release: the serial {serial} is already published in {old_manifest} with other "
                             "content; give a higher one")
        (staging / "manifest.json").write_bytes(text)
        if sign_keys:
            sign_manifest(staging / "manifest.json", sign_keys)
        # What the manifest names goes first, the manifest last.
        for name in (bundle_name, "Pelko-Setup.exe", "manifest.json.sig", "manifest.json"):
            if (staging / name).exists():
                os.replace(staging / name, out / name)
    return manifest


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] == ["keygen"]:
        parser = argparse.ArgumentParser(prog="release.py keygen", description="Writes a new ECDSA P-256 release key.")
        parser.add_argument("--out", required=True, help="the folder for release-key.pem and release-key.pub.pem")
        private, public = keygen(parser.parse_args(argv[1:]).out)
        print(f"release: wrote {private} (keep it offline) and {public} (for PELKO_RELEASE_KEY)")
        return 0
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--folder", required=True, help="the client bundle's contents")
    parser.add_argument("--version", required=True, help="the release's version text")
    parser.add_argument("--base-url", required=True, help="where the site folder will be served")
    parser.add_argument("--out", required=True, help="the site folder to write")
    parser.add_argument("--launcher", help="a launcher executable to publish as the update")
    parser.add_argument("--unzip", default=DEFAULT_UNZIP, help="the launcher's ZIP walk as a command (pelko_unzip)")
    parser.add_argument("--sign-key", action="append", default=[], metavar="PRIVATE_PEM",
                        help="sign the manifest with this ECDSA P-256 key (twice: with both keys, in that order)")
    parser.add_argument("--serial", help="the signed manifest's serial, 1 to 18 digits (default: the UTC time "
                        "as YYYYMMDDhhmmss)")
    parser.add_argument("--authenticode-pfx", help="sign the --launcher executable with this PKCS#12 file")
    parser.add_argument("--authenticode-password-file", help="a file holding the PKCS#12 file's password")
    args = parser.parse_args(argv)
    if len(args.sign_key) > 2:
        parser.error("a launcher holds at most two keys: give --sign-key once or twice")
    if args.serial is not None and not args.sign_key:
        parser.error("--serial needs --sign-key")
    if args.authenticode_pfx and not args.launcher:
        parser.error("--authenticode-pfx needs --launcher")
    if args.authenticode_password_file and not args.authenticode_pfx:
        parser.error("--authenticode-password-file needs --authenticode-pfx")
    authenticode = (args.authenticode_pfx, args.authenticode_password_file) if args.authenticode_pfx else None
    manifest = build_site(args.folder, args.version, args.base_url, args.out, args.launcher, args.unzip,
                          sign_keys=args.sign_key, serial=args.serial, authenticode=authenticode)
    print(json.dumps(manifest, indent=2))
    if args.sign_key:
        print(f"serial {manifest['serial']}: build the launchers shipped with this release with "
              f"PELKO_RELEASE_SERIAL_FLOOR={manifest['serial']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
