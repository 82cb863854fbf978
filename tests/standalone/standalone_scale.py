#!/usr/bin/env python3
"""The Standalone at the desktop's scale: under a virtual display whose X settings daemon (xsettingsd)
announces 96, 144 or 192 dpi, or with GDK_SCALE, or with a zoom saved in its settings or chosen in
its Options menu, the window is drawn at that many pixels per design pixel (its size says so), and the editor is drawn at that
scale rather than stretched: the header's divider, one design pixel tall, is as sharp as at 1 (no
row of blur at 1 and 2, at most one partly covered row at 1.5).

    xvfb-run -a -s "-screen 0 2400x1800x24" standalone_scale.py PATH_TO_APP

Exit status 0 = pass, 1 = fail, 77 = xsettingsd or xdotool is not installed (reported as skipped).
"""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from standalone_smoke import WINDOW_TITLE, EDITOR_WIDTH, XWindows
from standalone_jack import stop

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import sharp_edges  # noqa: E402

TIMEOUT = 30.0
# The window at a scale of 1: the editor (720 x 540) in the framework's frame and title bar.
WINDOW_AT_1 = (722, 568)
# Where the editor sits in the window, in design pixels.
EDITOR_ORIGIN = (1, 27)


def dpi_setting(dpi):
    return f"Xft/DPI {dpi * 1024}\n"


# What the desktop says, what the settings hold, the zoom chosen in the menu once the window is up,
# and the scale the window must then take.
CASES = [
    ("a desktop that says nothing", None, {}, None, None, 1.0),
    ("Xft/DPI 144 from the settings daemon", dpi_setting(144), {}, None, None, 1.5),
    ("Xft/DPI 192 with a window scale of 2", dpi_setting(192) + "Gdk/WindowScalingFactor 2\n", {}, None, None, 2.0),
    ("GDK_SCALE=2", None, {"GDK_SCALE": "2"}, None, None, 2.0),
    ("a 150 % zoom saved, the desktop silent", None, {}, 150, None, 1.5),
    ("a 100 % zoom saved over a desktop at 2", dpi_setting(192), {}, 100, None, 1.0),
    ("200 % chosen in the menu", None, {}, None, 200, 2.0),
]

# Options > Zoom and its entries, in the window's pixels at 100 % (the framework's menu in DejaVu Sans).
OPTIONS_BUTTON, ZOOM_ITEM = (30, 14), (80, 142)
ZOOM_ENTRIES = {100: (290, 164), 150: (290, 186), 200: (290, 208)}


def settings_with_zoom(zoom):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<PROPERTIES>\n'
            f'<VALUE name="zoom" val="{zoom}"/>\n</PROPERTIES>\n')


class Settings:
    """xsettingsd serving a file of settings to the display, running until closed."""

    def __init__(self, xw, text, home):
        path = os.path.join(home, "xsettingsd.conf")
        with open(path, "w") as f:
            f.write(text)
        self.proc = subprocess.Popen(["xsettingsd", "-c", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        x = xw.x
        x.XGetSelectionOwner.restype = ctypes.c_ulong
        x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        selection = x.XInternAtom(xw.display, b"_XSETTINGS_S0", 0)
        started = time.monotonic()
        while x.XGetSelectionOwner(xw.display, selection) == 0:
            if time.monotonic() - started > TIMEOUT or self.proc.poll() is not None:
                raise RuntimeError("xsettingsd did not take the settings selection")
            time.sleep(0.1)

    def close(self):
        self.proc.terminate()
        self.proc.wait()


def rows_of_column(xw, window, x, top, bottom):
    """Luminance (0-255) of the window's pixels in column x, rows top..bottom-1."""
    all_planes, z_pixmap = 0xFFFFFFFF, 2
    image = xw.x.XGetImage(xw.display, window, x, top, 1, bottom - top, all_planes, z_pixmap)
    if not image:
        raise RuntimeError("cannot read the window's pixels")
    rows = []
    for y in range(bottom - top):
        p = xw.x.XGetPixel(image, 0, y)
        r, g, b = (p >> 16) & 255, (p >> 8) & 255, p & 255
        rows.append(sharp_edges.luminance((r, g, b)))
    xw.x.XDestroyImage(image)
    return rows


def find_window(xw, proc, size):
    """The app's window once it has the size given (give or take 2 pixels), or as it is after the timeout."""
    started = time.monotonic()
    window = None
    while time.monotonic() - started < TIMEOUT and proc.poll() is None:
        window = next((w for w in xw.named() if w[0] == WINDOW_TITLE and w[1] >= EDITOR_WIDTH), None)
        if window and abs(window[1] - size[0]) <= 2 and abs(window[2] - size[1]) <= 2:
            break
        time.sleep(0.2)
    if window is None:
        raise RuntimeError("no window")
    return window


def choose_zoom(window, percent):
    """Options > Zoom > percent with the pointer (xdotool), at a user's pace."""
    def pointer(*args):
        subprocess.run(["xdotool", *args], check=True)
        time.sleep(0.7)

    pointer("mousemove", "--window", str(window), *map(str, OPTIONS_BUTTON), "click", "1")
    pointer("mousemove", "--window", str(window), *map(str, ZOOM_ITEM))
    entry = ZOOM_ENTRIES[percent]
    pointer("mousemove", "--window", str(window), str(entry[0] - 90), str(ZOOM_ITEM[1]))
    pointer("mousemove", "--window", str(window), *map(str, entry), "click", "1")


def run(app, what, xsettings, extra_env, zoom, menu_zoom, scale, xw):
    home = tempfile.mkdtemp(prefix="kestrune-scale-")
    daemon = None
    proc = None
    try:
        if xsettings is not None:
            daemon = Settings(xw, xsettings, home)
        if zoom is not None:
            os.makedirs(os.path.join(home, ".config"))
            with open(os.path.join(home, ".config", f"{WINDOW_TITLE}.settings"), "w") as f:
                f.write(settings_with_zoom(zoom))
        env = {k: v for k, v in os.environ.items() if k != "GDK_SCALE"}
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), **extra_env)
        proc = subprocess.Popen([app], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

        want = (round(WINDOW_AT_1[0] * scale), round(WINDOW_AT_1[1] * scale))
        if menu_zoom is not None:
            choose_zoom(find_window(xw, proc, WINDOW_AT_1)[3], menu_zoom)
        window = find_window(xw, proc, want)
        time.sleep(1.5)  # the editor's first paints
        size = (window[1], window[2])
        if abs(size[0] - want[0]) > 2 or abs(size[1] - want[1]) > 2:
            raise RuntimeError(f"window {size[0]} x {size[1]}, expected {want[0]} x {want[1]} at {scale}")

        # A column through the divider, away from the title's glow, in physical pixels.
        x = round((EDITOR_ORIGIN[0] + 40) * scale)
        top, bottom = sharp_edges.column_across_divider(EDITOR_ORIGIN[1] * scale, scale)
        sharp, seen = sharp_edges.sharpness(rows_of_column(xw, window[3], x, top, bottom), scale)
        print(f"{what}: window {size[0]} x {size[1]}; the divider: {seen}")
        if not sharp:
            raise RuntimeError("the divider is blurred")
        if menu_zoom is not None:
            proc.send_signal(signal.SIGINT)
            proc.wait(timeout=15)
            with open(os.path.join(home, ".config", f"{WINDOW_TITLE}.settings")) as f:
                if f'name="zoom" val="{menu_zoom}"' not in f.read():
                    raise RuntimeError("the zoom chosen was not kept in the settings")
        return True
    except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
        print(f"FAIL ({what}): {e}")
        return False
    finally:
        if proc is not None:
            stop(proc)
        if daemon is not None:
            daemon.close()
        shutil.rmtree(home, ignore_errors=True)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if shutil.which("xsettingsd") is None or shutil.which("xdotool") is None:
        print("SKIP: xsettingsd or xdotool is not installed")
        return 77
    xw = XWindows()
    try:
        failed = [c[0] for c in CASES if not run(sys.argv[1], *c, xw)]
    finally:
        xw.close()
    print("PASS" if not failed else f"FAIL with {', '.join(failed)}")
    return 0 if not failed else 1


if __name__ == "__main__":
    sys.exit(main())
