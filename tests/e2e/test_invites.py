"""Invites end to end: the installer renames and installs itself, the URL
scheme is registered for the current user, the one-tap report, and a click on
an invite link as the shell performs it."""

import re

import harness
from scenario import PlayerTest, read_text, win_path

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


class InviteInstaller(PlayerTest):
    # The registry is one per Wine prefix: these tests read it back, so they
    # run alone.
    serial = True

    def test_an_invite_installer_renames_itself_installs_and_registers_the_scheme(self):
        p = self.player
        p.install("1.0")
        p.rename_launcher("Pelko-Setup-AB12.exe")
        (p.downloads / "Pelko-Setup.exe").write_bytes(b"an older download")
        self.assertExit(p.run())
        self.assertFalse((p.downloads / "Pelko-Setup-AB12.exe").exists())
        self.assertEqual((p.downloads / "Pelko-Setup.exe").read_bytes(), harness.LAUNCHER_EXE.read_bytes())
        installed = p.home / "Pelko-Setup.exe"
        self.assertEqual(installed.read_bytes(), harness.LAUNCHER_EXE.read_bytes())
        self.assertEqual((p.home / "updater.txt").read_bytes(), win_path(installed).encode())
        self.assertEqual(p.game_report().argv[-1], "--room=AB12")

        expected = [(r"Software\Classes\pelko", "(Default)", "URL:Pelko"),
                    (r"Software\Classes\pelko", "URL Protocol", ""),
                    (r"Software\Classes\pelko\shell\open\command", "(Default)", f'"{win_path(installed)}" --url "%1"')]
        rc, values = registered_values(self.session)
        self.assertEqual(rc, 0)
        self.assertEqual(sorted(values), sorted(("HKEY_CURRENT_USER\\" + key, name, "REG_SZ", data)
                                                for key, name, data in expected))
        # Stored lengths count the terminating NUL.
        for key, name, data in expected:
            args = ["regvalue", key] + ([] if name == "(Default)" else [name])
            value = self.session.run(harness.TEST_HELPER_EXE, args, display=False)
            stored = data.encode() + bytes(1)
            self.assertEqual(value.lines[0], f"type=1 length={len(stored)} hex={stored.hex()}")

    def test_a_click_on_a_link_starts_the_installed_launcher_with_the_room(self):
        p = self.player
        p.install("1.0")
        self.assertExit(p.run())
        rc, values = registered_values(self.session)
        command = next(data for key, name, kind, data in values if key.endswith("command"))
        self.assertEqual(command, f'"{win_path(p.home / "Pelko-Setup.exe")}" --url "%1"')
        # What the shell does: %1 replaced by the link, the result started as
        # one command line.
        line_file = p.root / "click.txt"
        line_file.write_bytes(command.replace("%1", "pelko://join/wxyz").encode())
        r = self.session.run(harness.TEST_HELPER_EXE, ["run-file", win_path(line_file)], env=p.env(), cwd=p.root)
        self.assertExit(r)
        self.assertLogged(r, "exit=0")
        self.assertEqual(read_text(p.home / "game.1.log"), read_text(p.home / "game.prev.log"))
        report = p.game_report()
        self.assertEqual(report.argv[-1], "--room=WXYZ")
        self.assertTrue(report.cmdline.endswith(" 6100 --room=WXYZ"), report.cmdline)


class OneTapReport(PlayerTest):
    def one_tap(self):
        report = self.player.root / "onetap.txt"
        r = self.player.run(env={"VELA_ONETAP_TEST": win_path(report)})
        self.assertExit(r)
        return r, report.read_bytes()

    def test_the_report_names_the_code_from_the_file_name_with_crlf(self):
        self.player.rename_launcher("Pelko-Setup-AB12.exe")
        r, report = self.one_tap()
        self.assertLess(r.elapsed, 5.0)
        self.assertEqual(report, b"roomcode=AB12 from_filename=1\r\n")
        # Installed before the report, and the update site never asked.
        self.assertTrue((self.player.home / "Pelko-Setup.exe").exists())
        self.assertFalse(any(l.startswith("checking ") for l in r.lines), r.lines)

    def test_without_an_invite_the_report_has_an_empty_code(self):
        self.assertEqual(self.one_tap()[1], b"roomcode= from_filename=0\r\n")
