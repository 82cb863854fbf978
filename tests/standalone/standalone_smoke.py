#!/usr/bin/env python3
"""Smoke test of the Standalone app: it starts without a sound card, shows its window with the
editor, keeps running, and quits cleanly on Ctrl+C (SIGINT), the request JUCE apps honour. It does so
with no settings file and with damaged ones: the plug-in's state under a lying base64 size prefix, and
a file nested 60,000 deep (each once aborted or crashed the app at every start).

    xvfb-run -a standalone_smoke.py PATH_TO_APP

Settings the app writes on quitting go to a temporary HOME, never the user's.
"""

import ctypes
import ctypes.util
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WINDOW_TITLE = "Zarnith Quorle Kestrune"
EDITOR_WIDTH, EDITOR_HEIGHTS = 720, (540, 480)
START_TIMEOUT = 30.0
QUIT_TIMEOUT = 15.0


class XWindows:
    """Just enough Xlib to list the named top-level windows and their sizes."""

    def __init__(self):
        path = ctypes.util.find_library("X11")
        if path is None:
            raise RuntimeError("libX11 not found")
        x = self.x = ctypes.CDLL(path)
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                         ctypes.c_long, ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        x.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong)] + \
            [ctypes.POINTER(ctypes.c_int)] * 2 + [ctypes.POINTER(ctypes.c_uint)] * 4
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XGetImage.restype = ctypes.c_void_p
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x.XGetPixel.restype = ctypes.c_ulong
        x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        x.XDestroyImage.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = x.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display (run under xvfb-run -a)")
        self.name_atoms = [x.XInternAtom(self.display, name, 0) for name in (b"_NET_WM_NAME", b"WM_NAME")]

    def _children(self, window):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.x.XQueryTree(self.display, window, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return []
        result = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        return result

    def _name(self, window):
        """The window's title (JUCE writes WM_NAME as UTF-8, which XFetchName refuses); None if none."""
        for atom in self.name_atoms:
            kind, form, count, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
            data = ctypes.c_void_p()
            any_type = 0
            if self.x.XGetWindowProperty(self.display, window, atom, 0, 1024, 0, any_type, ctypes.byref(kind),
                                         ctypes.byref(form), ctypes.byref(count), ctypes.byref(after),
                                         ctypes.byref(data)) != 0 or not data.value:
                continue
            text = ctypes.string_at(data.value, count.value).decode(errors="replace") if form.value == 8 else None
            self.x.XFree(data)
            if text:
                return text
        return None

    def _size(self, window):
        root = ctypes.c_ulong()
        xy = [ctypes.c_int() for _ in range(2)]
        wh = [ctypes.c_uint() for _ in range(4)]
        self.x.XGetGeometry(self.display, window, ctypes.byref(root), *map(ctypes.byref, xy), *map(ctypes.byref, wh))
        return wh[0].value, wh[1].value

    def named(self):
        """(name, width, height, id) of every named window, depth first."""
        found, stack = [], [self.x.XDefaultRootWindow(self.display)]
        while stack:
            window = stack.pop()
            name = self._name(window)
            if name:
                found.append((name, *self._size(window), window))
            stack.extend(self._children(window))
        return found

    def colours(self, window, width, height, grid=32):
        """How many distinct colours a grid of points across the window shows (1 = blank)."""
        all_planes, z_pixmap = 0xFFFFFFFF, 2
        image = self.x.XGetImage(self.display, window, 0, 0, width, height, all_planes, z_pixmap)
        if not image:
            return 0
        seen = {self.x.XGetPixel(image, width * i // grid, height * j // grid)
                for i in range(grid) for j in range(grid)}
        self.x.XDestroyImage(image)
        return len(seen)

    def close(self):
        self.x.XCloseDisplay(self.display)


def settings_file(filter_state, padding=""):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<PROPERTIES>\n'
            f'<VALUE name="filterState" val="{filter_state}"/>\n{padding}</PROPERTIES>\n')


# What the app finds in its settings file at start: nothing, then damage.
SETTINGS = [
    ("no settings file", None),
    ("a state whose size prefix is negative", settings_file("-5.AAAA")),
    ("a state whose size prefix is 2^31 - 1", settings_file("2147483647.AAAA")),
    ("a file nested 60,000 deep", settings_file("", "<a>" * 60000 + "</a>" * 60000)),
]


def run(app, settings):
    """Starts the app with the settings file given (None: none), checks its window, quits it; True on success."""
    home = tempfile.mkdtemp(prefix="kestrune-standalone-")
    if settings is not None:
        os.makedirs(os.path.join(home, ".config"))
        with open(os.path.join(home, ".config", f"{WINDOW_TITLE}.settings"), "w") as f:
            f.write(settings)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
    proc = subprocess.Popen([app], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    xw = XWindows()
    ok = False
    try:
        started = time.monotonic()
        window = None
        # The window appears under its title before it takes the editor's size: wait for both.
        while time.monotonic() - started < START_TIMEOUT and proc.poll() is None:
            window = next((w for w in xw.named() if w[0] == WINDOW_TITLE), None)
            if window and window[1] >= EDITOR_WIDTH and window[2] >= min(EDITOR_HEIGHTS):
                break
            time.sleep(0.2)
        if proc.poll() is not None:
            raise RuntimeError(f"the app exited on its own with {proc.returncode}")
        if window is None:
            raise RuntimeError(f"no window titled {WINDOW_TITLE!r} after {START_TIMEOUT:.0f} s; "
                               f"windows: {xw.named()}")
        print(f"window {window[0]!r} {window[1]}x{window[2]} after {time.monotonic() - started:.1f} s")
        # The window holds the editor: at least the editor's size.
        if window[1] < EDITOR_WIDTH or window[2] < min(EDITOR_HEIGHTS):
            raise RuntimeError(f"window {window[1]}x{window[2]} is smaller than the editor")

        time.sleep(2.0)  # a few seconds of the editor's timers and repaints
        if proc.poll() is not None:
            raise RuntimeError(f"the app died while idle with {proc.returncode}")
        colours = xw.colours(window[3], window[1], window[2])
        print(f"the window shows {colours} distinct colours on a 32 x 32 grid")
        if colours < 3:
            raise RuntimeError("the window is blank: the editor drew nothing")

        proc.send_signal(signal.SIGINT)
        code = proc.wait(timeout=QUIT_TIMEOUT)
        if code != 0:
            raise RuntimeError(f"the app quit with exit code {code}")
        print("quit cleanly on SIGINT")
        ok = True
    except (RuntimeError, subprocess.TimeoutExpired) as e:
        print(f"FAIL: {e}")
    finally:
        xw.close()
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        output = proc.stdout.read()
        if output.strip():
            print("--- app output\n" + output[-4000:])
        shutil.rmtree(home, ignore_errors=True)
    return ok


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    app = sys.argv[1]
    if not os.access(app, os.X_OK):
        print(f"FAIL: no app at {app}; build Kestrune_Standalone first")
        return 1

    failed = []
    for what, settings in SETTINGS:
        print(f"--- {what}")
        if not run(app, settings):
            failed.append(what)
    print("PASS" if not failed else f"FAIL with {', '.join(failed)}")
    return 0 if not failed else 1


if __name__ == "__main__":
    sys.exit(main())
