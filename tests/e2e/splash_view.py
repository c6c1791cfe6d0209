"""Looking at the launcher's splash window from outside, on the session's
virtual display: where its client area is, a screenshot of it, what a Windows
program on the same desktop sees of it, and the native render of the same
frame to compare a screenshot with."""

import functools
import subprocess
import tempfile
from pathlib import Path

from harness import ROOT, WINDOWS_BUILD, poll

PROBE = WINDOWS_BUILD / "tests" / "win" / "splash_probe.exe"
SPLASH_FRAME = ROOT / "build" / "native" / "tools" / "splash_frame"

WIDTH, HEIGHT = 460, 250
# The spinner's square (columns and rows, inclusive): the only part of a
# frame that changes from tick to tick.
SPINNER = (201, 79, 259, 137)
HEADS = 8  # spinner positions; the head moves every 4 ticks


def probe(session, *args, display=True):
    """Runs the Windows probe; its key=value lines as a dict (repeated keys as lists)."""
    result = session.run(PROBE, args, timeout=30, display=display)
    found = {}
    for key, _, value in (line.partition("=") for line in result.lines if "=" in line):
        found.setdefault(key, []).append(value)
    return {key: values if len(values) > 1 else values[0] for key, values in found.items()}


def x_windows(session):
    """X windows whose title is exactly the splash's."""
    return session.xdotool("search", "--name", "^Pelko$").split()


def client_area(session):
    """Screen position of the splash's client area, or None while there is no
    window. Wine draws the frame itself (the prefix sets Managed=N), so the X
    window is the whole window: equal borders left, right and below, the
    caption above."""
    for window in x_windows(session):
        g = session.geometry(window)
        if g["WIDTH"] >= WIDTH and g["HEIGHT"] >= HEIGHT:
            border = (g["WIDTH"] - WIDTH) // 2
            return g["X"] + border, g["Y"] + g["HEIGHT"] - HEIGHT - border
    return None


def wait_for_client_area(session, launch, seconds=10.0):
    return poll(lambda: client_area(session), seconds, alive=launch.running)


def screenshot(session, x, y, width=WIDTH, height=HEIGHT):
    """The screen's pixels in that rectangle as RGB bytes."""
    return session.x("import", "-silent", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                     "-depth", "8", "rgb:-")


def save_png(rgb, path, width=WIDTH, height=HEIGHT):
    """Writes RGB bytes (a screenshot or a native frame) as a PNG file."""
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", "8", "rgb:-", f"png:{path}"], input=rgb,
                   capture_output=True, timeout=30, check=True)


@functools.lru_cache(maxsize=None)
def native_frames(status, percent=-1):
    """The native render of a status at each spinner position (ticks 0, 4, ... 28)."""
    frames = []
    with tempfile.TemporaryDirectory() as tmp:
        for head in range(HEADS):
            path = Path(tmp) / f"{head}.rgb"
            subprocess.run([str(SPLASH_FRAME), "--status", status, "--percent", str(percent),
                            "--frame", str(4 * head), "--rgb", str(path)], check=True, timeout=30)
            frames.append(path.read_bytes())
    return tuple(frames)


def icon_pixels(index):
    """RGBA bytes of an image of the committed icon file (0: 16 x 16, 1: 32 x 32)."""
    out = subprocess.run(["convert", f"{ROOT / 'resources' / 'pelko.ico'}[{index}]", "-depth", "8", "rgba:-"],
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=30, check=True)
    return out.stdout


def find_icon(shot, width, height, icon, size):
    """Where the icon's opaque pixels appear exactly in an RGB screenshot of
    width x height; None when nowhere."""
    opaque = [(i % size, i // size, icon[4 * i:4 * i + 3]) for i in range(size * size) if icon[4 * i + 3] == 255]
    for oy in range(height - size + 1):
        for ox in range(width - size + 1):
            if all(shot[3 * ((oy + y) * width + ox + x):3 * ((oy + y) * width + ox + x) + 3] == rgb
                   for x, y, rgb in opaque):
                return ox, oy
    return None


def outside_spinner_differences(shot, frame):
    """Pixels that differ between two frames outside the spinner's square."""
    left, top, right, bottom = SPINNER
    outside = ((x, y) for y in range(HEIGHT) for x in range(WIDTH) if not (left <= x <= right and top <= y <= bottom))
    return sum(shot[i:i + 3] != frame[i:i + 3] for i in (3 * (y * WIDTH + x) for x, y in outside))


def matching_head(shot, frames):
    """Which spinner position the screenshot shows, when it equals a native
    frame pixel for pixel; None otherwise."""
    return frames.index(shot) if shot in frames else None
