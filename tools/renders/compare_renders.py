#!/usr/bin/env python3
"""Renders a fixed set through two builds of the plug-in and compares them sample for sample.

A change of shape (moving code, new targets) must not change a single sample. This renders every
instrument playing one phrase (single notes, a chord, a repeated note, the mod wheel, a note held well
past its loop point) at 44.1, 48 and 96 kHz in blocks of 1, 64 and 512 samples with drift at 0, once
through each bundle, with one host program and a fixed random seed, and reports every file that differs.

    python3 tools/renders/compare_renders.py BEFORE.vst3 AFTER.vst3 [--host PATH] [--work DIR]

Exit status 0 when every pair is identical, 1 otherwise.
"""
import argparse
import os
import pathlib
import struct
import subprocess
import sys

INSTRUMENTS = ["BAGPIPES", "RECORDER", "HARP", "GUITAR", "ORGAN", "HORN", "CHANT", "RHODES"]
RATES = [44100, 48000, 96000]
BLOCKS = [1, 64, 512]
TICKS = 480  # per quarter note at the file's default 120 bpm: one beat is 0.5 s


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def phrase():
    """(beat, bytes) events: single notes, a chord, a repeated note, the mod wheel, a long held note."""
    notes = [(0, 1, 67, 100), (1, 0.5, 69, 90), (1.5, 0.5, 69, 60),  # the repeated note
             (2, 1, 72, 110), (3, 2, 60, 80), (3, 2, 64, 80), (3, 2, 67, 80),  # a chord
             (5, 1, 71, 127), (6, 12, 62, 100)]  # the last one is held for 6 s, past any loop point
    events = [(int(4.5 * TICKS), bytes([0xB0, 1, 100])), (int(8 * TICKS), bytes([0xB0, 1, 0]))]
    for start, length, note, vel in notes:
        events.append((int(start * TICKS), bytes([0x90, note, vel])))
        events.append((int((start + length) * TICKS), bytes([0x80, note, 0])))
    events.sort(key=lambda e: (e[0], e[1][0] == 0x90))
    track, now = b"", 0
    for tick, data in events:
        track += vlq(tick - now) + data
        now = tick
    track += vlq(0) + b"\xFF\x2F\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS) + b"MTrk" + struct.pack(">I", len(track)) + track


def wav_frames(path):
    """The bytes of the data chunk: two float renders are identical exactly when these are."""
    data = pathlib.Path(path).read_bytes()
    pos = 12
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if chunk == b"data":
            return data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    raise ValueError(f"{path}: no data chunk")


def largest_difference(a, b):
    n = min(len(a), len(b)) // 4
    fa, fb = struct.unpack(f"<{n}f", a[:n * 4]), struct.unpack(f"<{n}f", b[:n * 4])
    return max((abs(x - y) for x, y in zip(fa, fb)), default=0.0)


def render(host, bundle, midi, out, instrument, rate, block):
    settings = ["--set", f"instrument={instrument}", "--set", "drift=0"]
    if instrument == "BAGPIPES":
        settings += ["--set", "droneOn=1"]
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
    args = parser.parse_args()

    work = pathlib.Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    midi = work / "phrase.mid"
    midi.write_bytes(phrase())

    differing = 0
    total = 0
    for instrument in INSTRUMENTS:
        for rate in RATES:
            for block in BLOCKS:
                name = f"{instrument.lower()}-{rate}-{block}"
                files = []
                for side, bundle in (("before", args.before), ("after", args.after)):
                    out = work / f"{name}-{side}.wav"
                    render(args.host, bundle, midi, out, instrument, rate, block)
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
