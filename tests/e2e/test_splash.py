"""The ROM file dialog answered on the virtual display, and the splash window: pixel for pixel
the native render, centred, deaf to close requests, gone before the launcher ends after a game start."""

import re
import subprocess
import tempfile
import time
from pathlib import Path

from harness import ROOT, USABLE_ROM, PlayerTest, Site, helper, poll, win_path, x_client

SPLASH_FRAME = ROOT / "build" / "native" / "tools" / "splash_frame"


def xdotool(*args):
    return x_client("xdotool", *args).decode()


def x_windows(title="Pelko", *options):
    return xdotool("search", *options, "--name", f"^{re.escape(title)}$").split()


def geometry(window):
    """X, Y, WIDTH and HEIGHT of the X window: the whole window, with the caption Wine draws."""
    shell = xdotool("getwindowgeometry", "--shell", window)
    return {k: int(v) for k, v in (line.split("=", 1) for line in shell.split())}


def focus_by_caption(window):
    """Gives a window the keyboard with a click on its caption (windowactivate needs a window manager)."""
    g = geometry(window)
    # One xdotool, so the server takes the move before the click. (--sync waited 15 s when the pointer
    # was already on the spot: the second dialog opens where the first did.)
    xdotool("mousemove", str(g["X"] + g["WIDTH"] // 2), str(g["Y"] + 8), "click", "1")
    return poll(lambda: xdotool("getwindowfocus").strip() == window, 10)


def screenshot(x, y, width=460, height=250):
    return x_client("import", "-silent", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                    "-depth", "8", "rgb:-")


def native_frames(status, percent):
    """The native render at each of the spinner's 8 positions (one every 4 ticks)."""
    with tempfile.TemporaryDirectory() as tmp:
        for head in range(8):
            subprocess.run([SPLASH_FRAME, "--status", status, "--percent", str(percent), "--frame", str(4 * head),
                            "--rgb", f"{tmp}/{head}"], check=True, timeout=30)
        return tuple(Path(f"{tmp}/{head}").read_bytes() for head in range(8))


def caption_shows_icon(left, top, width, height):
    """Whether the opaque pixels of the icon's 16 x 16 image are on screen, exactly, in that rectangle."""
    icon = subprocess.run(["convert", f"{ROOT / 'resources' / 'pelko.ico'}[0]", "-depth", "8", "rgba:-"],
                          capture_output=True, timeout=30, check=True).stdout
    shot, at = screenshot(left, top, width, height), lambda x, y: 3 * (y * width + x)
    opaque = [(i % 16, i // 16, icon[4 * i:4 * i + 3]) for i in range(256) if icon[4 * i + 3] == 255]
    return any(all(shot[at(ox + x, oy + y):at(ox + x, oy + y) + 3] == rgb for x, y, rgb in opaque)
               for oy in range(height - 15) for ox in range(width - 15))


class RomDialog(PlayerTest):
    # Keyboard and screenshots of the shared display: one launcher at a time.
    serial = True

    def setUp(self):
        super().setUp()
        self.game = self.player.install("1.0", rom=None)
        Site(self)  # with nothing published: its answers are error pages
        self.launch = self.player.start()
        self.addCleanup(self.launch.finish, timeout=0)
        dialog = poll(lambda: x_windows("Select your Starlit Fair DS ROM (.nds)", "--onlyvisible"), 30, 0.2)
        self.assertTrue(dialog, "the file dialog did not appear")
        # The splash (its own thread) can come up after the dialog and take the keyboard: then take it back.
        self.splash = poll(lambda: x_windows("Pelko", "--onlyvisible"), 10, 0.2)
        self.assertTrue(self.splash, "no splash window")
        self.assertTrue(focus_by_caption(dialog[0]), "the file dialog did not get the keyboard")
        *self.area, width, height = map(int, helper("window")["client"].split(","))  # found by its class
        self.assertEqual((width, height), (460, 250))

    def frames_seen(self, frames, seconds):
        """The spinner positions of the screenshots within `seconds` that equal a native frame."""
        seen, deadline = [], time.monotonic() + seconds
        while time.monotonic() < deadline:
            shot = screenshot(*self.area)
            seen += [frames.index(shot)] if shot in frames else []
        return seen

    def test_a_picked_file_is_played_and_the_full_bar_shows_until_the_window_goes_before_the_launcher_ends(self):
        (picked := self.player.root / "picked.nds").write_bytes(USABLE_ROM)
        xdotool("type", "--delay", "20", win_path(picked))
        xdotool("key", "Return")
        frames = native_frames("READY - STARTING THE GAME", 100)
        self.assertTrue(poll(lambda: screenshot(*self.area) in frames, 10, 0, alive=x_windows),
                        "the full bar with READY - STARTING THE GAME was never on screen")
        poll(lambda: not x_windows(), 60, alive=lambda: self.launch.poll() is None)
        self.assertIsNone(self.launch.poll(), "the splash must close during the launcher's last wait")
        self.assertExit(self.launch.finish(timeout=60))
        self.assertEqual((self.game / "patched.nds").read_bytes(), USABLE_ROM)

    def test_a_closed_dialog_ends_the_run_with_its_error_drawn_natively_on_a_centred_window_deaf_to_close(self):
        xdotool("key", "Escape")
        closed, g = time.monotonic(), geometry(self.splash[0])
        screen_w, screen_h = map(int, xdotool("getdisplaygeometry").split())
        self.assertEqual((g["X"], g["Y"]), ((screen_w - g["WIDTH"]) // 2, (screen_h - g["HEIGHT"]) // 2))

        # The error stays up for 9 s as drawn natively, the spinner turning; a click on the close box (the
        # SC_CLOSE that Alt+F4 and the system menu's Close send too, then WM_CLOSE) changes nothing.
        frames = native_frames("No ROM chosen \u2014 reopen and pick your own Starlit Fair DS .nds to play.", -1)
        seen = self.frames_seen(frames, 1.5)
        self.assertGreaterEqual(len(set(seen)), 3, f"native frames seen: {seen}")
        # The caption shows the class icon: the 16 x 16 image of icon group 1.
        self.assertTrue(caption_shows_icon(g["X"], g["Y"], 48, self.area[1] - g["Y"]), "no icon in the caption")
        xdotool("mousemove", str(g["X"] + g["WIDTH"] - 12), str(g["Y"] + 12), "click", "1")
        time.sleep(0.5)
        self.assertTrue(x_windows("Pelko", "--onlyvisible"), "the splash closed")
        self.assertTrue(self.frames_seen(frames, 0.5), "the splash changed after a close request")
        r = self.launch.finish(timeout=60)
        self.assertExit(r, 1)
        self.assertGreaterEqual(time.monotonic() - closed, 9.0)
        self.assertIn("  (no version in manifest)", r.lines)  # WinHTTP passed on the error page
