"""Looking at the launcher's splash window from outside, on the session's
virtual display: where its client area is, a screenshot of it, what a Windows
program on the same desktop sees of it, and the native render of the same
frame to compare a screenshot with."""

import functools
import subprocess
import tempfile
import time
from pathlib import Path

from harness import ROOT, WINDOWS_BUILD

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
    for line in result.lines:
        if "=" in line:
            key, value = line.split("=", 1)
            if key in found:
                found[key] = (found[key] if isinstance(found[key], list) else [found[key]]) + [value]
            else:
                found[key] = value
    return found


def _x(session, *args):
    return subprocess.run(list(args), env=session.env(), stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=30, check=False)


def x_windows(session):
    """X windows whose title is exactly the splash's."""
    out = _x(session, "xdotool", "search", "--name", "^Pelko$").stdout.decode()
    return [w for w in out.split() if w]


def client_area(session):
    """Screen position of the splash's client area, or None while there is no
    window. Wine draws the frame itself (the prefix sets Managed=N), so the X
    window is the whole window: equal borders left, right and below, the
    caption above."""
    for window in x_windows(session):
        out = _x(session, "xdotool", "getwindowgeometry", "--shell", window).stdout.decode()
        geometry = dict(line.split("=", 1) for line in out.split() if "=" in line)
        x, y, w, h = (int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        if w < WIDTH or h < HEIGHT:
            continue
        border = (w - WIDTH) // 2
        return x + border, y + h - HEIGHT - border
    return None


def wait_for_client_area(session, launch, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and launch.running():
        area = client_area(session)
        if area:
            return area
        time.sleep(0.05)
    return None


def screenshot(session, x, y, width=WIDTH, height=HEIGHT, png=None):
    """The screen's pixels in that rectangle as RGB bytes (and a PNG when asked)."""
    crop = f"{width}x{height}+{x}+{y}"
    if png:
        _x(session, "import", "-silent", "-window", "root", "-crop", crop, "+repage", str(png))
    out = _x(session, "import", "-silent", "-window", "root", "-crop", crop, "+repage", "-depth", "8", "rgb:-")
    return out.stdout


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
    differing = 0
    for y in range(HEIGHT):
        row = slice(3 * WIDTH * y, 3 * WIDTH * (y + 1))
        a, b = shot[row], frame[row]
        if a == b:
            continue
        columns = range(WIDTH) if not top <= y <= bottom else [*range(left), *range(right + 1, WIDTH)]
        differing += sum(a[3 * x:3 * x + 3] != b[3 * x:3 * x + 3] for x in columns)
    return differing


def matching_head(shot, frames):
    """Which spinner position the screenshot shows, when it equals a native
    frame pixel for pixel; None otherwise."""
    for head, frame in enumerate(frames):
        if shot == frame:
            return head
    return None
