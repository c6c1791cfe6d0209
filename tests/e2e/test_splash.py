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
from scenario import Player, read_text

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
        if head is not None:
            seen.append(head)
        time.sleep(0.03)
    return seen, shot


class SplashWindow(unittest.TestCase):
    # Screenshots of the shared display: no other launcher may show a window.
    serial = True

    def setUp(self):
        self.assertTrue(view.SPLASH_FRAME.exists(), f"{view.SPLASH_FRAME} is missing; build the native preset")
        self.assertTrue(view.PROBE.exists(), f"{view.PROBE} is missing; build the windows preset")
        self.session = harness.SESSION
        self.player = Player(self.session, self.id().rsplit(".", 1)[-1])
        self.launch = None

    def tearDown(self):
        if self.launch and self.launch.running():
            self.launch.finish(timeout=0)

    def test_an_error_shows_exactly_the_native_picture_in_a_centred_window_that_will_not_close(self):
        self.launch = self.player.start()
        area = view.wait_for_client_area(self.session, self.launch)
        self.assertIsNotNone(area, "no splash window appeared")

        window = view.probe(self.session, "window", "5000")
        self.assertEqual(window["found"], "1")
        self.assertEqual(window["title"], "Pelko")
        self.assertEqual(window["visible"], "1")
        self.assertEqual(int(window["style"], 16) & ~(WS_VISIBLE | WS_CLIPSIBLINGS), 0x00C80000)
        self.assertEqual(int(window["exstyle"], 16) & ~WS_EX_WINDOWEDGE, 0)
        self.assertEqual(window["client_size"], "460,250")
        left, top, right, bottom = map(int, window["outer"].split(","))
        screen_w, screen_h = map(int, window["screen"].split(","))
        self.assertEqual(left, int((screen_w - (right - left)) / 2))
        self.assertEqual(top, int((screen_h - (bottom - top)) / 2))
        self.assertEqual(tuple(map(int, window["client_origin"].split(","))), area)
        self.assertEqual(window["class_style"], "0x0")

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
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertGreaterEqual(result.elapsed, 8.0)

    def test_a_game_start_shows_the_full_bar_then_the_window_goes_before_the_launcher_ends(self):
        self.player.install("1.0")
        self.launch = self.player.start()
        area = view.wait_for_client_area(self.session, self.launch)
        self.assertIsNotNone(area, "no splash window appeared")
        frames = view.native_frames(READY, 100)
        # READY is shown for about a second (600 ms, the game's start, 400 ms).
        seen = []
        deadline = time.monotonic() + 5
        while not seen and time.monotonic() < deadline and view.x_windows(self.session):
            head = view.matching_head(view.screenshot(self.session, *area), frames)
            seen += [] if head is None else [head]
        self.assertTrue(seen, "the full bar with READY - STARTING THE GAME was never on screen")

        while view.x_windows(self.session) and self.launch.running():
            time.sleep(0.05)
        self.assertTrue(self.launch.running(), "the splash must close during the launcher's last wait")
        result = self.launch.finish(timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout)
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
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertTrue(any(line.startswith("launch: ") for line in result.lines), result.lines)
        self.assertIn(str(game.name), read_text(self.player.home / "game.log"))


class SplashWithoutDisplay(unittest.TestCase):
    def test_without_a_display_there_is_no_splash_and_the_game_still_starts(self):
        player = Player(harness.SESSION, "no-display")
        player.install("1.0")
        result = player.run(display=False)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertGreaterEqual(result.elapsed, 7.0)
        self.assertLess(result.elapsed, 15.0)
        self.assertIn("argv[0]=", read_text(player.home / "game.log"))


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
    """The images of an .ico file, in order: (width, height, bits, bytes)."""
    data = path.read_bytes()
    (count,) = struct.unpack("<H", data[4:6])
    images = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack("<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        images.append((w, h, bits, data[offset:offset + size]))
    return images


class Resources(unittest.TestCase):
    def test_the_executable_carries_its_icon_version_information_and_manifest(self):
        found = view.probe(harness.SESSION, "resources", harness.win_path(harness.LAUNCHER_EXE), display=False)
        self.assertEqual(found.get("loaded"), "1")

        # Icon group 1: the 16 and 32 pixel images load, and are the committed
        # PNGs, 32 bits per pixel.
        self.assertEqual(found["icon_16"], "16,16")
        self.assertEqual(found["icon_32"], "32,32")
        self.assertEqual(found["icon_group_entries"], "2")
        entries = found["icon_entry"]
        expected = icon_file_images(harness.ROOT / "resources" / "pelko.ico")
        self.assertEqual(len(entries), len(expected))
        for entry, (w, h, bits, png) in zip(entries, expected):
            width, height, bit_count, size, data = entry.split(",")
            self.assertEqual((int(width), int(height), int(bit_count), int(size)), (w, h, 32, len(png)))
            self.assertEqual(bytes.fromhex(data), png)
            self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")

        self.assertEqual(found["file_version"], "1.0.0.0")
        self.assertEqual(found["product_version"], "1.0.0.0")
        self.assertEqual(found["string_FileVersion"], "dev")
        self.assertEqual(found["string_ProductVersion"], "dev")
        self.assertEqual(found["string_InternalName"], "Pelko-Setup")
        self.assertEqual(found["string_OriginalFilename"], "Pelko-Setup.exe")
        self.assertEqual(found["string_ProductName"], "Pelko")

        manifest = ET.fromstring(bytes.fromhex(found["manifest"]))
        level = manifest.find(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
        self.assertEqual((level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
        supported = [e.get("Id") for e in manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")]
        self.assertEqual(supported, ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"])


if __name__ == "__main__":
    unittest.main()
