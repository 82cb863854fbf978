#!/usr/bin/env python3
"""Measures, through the host program, the figures a musician hears in the first minute:

  seams   largest step at a loop point over the largest step elsewhere in the loop, per instrument
  drone   the drone's pitch error in cents at 22.05 to 192 kHz
  onset   the sample at which a note-on placed mid-block first sounds
  peaks   peak level at the default settings, 16 notes at velocity 127, drone on
  blocks  largest difference between renders of the same MIDI in blocks of 37 to 4096 and in blocks of 1

    python3 tools/renders/measure_sound.py BUNDLE.vst3 [--host PATH] [--work DIR] [seams drone onset peaks blocks]

(with tools/python on PYTHONPATH, as `source scripts/env.sh` sets it)
"""
import argparse
import math
import os
import pathlib
import subprocess
import sys

from kestrune_tools import wav
from kestrune_tools.host import instruments
from kestrune_tools.recordings import ASSETS, recordings
from kestrune_tools.smf import TICKS, midi_file

ROOT = pathlib.Path(__file__).resolve().parents[2]


def midi_in_seconds(events):
    """(seconds, bytes) events as a file: 960 ticks a second at the default tempo."""
    return midi_file([(int(round(seconds * 2 * TICKS)), data) for seconds, data in events])


class Renderer:
    def __init__(self, host, bundle, work):
        self.host, self.bundle, self.work = host, bundle, pathlib.Path(work)
        self.work.mkdir(parents=True, exist_ok=True)
        self.count = 0

    def render(self, events, settings, rate=44100, block=64, tail=1.0):
        self.count += 1
        mid, out = self.work / f"m{self.count}.mid", self.work / f"r{self.count}.wav"
        mid.write_bytes(midi_in_seconds(events))
        args = [self.host, "render", self.bundle, str(mid), str(out), "--rate", str(rate), "--block", str(block),
                "--tail", str(tail), "--float"]
        for key, value in settings.items():
            args += ["--set", f"{key}={value}"]
        env = dict(os.environ, KESTRUNE_RANDOM_SEED="7")
        subprocess.run(args, check=True, env=env, stdout=subprocess.DEVNULL)
        return wav.read(out).channels


def zone_roots(playable):
    """(instrument, root note, frames) of every held recording of a zone set that an instrument of
    `playable` plays: a set is named for the instrument whose recordings it holds."""
    for row in recordings():
        if row.held and row.set.upper() in playable:
            yield row.set.upper(), row.root, len(wav.read(ASSETS / row.file).channels[0])


def seams(r):
    plain = {"drift": 0, "ornament": 0, "reverbMix": 0, "attack": 0.001, "brightness": 100}
    worst = {}
    for instrument, root, length in zone_roots(instruments(r.host, r.bundle)):
        loop_start = length * 7 // 10
        loop = length - loop_start
        seconds = (length + 3 * loop) / 44100 + 0.01
        left = r.render([(0, bytes([0x90, root, 127])), (seconds, bytes([0x80, root, 0]))],
                        dict(plain, instrument=instrument), tail=0.01)[0]
        steps = [abs(left[i] - left[i - 1]) for i in range(1, len(left))]
        elsewhere = max(steps[length + 2 - 1:length + loop - 2 - 1])
        seam = max(steps[length + k * loop - 1] for k in range(3))
        ratio = seam / elsewhere if elsewhere > 0 else float("inf")
        worst[instrument] = max(worst.get(instrument, 0.0), ratio)
    for instrument, ratio in worst.items():
        print(f"seams  {instrument:9s} largest loop-point step / largest step elsewhere: {ratio:.2f}")


def period(x, expected):
    lo, hi = int(expected * 0.9), int(expected * 1.1) + 2
    n = len(x) - hi - 1
    def corr(lag):
        return sum(x[i] * x[i + lag] for i in range(0, n))
    r = {lag: corr(lag) for lag in range(lo - 1, hi + 2)}
    best = max(range(lo, hi + 1), key=lambda lag: r[lag])
    a, b, c = r[best - 1], r[best], r[best + 1]
    return best + 0.5 * (a - c) / (a - 2 * b + c)


def drone(r):
    g2 = 440.0 * 2 ** ((43 - 69) / 12)
    for rate in (22050, 44100, 48000, 88200, 96000, 192000):
        left = r.render([(0.3, bytes([0xB0, 64, 0]))], {"instrument": "BAGPIPES", "droneOn": 1, "drift": 0,
                                                        "reverbMix": 0, "brightness": 100}, rate=rate, tail=0.01)[0]
        x = left[int(rate * 0.05):int(rate * 0.3)]
        cents = 1200 * math.log2(rate / period(x, rate / g2) / g2)
        print(f"drone  {rate:6d} Hz: {cents:+8.2f} cents")


def onset(r):
    for block in (64, 512, 4096):
        at = 0.25 + 100 / 48000  # sample 12100 at 48 kHz: mid-block for every size
        left = r.render([(at, bytes([0x90, 60, 100])), (at + 0.2, bytes([0x80, 60, 0]))],
                        {"instrument": "RHODES", "reverbMix": 0}, rate=48000, block=block, tail=0.2)[0]
        first = next(i for i, y in enumerate(left) if y != 0.0)
        print(f"onset  block {block:4d}: note-on at sample {round(at * 48000)}, first sound at sample {first}")


def peaks(r):
    for instrument in instruments(r.host, r.bundle):
        events = [(0, bytes([0x90, 48 + 2 * n, 127])) for n in range(16)]
        events += [(3, bytes([0x80, 48 + 2 * n, 0])) for n in range(16)]
        settings = {"instrument": instrument, "droneOn": 1}   # the drone sounds only where it belongs
        out = r.render(events, settings, tail=3.0)
        peak = max(max(abs(y) for y in ch) for ch in out)
        print(f"peaks  {instrument:9s} {20 * math.log10(peak):+6.2f} dBFS")


def blocks(r):
    events = [(0.01, bytes([0x90, 60, 100])), (0.2, bytes([0x90, 64, 90])), (0.5, bytes([0xB0, 1, 100])),
              (0.8, bytes([0x80, 60, 0])), (1.0, bytes([0xB0, 1, 0])), (1.1, bytes([0x80, 64, 0]))]
    for instrument in ("HARP", "CHANT"):
        reference = r.render(events, {"instrument": instrument}, rate=48000, block=1)
        for block in (37, 64, 512, 4096):
            out = r.render(events, {"instrument": instrument}, rate=48000, block=block)
            worst = max(abs(a - b) for ca, cb in zip(out, reference) for a, b in zip(ca, cb))
            print(f"blocks {instrument:9s} block {block:4d} vs 1: largest difference {worst:.3g}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bundle")
    parser.add_argument("checks", nargs="*", default=["seams", "drone", "onset", "peaks", "blocks"])
    parser.add_argument("--host", default=str(ROOT / "build/tools/host/kestrune-host"))
    parser.add_argument("--work", default=str(ROOT / "out/measure-sound"))
    args = parser.parse_args()
    r = Renderer(args.host, args.bundle, args.work)
    for check in args.checks:
        globals()[check](r)
    return 0


if __name__ == "__main__":
    sys.exit(main())
