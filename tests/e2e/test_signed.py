"""A launcher built with release keys checks signed manifests with Windows' own BCrypt: what it reads, what it
refuses, and that the installed version starts whatever the host serves."""

import shutil

import release
from harness import KEYED_LAUNCHER_EXE, ROOT, PlayerTest, Site

KEYS = ROOT / "build" / "test-keys"  # the launcher's two keys, made by scripts/test.sh
REFUSED = "  (manifest signature missing or invalid \u2014 launching installed/bundled app without update)"


class SignedRelease(PlayerTest):
    def setUp(self):
        super().setUp()
        shutil.copy2(KEYED_LAUNCHER_EXE, self.player.launcher)
        self.site = Site(self)

    def publish(self, version, serial, key="first"):
        self.site.publish(version, sign_keys=[KEYS / key / "release-key.pem"], serial=serial)

    def run_and_check(self, line, installed, game=False):
        r = self.player.run("pelko://join/ab12", env={} if game else {"VELA_INSTALL_ONLY": ""})
        self.assertExit(r)
        self.assertIn(line, r.lines)
        self.assertEqual((self.player.home / "version.txt").read_bytes(), f"{installed}\r\n".encode())

    def test_bcrypt_reads_manifests_either_built_in_key_signed_and_refuses_other_keys_and_changed_bytes(self):
        self.publish("1.0", 200)
        self.run_and_check("remote version: 1.0", "1.0", game=True)
        self.assertEqual(self.player.game_report()["argv"][-1], "--room=AB12")
        self.assertEqual((self.player.home / "serial.txt").read_bytes(), b"200\r\n")
        release.keygen(self.player.root / "stranger")
        stranger = self.player.root / "stranger" / "release-key.pem"
        self.site.publish("1.1", sign_keys=[stranger], serial=201)
        self.run_and_check(REFUSED, "1.0")
        self.publish("1.1", 202)
        manifest = self.site.releases / "manifest.json"
        manifest.write_bytes(manifest.read_bytes().replace(b"1.1", b"1.2"))  # one byte changed
        self.run_and_check(REFUSED, "1.0")
        self.publish("1.1", 300, key="second")  # the other built-in key, as during a key rotation
        self.run_and_check("remote version: 1.1", "1.1")
