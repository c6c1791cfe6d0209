"""The release tool writes the one manifest shape the launcher reads."""

import hashlib
import json
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))

import release  # noqa: E402

WINDOWS_LAUNCHER = Path(__file__).resolve().parents[2] / "build" / "windows" / "Pelko-Setup.exe"


def run(*command):
    return subprocess.run([str(c) for c in command], capture_output=True).returncode


class Release(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.root = Path(tmp.name)
        (self.root / "client" / "kestrel-core").mkdir(parents=True)
        (self.root / "client" / "kestrel-core" / "Pelko.exe").write_bytes(b"MZ game")
        (self.root / "client" / "readme.txt").write_text("hello")

    def site(self, out, version="1.4", base="http://127.0.0.1:8000/releases/", launcher=None, **checks):
        return release.build_site(self.root / "client", version, base, self.root / out, launcher=launcher, **checks)

    def refused(self, *naming, **site):
        with self.assertRaises(SystemExit) as refusal:
            self.site("refused", **site)
        for text in naming:
            self.assertIn(text, str(refusal.exception))
        self.assertFalse((self.root / "refused" / "manifest.json").exists())

    def test_the_site_holds_the_same_bundle_for_the_same_input_and_a_manifest_naming_its_digests(self):
        (self.root / "new.exe").write_bytes(b"MZ launcher v2")
        manifest = self.site("site", launcher=self.root / "new.exe")
        bundle, base = self.root / "site" / "pelko-1.4-windows.zip", "http://127.0.0.1:8000/releases"
        self.assertEqual(manifest, {"version": "1.4", "windows": {
            "url": f"{base}/pelko-1.4-windows.zip", "sha256": hashlib.sha256(bundle.read_bytes()).hexdigest(),
            "updater_url": f"{base}/Pelko-Setup.exe", "updater_sha256": hashlib.sha256(b"MZ launcher v2").hexdigest()}})
        text = (self.root / "site" / "manifest.json").read_text()
        self.assertEqual(json.loads(text), manifest)
        # The launcher takes the first quoted "version" and the first "windows".
        self.assertLess(text.index('"version"'), text.index('"windows"'))
        self.assertEqual((self.root / "site" / "Pelko-Setup.exe").read_bytes(), b"MZ launcher v2")
        with zipfile.ZipFile(bundle) as z:
            self.assertEqual(sorted(z.namelist()), ["kestrel-core/Pelko.exe", "readme.txt"])
            self.assertEqual(z.read("kestrel-core/Pelko.exe"), b"MZ game")
        self.assertEqual(self.site("again")["windows"]["sha256"], manifest["windows"]["sha256"])

    def test_what_the_launcher_would_turn_into_harm_is_refused_by_name(self):
        for version in ["a:b", "x/../y", ".5", "1..2", "CON 2", '1"2', "1\\2", "1\n2"]:
            self.refused(repr(version), version=version)
        self.refused("http:// or https://", base="ftp://h/r")
        client = self.root / "client"
        for name, problem in [("notes..txt", "'..'"), ("CON", "device"), ("lpt9.log", "device"), ("Aux.tar.gz", "device"),
                              ("dot.", "trailing"), ("space ", "trailing"), ("a:b", "colon"), ("a\\b", "backslash"),
                              ("caf\u00e9", "ASCII")]:
            (client / "kestrel-core" / name).write_text("x")
            self.refused(repr("kestrel-core/" + name), problem)
            (client / "kestrel-core" / name).unlink()
        self.refused("more than 10", limit=10)
        # The bundle must unpack, with the launcher's own walk, to the folder's files.
        self.refused("'kestrel-core/Pelko.exe'", unzip="/bin/true")
        (client / "readme.txt").unlink()
        (client / "kestrel-core" / "Pelko.exe").unlink()
        self.refused("holds no files")

    def test_a_signed_site_holds_one_signature_per_key_that_openssl_verifies_over_the_manifest_bytes(self):
        keys = [release.keygen(self.root / name) for name in ("old", "new")]
        self.assertEqual([private.stat().st_mode & 0o777 for private, _ in keys], [0o600, 0o600])
        self.assertEqual(self.site("site", sign_keys=[k[0] for k in keys], serial="42")["serial"], "42")
        manifest, tampered = self.root / "site" / "manifest.json", self.root / "tampered.json"
        tampered.write_bytes(manifest.read_bytes().replace(b"1.4", b"1.5"))
        lines = (self.root / "site" / "manifest.json.sig").read_text()
        self.assertRegex(lines, r"\A([0-9a-f]{128}\n){2}\Z")
        for (_, public), line in zip(keys, lines.split()):
            # openssl itself makes the DER ECDSA-Sig-Value of r and s.
            der = f"asn1=SEQUENCE:s\n[s]\nr=INTEGER:0x{line[:64]}\ns=INTEGER:0x{line[64:]}\n"
            (self.root / "der.conf").write_text(der)
            run("openssl", "asn1parse", "-genconf", self.root / "der.conf", "-out", self.root / "sig.der", "-noout")
            check = ["openssl", "dgst", "-sha256", "-verify", public, "-signature", self.root / "sig.der"]
            self.assertEqual((run(*check, manifest), run(*check, tampered)), (0, 1))

    def test_a_serial_never_goes_down_nor_names_other_bytes(self):
        key = [release.keygen(self.root / "key")[0]]
        self.site("site", sign_keys=key, serial="20")
        published = (self.root / "site" / "manifest.json").read_bytes()
        (self.root / "client" / "readme.txt").write_text("changed")
        for serial, naming in [("9", "9 is below 20"), ("020", "020 is already published"), ("12a", "'12a'"),
                               ("", "''"), ("1" * 19, "1" * 19)]:
            with self.assertRaisesRegex(SystemExit, naming):
                self.site("site", sign_keys=key, serial=serial)
        self.assertEqual((self.root / "site" / "manifest.json").read_bytes(), published)
        (self.root / "client" / "readme.txt").write_text("hello")
        self.site("site", sign_keys=key, serial="20")
        self.assertEqual(self.site("site", sign_keys=key, serial="0100")["serial"], "0100")

    def test_the_launcher_is_published_with_an_authenticode_signature(self):
        self.assertTrue(WINDOWS_LAUNCHER.is_file(), f"{WINDOWS_LAUNCHER} is missing: scripts/build.sh windows")
        r = self.root
        (r / "pass.txt").write_text("secret\n")
        run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
            r / "key.pem", "-out", r / "cert.pem", "-subj", "/CN=Pelko test", "-addext", "extendedKeyUsage=codeSigning")
        run("openssl", "pkcs12", "-export", "-inkey", r / "key.pem", "-in", r / "cert.pem", "-out", r / "code.pfx",
            "-passout", f"file:{r / 'pass.txt'}")
        manifest = self.site("site", launcher=WINDOWS_LAUNCHER, authenticode=(r / "code.pfx", r / "pass.txt"))
        signed = r / "site" / "Pelko-Setup.exe"
        self.assertEqual(run("osslsigncode", "verify", "-CAfile", r / "cert.pem", "-in", signed), 0)
        self.assertEqual(manifest["windows"]["updater_sha256"], hashlib.sha256(signed.read_bytes()).hexdigest())
        (r / "pass.txt").write_text("wrong\n")
        with self.assertRaisesRegex(SystemExit, "osslsigncode could not sign"):
            self.site("again", launcher=WINDOWS_LAUNCHER, authenticode=(r / "code.pfx", r / "pass.txt"))

if __name__ == "__main__":
    unittest.main()
