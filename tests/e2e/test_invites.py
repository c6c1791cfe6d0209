"""Invites end to end: the installer renames and installs itself, the URL
scheme is registered for the current user, the one-tap report, and a click on
an invite link as the shell performs it."""

import re
import unittest

import harness
from scenario import Player, read_text, win_path

SCHEME_KEY = r"HKCU\Software\Classes\pelko"


def registered_values(session):
    """(key, name, type, data) of every value under the scheme key, as reg query prints them."""
    rc, text = session.reg_query(SCHEME_KEY)
    values, key = [], None
    for line in text.replace("\r\n", "\n").split("\n"):
        if line.startswith("HKEY_"):
            key = line.strip()
        elif line.startswith("    ") and line.strip():
            name, kind, *data = re.split(r" {4}", line.strip(), maxsplit=2)
            values.append((key, name, kind, data[0] if data else ""))
    return rc, values


class InviteInstaller(unittest.TestCase):
    # The registry is one per Wine prefix: these tests read it back, so they
    # run alone.
    serial = True

    def setUp(self):
        self.player = Player(harness.SESSION, self.id().rsplit(".", 1)[-1])

    def test_an_invite_installer_renames_itself_installs_and_registers_the_scheme(self):
        p = self.player
        p.install("1.0")
        p.rename_launcher("Pelko-Setup-AB12.exe")
        (p.downloads / "Pelko-Setup.exe").write_bytes(b"an older download")
        r = p.run()
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertFalse((p.downloads / "Pelko-Setup-AB12.exe").exists())
        self.assertEqual((p.downloads / "Pelko-Setup.exe").read_bytes(), harness.LAUNCHER_EXE.read_bytes())
        installed = p.home / "Pelko-Setup.exe"
        self.assertEqual(installed.read_bytes(), harness.LAUNCHER_EXE.read_bytes())
        self.assertEqual((p.home / "updater.txt").read_bytes(), win_path(installed).encode())
        self.assertEqual(p.game_report().argv[-1], "--room=AB12")

        rc, values = registered_values(harness.SESSION)
        self.assertEqual(rc, 0)
        self.assertEqual(sorted(values), sorted([
            ("HKEY_CURRENT_USER\\Software\\Classes\\pelko", "(Default)", "REG_SZ", "URL:Pelko"),
            ("HKEY_CURRENT_USER\\Software\\Classes\\pelko", "URL Protocol", "REG_SZ", ""),
            ("HKEY_CURRENT_USER\\Software\\Classes\\pelko\\shell\\open\\command", "(Default)", "REG_SZ",
             f'"{win_path(installed)}" --url "%1"'),
        ]))
        # Stored lengths count the terminating NUL.
        command = f'"{win_path(installed)}" --url "%1"'
        for key, name, data in ((r"Software\Classes\pelko", None, "URL:Pelko"),
                                (r"Software\Classes\pelko", "URL Protocol", ""),
                                (r"Software\Classes\pelko\shell\open\command", None, command)):
            args = ["regvalue", key] + ([name] if name else [])
            value = harness.SESSION.run(harness.TEST_HELPER_EXE, args, display=False)
            stored = data.encode() + bytes(1)
            self.assertEqual(value.lines[0], f"type=1 length={len(stored)} hex={stored.hex()}")

    def test_a_click_on_a_link_starts_the_installed_launcher_with_the_room(self):
        p = self.player
        p.install("1.0")
        first = p.run()
        self.assertEqual(first.returncode, 0)
        rc, values = registered_values(harness.SESSION)
        command = next(data for key, name, kind, data in values if key.endswith("command"))
        self.assertEqual(command, f'"{win_path(p.home / "Pelko-Setup.exe")}" --url "%1"')
        # What the shell does: %1 replaced by the link, the result started as
        # one command line.
        line_file = p.root / "click.txt"
        line_file.write_bytes(command.replace("%1", "pelko://join/wxyz").encode())
        r = harness.SESSION.run(harness.TEST_HELPER_EXE, ["run-file", win_path(line_file)], env=p.env(), cwd=p.root)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertTrue(r.logged("exit=0"), r.lines)
        self.assertEqual(read_text(p.home / "game.1.log"), read_text(p.home / "game.prev.log"))
        report = p.game_report()
        self.assertEqual(report.argv[-1], "--room=WXYZ")
        self.assertTrue(report.cmdline.endswith(" 6100 --room=WXYZ"), report.cmdline)


class OneTapReport(unittest.TestCase):
    def setUp(self):
        self.player = Player(harness.SESSION, self.id().rsplit(".", 1)[-1])

    def test_the_report_names_the_code_from_the_file_name_with_crlf(self):
        p = self.player
        p.rename_launcher("Pelko-Setup-AB12.exe")
        report = p.root / "onetap.txt"
        r = p.run(env={"VELA_ONETAP_TEST": win_path(report)})
        self.assertEqual(r.returncode, 0)
        self.assertLess(r.elapsed, 5.0)
        self.assertEqual(report.read_bytes(), b"roomcode=AB12 from_filename=1\r\n")
        # Installed before the report, and the update site never asked.
        self.assertTrue((p.home / "Pelko-Setup.exe").exists())
        self.assertFalse(any(l.startswith("checking ") for l in r.lines), r.lines)

    def test_without_an_invite_the_report_has_an_empty_code(self):
        p = self.player
        report = p.root / "onetap.txt"
        r = p.run(env={"VELA_ONETAP_TEST": win_path(report)})
        self.assertEqual(r.returncode, 0)
        self.assertEqual(report.read_bytes(), b"roomcode= from_filename=0\r\n")


if __name__ == "__main__":
    unittest.main()
