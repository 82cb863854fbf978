#!/usr/bin/python3
"""The Standalone under a session manager: a small NSM server of the test's own (OSC through Debian's
python3-liblo) starts it with NSM_URL, opens a session, makes it dirty, saves, hides and shows its
window, ends it with SIGTERM and opens the session again in a new process. Between the proper
requests it sends what a broken server might: an open with the wrong types, folders that do not exist
or cannot be written, a save with no session, a second open right behind a save, and a save into a
folder that has gone. Each must get an error reply naming the request, and lose nothing. With no
session manager answering at NSM_URL, it starts as usual.

    xvfb-run -a standalone_nsm.py PATH_TO_APP

Exit status 0 = pass, 1 = fail, 77 = python3-liblo is not installed (reported as skipped).
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

from standalone_smoke import WINDOW_TITLE, EDITOR_WIDTH, XWindows
from standalone_jack import click_and_hold, stop, wait_for

try:
    import liblo
except ImportError:
    print("SKIP: python3-liblo is not installed")
    sys.exit(77)

TIMEOUT = 30.0
OPEN, SAVE = "/nsm/client/open", "/nsm/client/save"
SETTINGS_NAME = f"{WINDOW_TITLE}.settings"


class SessionManager:
    """The server's side of the protocol, with every message the client sends kept in order."""

    def __init__(self):
        self.server = liblo.Server()
        self.server.add_method(None, None, self._received)
        self.inbox = []
        self.client = None

    def _received(self, path, args, types, source):
        self.inbox.append((path, types, args))
        if path == "/nsm/server/announce":
            self.client = source

    def expect(self, path, first=None, timeout=TIMEOUT):
        """The next message to `path` (and about `first`, for replies), waiting for it; the rest stay."""
        started = time.monotonic()
        while time.monotonic() - started < timeout:
            for i, (p, types, args) in enumerate(self.inbox):
                if p == path and (first is None or (args and args[0] == first)):
                    del self.inbox[i]
                    return types, args
            self.server.recv(50)
        raise RuntimeError(f"no {path} {first or ''} within {timeout:.0f} s; received {self.inbox}")

    def answer(self, request):
        """The client's answer to a request: ('/reply', message) or ('/error', code, message)."""
        started = time.monotonic()
        while time.monotonic() - started < TIMEOUT:
            for i, (p, types, args) in enumerate(self.inbox):
                if p in ("/reply", "/error") and args and args[0] == request:
                    del self.inbox[i]
                    return (p, *args[1:])
            self.server.recv(50)
        raise RuntimeError(f"no answer to {request} within {TIMEOUT:.0f} s; received {self.inbox}")

    def send(self, path, *args):
        self.server.send(self.client, path, *args)

    def drain(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.server.recv(50)


def start(app, home, nsm):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), NSM_URL=nsm.server.url)
    proc = subprocess.Popen([app], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    types, args = nsm.expect("/nsm/server/announce")
    if types != "sssiii" or ":optional-gui:" not in args[1] or ":dirty:" not in args[1] or args[3] != 1:
        raise RuntimeError(f"announce {types} {args}")
    nsm.send("/reply", "/nsm/server/announce", "Welcome", "kestrune-test", ":server-control:")
    return proc


def window(xw):
    return next((w for w in xw.named() if w[0] == WINDOW_TITLE and w[1] >= EDITOR_WIDTH), None)


def viewable(win):
    info = subprocess.run(["xwininfo", "-id", str(win)], capture_output=True, text=True).stdout
    return "IsViewable" in info


def expect_error(nsm, request, why):
    answer = nsm.answer(request)
    if answer[0] != "/error" or not isinstance(answer[1], int) or answer[1] >= 0 or not answer[2]:
        raise RuntimeError(f"{why}: expected an error with a code and a message, got {answer}")
    print(f"{why}: error {answer[1]} \"{answer[2]}\"")
    return answer[1]


def expect_reply(nsm, request, why):
    answer = nsm.answer(request)
    if answer[0] != "/reply":
        raise RuntimeError(f"{why}: expected success, got {answer}")
    print(f"{why}: {answer[1]}")


def filter_state(path):
    values = {v.get("name"): v.get("val") for v in ElementTree.parse(path).getroot().iter("VALUE")}
    return values.get("filterState")


def first_session(app, home, xw, nsm, folder):
    proc = start(app, home, nsm)
    try:
        # Before a session is open: nothing to save, and bad opens change nothing.
        nsm.send(SAVE)
        expect_error(nsm, SAVE, "save with no session open")
        nsm.send(OPEN, 1, 2, 3)
        expect_error(nsm, OPEN, "open with integers")
        nsm.send(OPEN, folder)
        expect_error(nsm, OPEN, "open with one string")
        nsm.send(OPEN, os.path.join(home, "missing", "session", "client"), "Kestrune", "nABCD")
        expect_error(nsm, OPEN, "open in a session folder that does not exist")
        nsm.send(OPEN, "/proc/1/kestrune", "Kestrune", "nABCD")
        expect_error(nsm, OPEN, "open in a folder that cannot be made")
        nsm.send(OPEN, "/proc/1", "Kestrune", "nABCD")
        expect_error(nsm, OPEN, "open in a folder that cannot be written")
        if window(xw) is not None or os.path.exists(os.path.join(home, "missing")):
            raise RuntimeError("a refused open showed a window or made folders")

        nsm.send(OPEN, folder, "Kestrune", "nABCD")
        expect_reply(nsm, OPEN, "open")
        nsm.expect("/nsm/client/is_clean")
        nsm.expect("/nsm/client/gui_is_shown")
        wait_for(lambda: window(xw) is not None, "window")
        _, width, height, win = window(xw)

        # A user picks another instrument: the session has unsaved changes.
        click_and_hold(xw, win, width * 5 // 8, height // 4, 0.1)
        nsm.expect("/nsm/client/is_dirty")
        print("a click on an instrument made the session dirty")

        nsm.send(SAVE)
        expect_reply(nsm, SAVE, "save")
        nsm.expect("/nsm/client/is_clean")
        settings = os.path.join(folder, SETTINGS_NAME)
        saved = open(settings, "rb").read()
        state = filter_state(settings)
        if not state:
            raise RuntimeError("the saved settings hold no plug-in state")

        # A second open right behind a save: the save completes, the open is refused.
        other = os.path.join(os.path.dirname(folder), "other")
        nsm.send(SAVE)
        nsm.send(OPEN, other, "Other", "nOTHR")
        expect_reply(nsm, SAVE, "save with an open behind it")
        expect_error(nsm, OPEN, "open while a session is open or saving")
        if os.path.exists(other) or filter_state(settings) != state:
            raise RuntimeError("the refused open touched the folders")

        # The folder goes away behind the app's back: the save fails and says so.
        shutil.move(folder, folder + ".away")
        open(folder, "w").close()
        nsm.send(SAVE)
        expect_error(nsm, SAVE, "save into a folder that is now a file")
        os.remove(folder)
        shutil.move(folder + ".away", folder)
        if open(settings, "rb").read() != saved:
            raise RuntimeError("the failed save changed the last saved file")

        nsm.send("/nsm/client/hide_optional_gui")
        nsm.expect("/nsm/client/gui_is_hidden")
        wait_for(lambda: not viewable(win), "hidden window")
        nsm.send("/nsm/client/show_optional_gui")
        nsm.expect("/nsm/client/gui_is_shown")
        wait_for(lambda: viewable(win), "window shown again")
        print("the window hides and shows on request")

        proc.send_signal(signal.SIGTERM)
        if proc.wait(timeout=15) != 0:
            raise RuntimeError(f"the app quit on SIGTERM with {proc.returncode}")
        if open(settings, "rb").read() != saved:
            raise RuntimeError("quitting wrote the session's settings: only a save may")
        if os.path.exists(os.path.join(home, ".config", SETTINGS_NAME)):
            raise RuntimeError("under a session manager the app wrote ~/.config")
        print("quit on SIGTERM, the session's file as saved, nothing in ~/.config")
        return state
    finally:
        stop(proc)


def second_session(app, home, xw, nsm, folder, state):
    proc = start(app, home, nsm)
    try:
        nsm.send(OPEN, folder, "Kestrune", "nABCD")
        expect_reply(nsm, OPEN, "open again in a new process")
        nsm.expect("/nsm/client/is_clean")
        nsm.send(SAVE)
        expect_reply(nsm, SAVE, "save at once")
        if filter_state(os.path.join(folder, SETTINGS_NAME)) != state:
            raise RuntimeError("the reopened session did not restore the saved state")
        print("the reopened session holds the saved state")
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=15)
    finally:
        stop(proc)


def without_answer(app, home, xw):
    """NSM_URL left over from a session that is gone, or not an OSC address at all: the app starts as
    usual (after waiting for an answer in the first case) and keeps its settings in ~/.config."""
    silent = liblo.Server()   # a port nobody answers on
    for url, limit in ((silent.url, 25.0), ("not-an-osc-url", 10.0)):
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), NSM_URL=url)
        proc = subprocess.Popen([app], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            started = time.monotonic()
            wait_for(lambda: window(xw) is not None, f"window with NSM_URL={url}", limit)
            print(f"NSM_URL={url}: the window came up after {time.monotonic() - started:.1f} s")
            proc.send_signal(signal.SIGINT)
            proc.wait(timeout=15)
            if not os.path.exists(os.path.join(home, ".config", SETTINGS_NAME)):
                raise RuntimeError("without a session manager the settings belong in ~/.config")
        finally:
            stop(proc)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    app = sys.argv[1]
    home = tempfile.mkdtemp(prefix="kestrune-nsm-")
    folder = os.path.join(home, "session", "Kestrune.nABCD")
    os.makedirs(os.path.dirname(folder))
    xw = XWindows()
    try:
        nsm = SessionManager()
        state = first_session(app, home, xw, nsm, folder)
        second_session(app, home, xw, nsm, folder, state)
        without_answer(app, home, xw)
        print("PASS")
        return 0
    except (RuntimeError, subprocess.TimeoutExpired, OSError) as e:
        print(f"FAIL: {e}")
        return 1
    finally:
        xw.close()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
