"""The splash window of the real executable: pixel for pixel what the native
build draws, centred, 460 x 250, deaf to close requests, gone before the
launcher ends after a game start, absent with VELA_NO_SPLASH; and the
executable's icon, version information and manifest as Windows reads them."""

import struct
from concurrent.futures import ThreadPoolExecutor
import time
import unittest
import xml.etree.ElementTree as ET

import harness
import splash_view as view
from scenario import Player, PlayerTest, read_text

UNREACHABLE = "Update server unreachable. Check your connection and reopen."
READY = "READY - STARTING THE GAME"
WS_VISIBLE, WS_CLIPSIBLINGS, WS_EX_WINDOWEDGE = 0x10000000, 0x04000000, 0x00000100


def heads_seen(session, area, frames, launch, seconds):
    """Screenshots until `seconds` pass or the launcher ends: the spinner
    positions of those that equal a native frame exactly, and the last
    screenshot."""
    seen, shot = [], b""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and launch.running():
        shot = view.screenshot(session, *area)
        head = view.matching_head(shot, frames)
        seen += [] if head is None else [head]
        time.sleep(0.03)
    return seen, shot


class SplashWindow(PlayerTest):
    # Screenshots of the shared display: no other launcher may show a window.
    serial = True

    def setUp(self):
        self.assertTrue(view.SPLASH_FRAME.exists(), f"{view.SPLASH_FRAME} is missing; build the native preset")
        self.assertTrue(view.PROBE.exists(), f"{view.PROBE} is missing; build the windows preset")
        super().setUp()
        self.launch = None

    def tearDown(self):
        if self.launch and self.launch.running():
            self.launch.finish(timeout=0)

    def test_an_error_shows_exactly_the_native_picture_in_a_centred_window_that_will_not_close(self):
        self.launch = self.player.start()
        area = view.wait_for_client_area(self.session, self.launch)
        self.assertIsNotNone(area, "no splash window appeared")

        window = view.probe(self.session, "window", "5000")
        self.assertEqual([window[k] for k in ("found", "title", "visible", "client_size", "class_style")],
                         ["1", "Pelko", "1", "460,250", "0x0"])
        self.assertEqual(int(window["style"], 16) & ~(WS_VISIBLE | WS_CLIPSIBLINGS), 0x00C80000)
        self.assertEqual(int(window["exstyle"], 16) & ~WS_EX_WINDOWEDGE, 0)
        left, top, right, bottom = map(int, window["outer"].split(","))
        screen_w, screen_h = map(int, window["screen"].split(","))
        self.assertEqual((left, top), (int((screen_w - (right - left)) / 2), int((screen_h - (bottom - top)) / 2)))
        self.assertEqual(tuple(map(int, window["client_origin"].split(","))), area)

        # The caption shows the class icon: the 16 x 16 image of icon group 1.
        caption_w, caption_h = 48, area[1] - top
        caption = view.screenshot(self.session, left, top, caption_w, caption_h)
        self.assertIsNotNone(view.find_icon(caption, caption_w, caption_h, view.icon_pixels(0), 16),
                             "the caption does not show the launcher's icon")

        # The error stays up for 8 s; the picture must match the native render
        # exactly, spinner included, and keep turning.
        frames = view.native_frames(UNREACHABLE)
        seen, shot = heads_seen(self.session, area, frames, self.launch, 1.5)
        self.assertTrue(seen, f"{view.outside_spinner_differences(shot, frames[0])} pixels differ "
                              "outside the spinner from the native render")
        self.assertGreaterEqual(len(set(seen)), 3, f"the spinner did not turn: {seen}")

        # The close box, the system menu's Close and Alt+F4 all send WM_CLOSE.
        closing = view.probe(self.session, "close")
        self.assertEqual(closing.get("posted"), "1")
        time.sleep(0.5)
        self.assertEqual(view.probe(self.session, "window")["visible"], "1")
        seen, _ = heads_seen(self.session, area, frames, self.launch, 0.5)
        self.assertTrue(seen, "the splash changed after a close request")

        result = self.launch.finish(timeout=60)
        self.assertExit(result, 1)
        self.assertGreaterEqual(result.elapsed, 8.0)

    def test_a_game_start_shows_the_full_bar_then_the_window_goes_before_the_launcher_ends(self):
        self.player.install("1.0")
        self.launch = self.player.start()
        area = view.wait_for_client_area(self.session, self.launch)
        self.assertIsNotNone(area, "no splash window appeared")
        frames = view.native_frames(READY, 100)
        # READY is shown for about a second (600 ms, the game's start, 400 ms).
        shown = harness.poll(lambda: view.matching_head(view.screenshot(self.session, *area), frames) is not None,
                             5, 0, alive=lambda: view.x_windows(self.session))
        self.assertTrue(shown, "the full bar with READY - STARTING THE GAME was never on screen")

        harness.poll(lambda: not view.x_windows(self.session), 60, alive=self.launch.running)
        self.assertTrue(self.launch.running(), "the splash must close during the launcher's last wait")
        self.assertExit(self.launch.finish(timeout=60))
        self.assertIn("argv[0]=", read_text(self.player.home / "game.log"))

    def test_an_empty_vela_no_splash_shows_no_window_and_the_run_still_works(self):
        game = self.player.install("1.0")
        self.launch = self.player.start(env={"VELA_NO_SPLASH": ""})
        windows = []
        while self.launch.running():
            windows += view.x_windows(self.session)
            time.sleep(0.05)
        result = self.launch.finish(timeout=60)
        self.assertEqual(windows, [])
        self.assertExit(result)
        self.assertTrue(any(line.startswith("launch: ") for line in result.lines), result.lines)
        self.assertIn(str(game.name), read_text(self.player.home / "game.log"))


class SplashWithoutDisplay(PlayerTest):
    def test_without_a_display_there_is_no_splash_and_the_game_still_starts(self):
        self.player.install("1.0")
        result = self.player.run(display=False)
        self.assertExit(result)
        self.assertTrue(7.0 <= result.elapsed < 15.0, result.elapsed)
        self.assertIn("argv[0]=", read_text(self.player.home / "game.log"))


class QuickExits(unittest.TestCase):
    def test_runs_that_end_while_the_splash_window_is_being_created_exit_with_their_code(self):
        # The one-tap test mode ends within milliseconds, while the splash
        # thread is still creating its window; under Wine an exit in the
        # middle of that could hang until the process was killed (-9).
        def one_tap(i):
            player = Player(harness.SESSION, f"quick-{i}")
            player.rename_launcher("Pelko-Setup-AB12.exe")
            report = player.root / "onetap.txt"
            result = player.run(env={"VELA_ONETAP_TEST": harness.win_path(report)}, timeout=30)
            return result.returncode, report.exists()

        with ThreadPoolExecutor(max_workers=4) as pool:
            outcomes = list(pool.map(one_tap, range(12)))
        self.assertEqual(outcomes, [(0, True)] * 12)


def icon_file_images(path):
    """The images of an .ico file, in order: (width, height, bytes)."""
    data = path.read_bytes()
    entries = [struct.unpack_from("<BB6xII", data, 6 + 16 * i) for i in range(struct.unpack_from("<H", data, 4)[0])]
    return [(w, h, data[offset:offset + size]) for w, h, size, offset in entries]


class Resources(unittest.TestCase):
    def test_the_executable_carries_its_icon_version_information_and_manifest(self):
        found = view.probe(harness.SESSION, "resources", harness.win_path(harness.LAUNCHER_EXE), display=False)
        # Icon group 1: the 16 and 32 pixel images load, then the version information.
        expected = {"loaded": "1", "icon_16": "16,16", "icon_32": "32,32", "icon_group_entries": "2",
                    "file_version": "1.0.0.0", "product_version": "1.0.0.0", "string_FileVersion": "dev",
                    "string_ProductVersion": "dev", "string_InternalName": "Pelko-Setup",
                    "string_OriginalFilename": "Pelko-Setup.exe", "string_ProductName": "Pelko"}
        self.assertEqual({k: found.get(k) for k in expected}, expected)
        # Its images are the committed PNGs, 32 bits per pixel.
        images = icon_file_images(harness.ROOT / "resources" / "pelko.ico")
        self.assertEqual(found["icon_entry"], [f"{w},{h},32,{len(png)},{png.hex()}" for w, h, png in images])
        self.assertTrue(all(png.startswith(b"\x89PNG\r\n\x1a\n") for _, _, png in images))

        manifest = ET.fromstring(bytes.fromhex(found["manifest"]))
        level = manifest.find(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
        self.assertEqual((level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
        supported = [e.get("Id") for e in manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")]
        self.assertEqual(supported, ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"])
