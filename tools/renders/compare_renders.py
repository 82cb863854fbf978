#!/usr/bin/env python3
"""Renders a fixed set through two builds of the plug-in and compares them sample for sample.

A change of shape (moving code, new targets) must not change a single sample. This renders every
instrument the BEFORE bundle offers (the drone switched on: it sounds only where it belongs) playing
one phrase (single notes, a chord, a repeated note, the mod wheel, a note held well past its loop
point) at 44.1, 48 and 96 kHz in blocks of 1, 64 and 512 samples with drift at 0 (or --drift N),
once through each bundle, with one host program and a fixed random seed, and reports every file
that differs.

    python3 tools/renders/compare_renders.py BEFORE.vst3 AFTER.vst3 [--drift N] [--host PATH] [--work DIR]

(with tools/python on PYTHONPATH, as `source scripts/env.sh` sets it)

Exit status 0 when every pair is identical, 1 otherwise.
"""
import argparse
import os
import pathlib
import struct
import subprocess
import sys

from kestrune_tools import wav
from kestrune_tools.host import instruments
from kestrune_tools.smf import TICKS, midi_file

RATES = [44100, 48000, 96000]
BLOCKS = [1, 64, 512]
def phrase():
    """(beat, bytes) events: single notes, a chord, a repeated note, the mod wheel, a long held note."""
    notes = [(0, 1, 67, 100), (1, 0.5, 69, 90), (1.5, 0.5, 69, 60),  # the repeated note
             (2, 1, 72, 110), (3, 2, 60, 80), (3, 2, 64, 80), (3, 2, 67, 80),  # a chord
             (5, 1, 71, 127), (6, 12, 62, 100)]  # the last one is held for 6 s, past any loop point
    events = [(int(4.5 * TICKS), bytes([0xB0, 1, 100])), (int(8 * TICKS), bytes([0xB0, 1, 0]))]
    for start, length, note, vel in notes:
        events.append((int(start * TICKS), bytes([0x90, note, vel])))
        events.append((int((start + length) * TICKS), bytes([0x80, note, 0])))
    return midi_file(events)


def wav_frames(path):
    """The bytes of the data chunk: two float renders are identical exactly when these are."""
    return next(body for chunk, body in wav.chunks(path) if chunk == b"data")


def largest_difference(a, b):
    n = min(len(a), len(b)) // 4
    fa, fb = struct.unpack(f"<{n}f", a[:n * 4]), struct.unpack(f"<{n}f", b[:n * 4])
    return max((abs(x - y) for x, y in zip(fa, fb)), default=0.0)


def render(host, bundle, midi, out, instrument, rate, block, drift):
    settings = ["--set", f"instrument={instrument}", "--set", f"drift={drift}", "--set", "droneOn=1"]
    env = dict(os.environ, KESTRUNE_RANDOM_SEED="20261210")
    subprocess.run([host, "render", bundle, str(midi), str(out), "--rate", str(rate), "--block", str(block),
                    "--tail", "1", "--float", *settings], check=True, env=env, stdout=subprocess.DEVNULL)


def main():
    root = pathlib.Path(__file__).resolve().parents[2]
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--host", default=str(root / "build/tools/host/kestrune-host"))
    parser.add_argument("--work", default=str(root / "out/compare-renders"))
    parser.add_argument("--drift", default="0", help="the drift setting of every render (0 to 100)")
    args = parser.parse_args()

    work = pathlib.Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    midi = work / "phrase.mid"
    midi.write_bytes(phrase())

    differing = 0
    total = 0
    for instrument in instruments(args.host, args.before):
        for rate in RATES:
            for block in BLOCKS:
                name = f"{instrument.lower()}-{rate}-{block}"
                files = []
                for side, bundle in (("before", args.before), ("after", args.after)):
                    out = work / f"{name}-{side}.wav"
                    render(args.host, bundle, midi, out, instrument, rate, block, args.drift)
                    files.append(wav_frames(out))
                total += 1
                if files[0] != files[1]:
                    differing += 1
                    print(f"DIFFERS {name}: {len(files[0]) // 4} vs {len(files[1]) // 4} values, "
                          f"largest difference {largest_difference(*files):.3g}")
    print(f"{total - differing} of {total} renders identical sample for sample")
    return 0 if differing == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
