#!/usr/bin/env python3
"""The LV2 in jalv, on a JACK server with the dummy back end: jalv lists the twelve control ports at
their defaults; notes played into its MIDI port by jack_midiseq sound on its outputs (recorded with
jack_rec); Volume set to 0 from jalv's console silences them. With --pipewire, the same on a PipeWire
graph of the test's own, jalv and the tools running on PipeWire's JACK library.

    jalv_jack.py [--pipewire] BUNDLE HOST_PROGRAM VST3_BUNDLE

The twelve parameters come from `kestrune-host info --json` on the VST3, never from a copy here.
Exit status 0 = pass, 1 = fail, 77 = jalv or JACK's server or tools are not installed (skipped).
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from kestrune_tools import wav
from kestrune_tools.jack import RATE, jack_ports, peak, verdict, wait_for
from kestrune_tools.pipewire import pipewire_session, skip_reason as pipewire_skip_reason

URI = "urn:zarnithquorlebrefton:kestrune"
CLIENT = "kestrune"
OUTPUTS = [f"{CLIENT}:audio_out_1", f"{CLIENT}:audio_out_2"]
MIDI_IN = f"{CLIENT}:in"
SEQUENCER = "kestrune-notes"
REVERB_TAIL = 2.5   # seconds for the default reverb to die away after the sound stops


class Jalv:
    """jalv running the plug-in, driven through its console (stdin) as a user would."""

    def __init__(self, env):
        # jalv prints through stdio, which a pipe would hold back until it exits: line-buffer it.
        self.proc = subprocess.Popen(["stdbuf", "-oL", "jalv", "-x", "-n", CLIENT, URI], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.lines = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def output(self):
        with self.lock:
            return list(self.lines)

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def controls(self):
        """Sends `controls` and returns {symbol: value} from what jalv prints for it."""
        start = len(self.output())
        self.send("controls")
        found = {}

        def listed():
            for line in self.output()[start:]:
                m = re.match(r"^(?:> )?(\w+) = ([-+\d.eE]+|nan|-?inf)$", line.strip())
                if m:
                    found[m.group(1)] = float(m.group(2))
            return len(found) >= len(PARAMETERS)

        wait_for(listed, "control list from jalv", timeout=10)
        return found

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            self.proc.terminate()
            try:
                self.proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


PARAMETERS = {}


def load_parameters(host, vst3):
    info = json.loads(subprocess.run([host, "info", vst3, "--json"], capture_output=True, text=True, check=True,
                                     timeout=120).stdout)
    PARAMETERS.update({row["id"]: row for row in info["parameters"]})


def record(env, home, name, seconds):
    path = os.path.join(home, f"{name}.wav")
    subprocess.run(["jack_rec", "-f", path, "-d", str(seconds), "-b", "16", *OUTPUTS], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, check=True, timeout=seconds + 15)
    frames = wav.read(path).channels
    level = peak(frames, 0, len(frames[0]))
    print(f"{name}: {len(frames[0]) / RATE:.2f} s recorded, peak {level:.6f}")
    return level


def run(env, home):
    jalv = Jalv(env)
    sequencer = None
    try:
        wait_for(lambda: all(p in jack_ports(env) for p in OUTPUTS + [MIDI_IN]) or jalv.proc.poll() is not None,
                 "jalv's ports")
        if jalv.proc.poll() is not None:
            raise RuntimeError(f"jalv exited with {jalv.proc.returncode}:\n" + "\n".join(jalv.output()[-40:]))
        print("JACK ports:", ", ".join(p for p in jack_ports(env) if p.startswith(CLIENT)))

        shown = jalv.controls()
        print("jalv's controls:", ", ".join(f"{k}={v:g}" for k, v in shown.items()))
        missing = [pid for pid in PARAMETERS if pid not in shown]
        if missing:
            raise RuntimeError(f"jalv lists no control for {missing}")
        wrong = [f"{pid} {shown[pid]:g} (default {row['default']:g})" for pid, row in PARAMETERS.items()
                 if abs(shown[pid] - row["default"]) > 1e-4 * max(1.0, abs(row["default"]))]
        if wrong:
            raise RuntimeError("jalv shows controls off their defaults: " + ", ".join(wrong))

        if record(env, home, "before-notes", 1) > 1e-4:
            raise RuntimeError("sound before any note was played")

        # A one-second loop: middle C for half of it.
        sequencer = subprocess.Popen(["jack_midiseq", SEQUENCER, str(RATE), "0", "60", str(RATE // 2)], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        wait_for(lambda: f"{SEQUENCER}:out" in jack_ports(env), "jack_midiseq's port")
        subprocess.run(["jack_connect", f"{SEQUENCER}:out", MIDI_IN], env=env, check=True, timeout=15)
        if record(env, home, "notes", 3) < 0.01:
            raise RuntimeError("the notes from jack_midiseq did not sound")

        jalv.send("set volume 0")
        wait_for(lambda: abs(jalv.controls().get("volume", -1)) < 1e-6, "volume at 0 in jalv's controls")
        time.sleep(REVERB_TAIL)
        if record(env, home, "volume-0", 2) > 1e-6:
            raise RuntimeError("the notes still sound after Volume was set to 0 from jalv's console")
    finally:
        if sequencer is not None:
            sequencer.terminate()
            sequencer.wait(timeout=15)
        jalv.stop()
        print("--- jalv output (last lines)\n" + "\n".join(jalv.output()[-15:]))


def main():
    args = sys.argv[1:]
    pipewire = "--pipewire" in args
    args = [a for a in args if a != "--pipewire"]
    if len(args) != 3:
        print(__doc__)
        return 2
    bundle, host, vst3 = args
    missing = [t for t in ("jalv", "jackd", "jack_lsp", "jack_rec", "jack_midiseq", "jack_connect")
               if shutil.which(t) is None]
    if missing:
        print(f"SKIP: {', '.join(missing)} not installed (Debian packages 'jalv' and 'jackd2')")
        return 77
    if pipewire and pipewire_skip_reason():
        print(f"SKIP: {pipewire_skip_reason()}")
        return 77
    load_parameters(host, vst3)

    home = tempfile.mkdtemp(prefix="kestrune-jalv-")
    lv2_path = os.path.join(home, "lv2")
    os.makedirs(lv2_path)
    os.symlink(os.path.abspath(bundle), os.path.join(lv2_path, os.path.basename(os.path.normpath(bundle))))
    server = f"kestrune-jalv-{os.getpid()}"
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), LV2_PATH=lv2_path,
               JACK_DEFAULT_SERVER=server, JACK_NO_AUDIO_RESERVATION="1", JACK_NO_START_SERVER="1")
    env.pop("DISPLAY", None)
    try:
        return verdict(lambda: on_pipewire(env, home) if pipewire else on_jack(env, home))
    finally:
        shutil.rmtree(home, ignore_errors=True)


def on_jack(env, home):
    jackd = subprocess.Popen(["jackd", "-n", env["JACK_DEFAULT_SERVER"], "-d", "dummy", "-r", str(RATE), "-p", "256"],
                             env=env, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    try:
        wait_for(lambda: "system:playback_1" in jack_ports(env), "JACK server")
        run(env, home)
    finally:
        jackd.terminate()
        jackd.wait(timeout=15)


def on_pipewire(env, home):
    with pipewire_session(env, home) as pw_env:
        run(pw_env, home)


if __name__ == "__main__":
    sys.exit(main())
