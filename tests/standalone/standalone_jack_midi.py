#!/usr/bin/env python3
"""The Standalone's JACK MIDI input, on a JACK server with the dummy back end, or on PipeWire's JACK.

jack_midiseq plays a loop of notes into the app's port "midi_in" and jack_rec records its outputs:
each note starts on the frame it was sent at. The notes sit at other places in JACK's cycles from
one to the next, so a note placed anywhere but its own frame (at its cycle's start, or by a clock)
would land up to a cycle away. Then the server is killed: the app keeps running and, when a server
starts again, rejoins it with its three ports and plays the sequencer's notes again.

With --pipewire, the same notes on a PipeWire graph of the test's own (pipewire_session.py), every
JACK client through PipeWire's JACK library.

    xvfb-run -a standalone_jack_midi.py [--pipewire] PATH_TO_APP

Exit status 0 = pass, 1 = fail, 77 = JACK's (or PipeWire's) server or tools are not installed
(reported as skipped).
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

from kestrune_tools.jack import RATE, jack_ports, read_recording, verdict, wait_for
from kestrune_tools.pipewire import pipewire_session, skip_reason as pipewire_skip_reason
from standalone_jack import CLIENT, PORTS, SETTINGS, start_app, stop
from standalone_smoke import WINDOW_TITLE

MIDI_PORT = f"{CLIENT}:midi_in"
PERIOD = 256
# Three short C4s half a second apart, each at another place in the cycle, in a loop whose length
# moves them on by 101 frames each time round.
LOOP = 72037
NOTES = [0, 24113, 48205]
NOTE_LENGTH = 2400
# The notes end in silence (quick release, no reverb, no drift or ornament), so each identical note's
# onset is where the sound first rises from silence.
SOUND = {"attack": 0.001, "release": 0.01, "reverbMix": 0.0, "drift": 0.0, "ornament": 0.0}
QUIET = 4000
TOLERANCE = 4


def juce_base64(data):
    """The framework's MemoryBlock::toBase64Encoding: the size, a dot, then six bits a character
    taken from the bytes' little-endian bit stream."""
    table = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
    bits = int.from_bytes(data, "little")
    return f"{len(data)}." + "".join(table[(bits >> (6 * i)) & 63] for i in range((len(data) * 8 + 5) // 6))


def settings_with_sound():
    """The JACK settings with the plug-in's state as the framework's copyXmlToBinary stores it."""
    xml = ('<?xml version="1.0" encoding="UTF-8"?> <Parameters>'
           + "".join(f'<PARAM id="{k}" value="{v}"/>' for k, v in SOUND.items()) + "</Parameters>").encode()
    state = struct.pack("<II", 0x21324356, len(xml)) + xml + b"\0"
    return SETTINGS.replace("</PROPERTIES>", f'  <VALUE name="filterState" val="{juce_base64(state)}"/>\n</PROPERTIES>')


def start_jackd(env, server):
    proc = subprocess.Popen(["jackd", "-n", server, "-d", "dummy", "-r", str(RATE), "-p", str(PERIOD)], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    wait_for(lambda: "system:playback_1" in jack_ports(env), "JACK server")
    return proc


def port_types(env):
    """{port: type} as jack_lsp -t lists them."""
    lines = subprocess.run(["jack_lsp", "-t"], env=env, capture_output=True, text=True).stdout.splitlines()
    return {name: kind.strip() for name, kind in zip(lines[::2], lines[1::2])}


def start_sequencer(env, name):
    args = [str(LOOP)]
    for start in NOTES:
        args += [str(start), "60", str(NOTE_LENGTH)]
    seq = subprocess.Popen(["jack_midiseq", name, *args], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.STDOUT)
    wait_for(lambda: f"{name}:out" in jack_ports(env), "sequencer port")
    subprocess.run(["jack_connect", f"{name}:out", MIDI_PORT], env=env, check=True)
    return seq


def record(env, path, seconds):
    subprocess.run(["jack_rec", "-f", path, "-d", str(seconds), "-b", "16", *PORTS], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, timeout=seconds + 15)
    left, right = read_recording(path)
    return [max(abs(l), abs(r)) for l, r in zip(left, right)]


def onsets(levels):
    threshold = max(levels) * 0.01
    found = []
    last_loud = -QUIET - 1
    for i, level in enumerate(levels):
        if level >= threshold:
            if i - last_loud > QUIET and i > QUIET:
                found.append(i)
            last_loud = i
    return found, threshold


def check_timing(found):
    """Each onset against the loop, anchored on the note that fits best: how far each is from its
    note's frame."""
    def errors(anchor):
        result = []
        for onset in found:
            position = (onset - found[0] + anchor) % LOOP
            note = min(NOTES, key=lambda n: min(abs(position - n), LOOP - abs(position - n)))
            error = (position - note + LOOP // 2) % LOOP - LOOP // 2
            result.append((onset, note, error))
        return result

    offsets = min((errors(anchor) for anchor in NOTES), key=lambda r: max(abs(e) for _, _, e in r))
    print("onsets (frame, note's place in the loop, error):", offsets)
    bad = [o for o in offsets if abs(o[2]) > TOLERANCE]
    if bad:
        raise RuntimeError(f"notes off their frames by more than {TOLERANCE} samples: {bad}")
    return {note for _, note, _ in offsets}


def app_on_server(app, env):
    """Starts the app and waits for its three ports."""
    proc = start_app(app, env)
    wait_for(lambda: all(p in jack_ports(env) for p in PORTS + [MIDI_PORT]) or proc.poll() is not None,
             "the app's ports")
    if proc.poll() is not None:
        raise RuntimeError(f"the app exited with {proc.returncode}")
    kind = port_types(env).get(MIDI_PORT, "")
    if "midi" not in kind:
        raise RuntimeError(f"{MIDI_PORT} is not a MIDI port: {kind}")
    return proc


def notes_on_their_frames(env, home, sequencer, seconds, least):
    """Plays the loop into the app and checks the recorded notes' frames; returns the sequencer."""
    seq = start_sequencer(env, sequencer)
    time.sleep(0.5)
    found, threshold = onsets(record(env, os.path.join(home, f"{sequencer}.wav"), seconds))
    print(f"{sequencer}: {len(found)} onsets above {threshold:.0f} (16-bit)")
    if len(found) < least:
        raise RuntimeError(f"expected at least {least} notes in {seconds} s, found {len(found)}")
    if check_timing(found) != set(NOTES) and least >= len(NOTES):
        raise RuntimeError("not every note of the loop sounded")
    return seq


def on_jack(app, env, home, others):
    server = env["JACK_DEFAULT_SERVER"]
    jackd = start_jackd(env, server)
    proc = None
    try:
        proc = app_on_server(app, env)
        others.append(notes_on_their_frames(env, home, "seq", 4, 6))

        # The server goes away: the app stays up. A new server: the app joins it again.
        jackd.kill()
        jackd.wait()
        time.sleep(2.0)
        if proc.poll() is not None:
            raise RuntimeError(f"the app exited with {proc.returncode} when the server went away")
        jackd = start_jackd(env, server)
        wait_for(lambda: all(p in jack_ports(env) for p in PORTS + [MIDI_PORT]) or proc.poll() is not None,
                 "the app's ports on the new server")
        if proc.poll() is not None:
            raise RuntimeError(f"the app exited with {proc.returncode}")
        print("rejoined:", ", ".join(p for p in jack_ports(env) if p.startswith(CLIENT)))
        others.append(notes_on_their_frames(env, home, "seq2", 2, 2))
    finally:
        stop_all(others)
        if proc is not None:
            stop(proc)
        if jackd.poll() is None:
            jackd.terminate()
            jackd.wait()


def on_pipewire(app, env, home, others):
    with pipewire_session(env, home) as pw_env:
        proc = None
        try:
            proc = app_on_server(app, pw_env)
            others.append(notes_on_their_frames(pw_env, home, "seq", 4, 6))
        finally:
            stop_all(others)
            if proc is not None:
                stop(proc)


def stop_all(procs):
    for proc in procs:
        if proc.poll() is None:
            proc.terminate()
            proc.wait()
    procs.clear()


def main():
    args = sys.argv[1:]
    pipewire = "--pipewire" in args
    args = [a for a in args if a != "--pipewire"]
    if len(args) != 1:
        print(__doc__)
        return 2
    app = args[0]
    missing = [tool for tool in ("jackd", "jack_lsp", "jack_rec", "jack_midiseq", "jack_connect")
               if shutil.which(tool) is None]
    if missing:
        print(f"SKIP: {', '.join(missing)} not installed (Debian package 'jackd2')")
        return 77
    if pipewire and pipewire_skip_reason():
        print(f"SKIP: {pipewire_skip_reason()}")
        return 77

    home = tempfile.mkdtemp(prefix="kestrune-jack-midi-")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               JACK_DEFAULT_SERVER=f"kestrune-midi-{os.getpid()}", JACK_NO_AUDIO_RESERVATION="1",
               JACK_NO_START_SERVER="1")
    os.makedirs(os.path.join(home, ".config"))
    with open(os.path.join(home, ".config", f"{WINDOW_TITLE}.settings"), "w") as f:
        f.write(settings_with_sound())

    try:
        return verdict(lambda: (on_pipewire if pipewire else on_jack)(app, env, home, []))
    finally:
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
