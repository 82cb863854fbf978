#!/usr/bin/env python3
"""The Standalone on JACK: told by its settings file to use JACK, it joins a server running the
dummy back end, shows its two output ports, and a note played on its on-screen keyboard sounds on
them (recorded with jack_rec: silent before the key goes down, loud after). Without a server, the same
settings leave it starting on its other audio devices.

    xvfb-run -a standalone_jack.py PATH_TO_APP

Exit status 0 = pass, 1 = fail, 77 = JACK's server or tools are not installed (reported as skipped).
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

from kestrune_tools.jack import RATE, jack_ports, peak, read_recording, verdict, wait_for
from standalone_smoke import WINDOW_TITLE, EDITOR_WIDTH, XWindows

CLIENT = WINDOW_TITLE  # JUCE names the JACK client after the plug-in
PORTS = [f"{CLIENT}:out_1", f"{CLIENT}:out_2"]
SETTINGS = f"""<?xml version="1.0" encoding="UTF-8"?>
<PROPERTIES>
  <VALUE name="audioSetup">
    <DEVICESETUP deviceType="JACK" audioOutputDeviceName="system" audioInputDeviceName="system"
                 audioDeviceRate="{RATE}" audioDeviceBufferSize="256"/>
  </VALUE>
</PROPERTIES>
"""


def window_of(xw):
    return next((w for w in xw.named() if w[0] == WINDOW_TITLE and w[1] >= EDITOR_WIDTH), None)


def click_and_hold(xw, window, x, y, seconds):
    """Press the left button at (x, y) inside the window through XTest, as a user would."""
    xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    x11 = xw.x
    x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                          ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                          ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    rx, ry, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
    x11.XTranslateCoordinates(xw.display, window, x11.XDefaultRootWindow(xw.display), x, y,
                              ctypes.byref(rx), ctypes.byref(ry), ctypes.byref(child))
    xtst.XTestFakeMotionEvent(xw.display, -1, rx.value, ry.value, 0)
    x11.XFlush(xw.display)
    time.sleep(0.3)
    xtst.XTestFakeButtonEvent(xw.display, 1, 1, 0)
    x11.XFlush(xw.display)
    time.sleep(seconds)
    xtst.XTestFakeButtonEvent(xw.display, 1, 0, 0)
    x11.XFlush(xw.display)



def start_app(app, env):
    return subprocess.Popen([app], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def stop(proc):
    """Quit on SIGINT as a user would, and pass on what the app printed."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGINT)
        try:
            proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    output = proc.stdout.read()
    if output.strip():
        print("--- app output\n" + output[-4000:])


def on_jack(app, env, xw, home):
    proc = start_app(app, env)
    try:
        wait_for(lambda: all(p in jack_ports(env) for p in PORTS) or proc.poll() is not None, "JACK ports")
        if proc.poll() is not None:
            raise RuntimeError(f"the app exited with {proc.returncode}")
        print("JACK ports:", ", ".join(p for p in jack_ports(env) if p.startswith(CLIENT)))
        wait_for(lambda: window_of(xw) is not None, "editor window")
        _, width, height, window = window_of(xw)
        # KEYS, at the editor's bottom-right corner, opens the on-screen keyboard along the bottom;
        # a white key then lights the spot where the dark panel was.
        key = (width // 2, height - 12)
        panel = xw.colours(window, width, height)
        click_and_hold(xw, window, width - 36, height - 11, 0.1)
        wait_for(lambda: xw.colours(window, width, height) != panel, "on-screen keyboard")
        time.sleep(0.5)

        recording = os.path.join(home, "out.wav")
        rec = subprocess.Popen(["jack_rec", "-f", recording, "-d", "4", "-b", "16", *PORTS], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        time.sleep(1.5)
        click_and_hold(xw, window, *key, 1.0)
        rec.wait(timeout=15)
        frames = read_recording(recording)
        seconds = len(frames[0]) / RATE
        print(f"recorded {seconds:.2f} s from {', '.join(PORTS)}")
        # The key goes down about 1.8 s into the 4 s recording and up a second later (jack_rec may
        # start a little late, which moves both earlier).
        before = peak(frames, 0, int(0.5 * RATE))
        after = peak(frames, int(2.0 * RATE), int(3.0 * RATE))
        print(f"peak before the key {before:.5f}, while it is held {after:.4f}")
        if before > 1e-4:
            raise RuntimeError("sound before any note was played")
        if after < 0.01:
            raise RuntimeError("the note played on the on-screen keyboard did not sound on the JACK ports")
    finally:
        stop(proc)


def without_server(app, env, xw):
    """No server behind the same settings: the app still starts, shows its editor and keeps running."""
    proc = start_app(app, env)
    try:
        wait_for(lambda: window_of(xw) is not None or proc.poll() is not None, "editor window without JACK")
        time.sleep(1.0)
        if proc.poll() is not None:
            raise RuntimeError(f"without a JACK server the app exited with {proc.returncode}")
        print("without a JACK server: started, editor shown")
    finally:
        stop(proc)



def needs_no_libjack(app):
    """JUCE opens libjack at run time: a NEEDED entry would make JACK a hard dependency of the package."""
    dynamic = subprocess.run(["readelf", "-d", app], capture_output=True, text=True, check=True).stdout
    needed = [line for line in dynamic.splitlines() if "(NEEDED)" in line and "libjack" in line]
    if needed:
        raise RuntimeError(f"the app links JACK: {needed}")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    app = sys.argv[1]
    home = tempfile.mkdtemp(prefix="kestrune-jack-")
    server = f"kestrune-test-{os.getpid()}"
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               JACK_DEFAULT_SERVER=server, JACK_NO_AUDIO_RESERVATION="1", JACK_NO_START_SERVER="1")
    os.makedirs(os.path.join(home, ".config"))
    settings = os.path.join(home, ".config", f"{WINDOW_TITLE}.settings")
    with open(settings, "w") as f:
        f.write(SETTINGS)

    missing = [tool for tool in ("jackd", "jack_lsp", "jack_rec") if shutil.which(tool) is None]
    if missing:
        print(f"SKIP: {', '.join(missing)} not installed (Debian package 'jackd2')")
        return 77

    xw = XWindows()
    jackd = subprocess.Popen(["jackd", "-n", server, "-d", "dummy", "-r", str(RATE), "-p", "256"], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    ok = False
    try:
        needs_no_libjack(app)
        wait_for(lambda: "system:playback_1" in jack_ports(env), "JACK server")
        on_jack(app, env, xw, home)
        jackd.terminate()
        jackd.wait(timeout=15)
        without_server(app, env, xw)
        ok = True
    except (RuntimeError, subprocess.TimeoutExpired) as e:
        print(f"FAIL: {e}")
    finally:
        xw.close()
        if jackd.poll() is None:
            jackd.terminate()
            jackd.wait()
        shutil.rmtree(home, ignore_errors=True)
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
