"""The release tool writes the one manifest shape the launcher reads."""

import hashlib
import json
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))

import release  # noqa: E402


class Release(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = Path(self.tmp.name)
        self.folder = self.root / "client"
        (self.folder / "kestrel-core").mkdir(parents=True)
        (self.folder / "kestrel-core" / "Pelko.exe").write_bytes(b"MZ game")
        (self.folder / "readme.txt").write_text("hello")

    def tearDown(self):
        self.tmp.cleanup()

    def test_the_site_holds_the_bundle_and_a_manifest_naming_its_digest(self):
        site = self.root / "site"
        release.build_site(self.folder, "1.4", "http://127.0.0.1:8000/releases/", site)
        text = (site / "manifest.json").read_text()
        manifest = json.loads(text)
        bundle = site / "pelko-1.4-windows.zip"
        self.assertEqual(manifest, {"version": "1.4", "windows": {
            "url": "http://127.0.0.1:8000/releases/pelko-1.4-windows.zip",
            "sha256": hashlib.sha256(bundle.read_bytes()).hexdigest()}})
        # The launcher takes the first quoted "version" and the first "windows".
        self.assertLess(text.index('"version"'), text.index('"windows"'))
        with zipfile.ZipFile(bundle) as z:
            self.assertEqual(sorted(z.namelist()), ["kestrel-core/Pelko.exe", "readme.txt"])
            self.assertEqual(z.read("kestrel-core/Pelko.exe"), b"MZ game")

    def test_the_same_input_gives_the_same_archive(self):
        a = release.build_site(self.folder, "2", "http://h/r", self.root / "a")
        b = release.build_site(self.folder, "2", "http://h/r", self.root / "b")
        self.assertEqual(a["windows"]["sha256"], b["windows"]["sha256"])

    def test_a_launcher_build_is_published_with_its_digest(self):
        exe = self.root / "new.exe"
        exe.write_bytes(b"MZ launcher v2")
        manifest = release.build_site(self.folder, "2", "http://h/r", self.root / "site", launcher=exe)
        self.assertEqual(manifest["windows"]["updater_url"], "http://h/r/Pelko-Setup.exe")
        self.assertEqual(manifest["windows"]["updater_sha256"], hashlib.sha256(b"MZ launcher v2").hexdigest())
        self.assertEqual((self.root / "site" / "Pelko-Setup.exe").read_bytes(), b"MZ launcher v2")

    def test_values_the_launcher_cannot_read_are_refused(self):
        for version in ('1"2', "1\\2", "1\n2"):
            with self.assertRaises(SystemExit):
                release.build_site(self.folder, version, "http://h/r", self.root / "x")
        with self.assertRaises(SystemExit):
            release.build_site(self.folder, "1", "ftp://h/r", self.root / "x")
        empty = self.root / "empty"
        empty.mkdir()
        with self.assertRaises(SystemExit):
            release.build_site(empty, "1", "http://h/r", self.root / "x")


if __name__ == "__main__":
    unittest.main()
