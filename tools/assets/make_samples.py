#!/usr/bin/python3
"""Renders the recordings of the sample bank that assets/recordings.txt lists from a General MIDI
SoundFont with fluidsynth.

Each group of notes is rendered in one fluidsynth run (one note after another, dry), then every
note is cut out, trimmed so that its onset is frame 0, levelled (held tones), cut to its length,
peak-normalised and written as 16-bit mono 44.1 kHz WAV with a LIST/INFO chunk. The two drones are
different: the engine loops each of them whole, from the low drone's last frame back to frame 0, so
they are cut from the steady part of the tone as seamless loops of the low drone's length.
The pitch of every note is measured and corrected with pitch bend in a second render, so each
recording sounds within a cent or two of the note its file name spells.

Usage: make_samples.py OUTPUT_DIR [--soundfont FILE] [--only GROUP ...]
A group is a zone set of the list, or "drone" for both reeds. A set without a recipe below is left
alone (its recordings come from elsewhere).
Needs fluidsynth, the SoundFont, python3-numpy and tools/python on PYTHONPATH
(tools/assets/make_assets.sh sees to all of them).
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np

from kestrune_tools import wav
from kestrune_tools.recordings import recordings
from kestrune_tools.smf import midi_file

RATE = 44100
MAX_FRAMES = 4 * RATE
SOFTWARE_TAG = b"Kestrune asset pipeline (fluidsynth)"
PEAK = 10 ** (-1.0 / 20)  # -1 dBFS

def geometric(n, n0, len0, n1, len1):
    """Length falling geometrically from len0 at note n0 to len1 at note n1."""
    return len0 * (len1 / len0) ** ((n - n0) / (n1 - n0))


# How each group is rendered: its GM program (0-based), its kind (PLUCK, HELD or DRONE), and the length
# in frames of a note, from the note it sounds at.
PLUCK, HELD, DRONE = "pluck", "held", "drone"
DRONE_LOOP = 106512  # the drone's loop: the low drone's length, after which both restart at frame 0

RECIPES = {
    # The eight lowest ring for the full 4 s; above F3 the notes shorten towards 0.895 s at C6.
    "guitar": (24, PLUCK, lambda n: MAX_FRAMES if n <= 53 else round(RATE * geometric(n, 53, 4.0, 84, 0.895))),
    "harp": (46, PLUCK, lambda n: MAX_FRAMES if n <= 65 else round(RATE * geometric(n, 65, 4.0, 101, 0.631))),
    "recorder": (74, HELD, lambda n: round(RATE * geometric(n, 72, 3.177, 93, 1.789))),
    "bagpipes": (109, HELD, lambda n: round(RATE * {78: 3.718, 79: 3.437}[n]) if n in (78, 79) else MAX_FRAMES),
    # The drones are a reed organ: a plain, steady reed tone that sits under the chanter.
    "drone": (20, DRONE, lambda n: DRONE_LOOP if n == 43 else MAX_FRAMES),
    "organ": (19, HELD, lambda n: MAX_FRAMES),
    "horn": (60, HELD, lambda n: round(RATE * {60: 2.574, 72: 1.240}[n])),
}


def group_of(row):
    return "drone" if row.set in ("droneLow", "droneHigh") else row.set


def catalogue():
    """(group, program, kind, [(name, note, frames)]) for every group with a recipe, its notes in the order
    of their names (the order the committed files were rendered in)."""
    groups = {}
    for row in sorted(recordings(), key=lambda r: r.file):
        groups.setdefault(group_of(row), []).append(row)
    for group, rows in groups.items():
        if group not in RECIPES:
            print("not rendered here (no recipe): %s" % ", ".join(r.file for r in rows))
            continue
        program, kind, length = RECIPES[group]
        yield group, program, kind, [(r.file[:-len(".wav")], r.pitch, length(r.pitch)) for r in rows]


# ---------------------------------------------------------------------------------------------
# MIDI writing and rendering

TICKS_PER_SECOND = 960  # 480 ticks per quarter at the default 120 bpm
LEAD_IN = 0.5
GAP = 3.0  # after each note-off, so the release has died before the next note starts
EXTRA_HOLD = 0.6  # held notes sound past their cut so the cut never reaches the release
DRONE_SETTLE = 0.6  # a drone's loop is taken from after its attack
VELOCITY = 100


def hold_seconds(kind, frames):
    """How long a note is held in the render."""
    if kind == DRONE:
        return DRONE_SETTLE + DRONE_LOOP / RATE + 1.0
    return frames / RATE + EXTRA_HOLD


def note_layout(kind, notes):
    """Start time of each note in the render, in seconds."""
    starts, t = [], LEAD_IN
    for _, _, frames in notes:
        starts.append(t)
        t += hold_seconds(kind, frames) + GAP
    return starts, t


def write_midi(path, program, kind, notes, bends):
    starts, end = note_layout(kind, notes)
    events = [(0, bytes([0xB0, 0, 0])), (0, bytes([0xC0, program])),
              (0, bytes([0xB0, 91, 0])), (0, bytes([0xB0, 93, 0]))]
    for (name, note, frames), start in zip(notes, starts):
        bend = int(round(bends.get(name, 8192)))
        bend = max(0, min(16383, bend))
        events.append((int((start - 0.25) * TICKS_PER_SECOND), bytes([0xE0, bend & 0x7F, bend >> 7])))
        events.append((int(start * TICKS_PER_SECOND), bytes([0x90, note, VELOCITY])))
        events.append((int((start + hold_seconds(kind, frames)) * TICKS_PER_SECOND), bytes([0x80, note, 0])))
    with open(path, "wb") as f:
        f.write(midi_file(events, ppq=480, end=int(end * TICKS_PER_SECOND)))


def read_float_wav(path):
    recording = wav.read(path)
    assert recording.is_float and recording.bits == 32 and recording.rate == RATE, recording[:3]
    return np.stack([np.frombuffer(c, dtype=np.float32) for c in recording.channels], axis=1).astype(np.float64)


def render(soundfont, program, kind, notes, bends, workdir):
    mid, wav, cfg = (os.path.join(workdir, n) for n in ("notes.mid", "notes.wav", "fluid.cfg"))
    write_midi(mid, program, kind, notes, bends)
    with open(cfg, "w") as f:
        f.write("interp 7\n")
    subprocess.run(["fluidsynth", "-q", "-ni", "-R", "0", "-C", "0", "-r", str(RATE), "-O", "float",
                    "-T", "wav", "-f", cfg, "-F", wav, soundfont, mid],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return read_float_wav(wav).mean(axis=1)  # fluidsynth renders stereo; the bank is mono


# ---------------------------------------------------------------------------------------------
# Analysis

def yin_pitch(x, expected_hz, threshold=0.15):
    """Fundamental in Hz by YIN (cumulative-mean-normalised difference, parabolic refinement).

    Lags run from well below to half again above the expected period: a note an octave too high
    shows its own shorter period, one an octave too low finds no dip and reads far off."""
    period = RATE / expected_hz
    min_lag, max_lag = max(2, int(period / 2.2)), int(period * 1.5) + 2
    w = len(x) - max_lag
    d = np.array([np.sum((x[:w] - x[tau:tau + w]) ** 2) for tau in range(max_lag + 1)])
    cmnd = np.ones_like(d)
    running = np.cumsum(d[1:])
    cmnd[1:] = d[1:] * np.arange(1, len(d)) / np.maximum(running, 1e-20)
    tau = None
    for t in range(min_lag, max_lag):
        if cmnd[t] < threshold:
            while t + 1 < max_lag and cmnd[t + 1] < cmnd[t]:
                t += 1
            tau = t
            break
    if tau is None:
        tau = min_lag + int(np.argmin(cmnd[min_lag:max_lag]))
    a, b, c = cmnd[tau - 1], cmnd[tau], cmnd[tau + 1]
    denom = a - 2 * b + c
    shift = 0.5 * (a - c) / denom if denom > 0 else 0.0
    return RATE / (tau + shift)


def midi_hz(note):
    return 440.0 * 2 ** ((note - 69) / 12)


def pitch_window(x, sustained, note):
    """The stretch whose pitch counts: the steady middle of a held note, the early ring of a pluck."""
    period = RATE / midi_hz(note)
    if sustained:  # a quarter second averages out the slow wander of the reed and the horn section
        length = RATE // 4
        start = len(x) // 2 - length // 2
    else:
        length = int(max(4096, 8 * period))
        start = int(0.06 * RATE)
    return x[start:start + length + int(1.5 * period) + 2]


def cents_off(x, sustained, note):
    return 1200 * np.log2(yin_pitch(pitch_window(x, sustained, note), midi_hz(note)) / midi_hz(note))


def sliding_rms(x, width):
    c = np.concatenate(([0.0], np.cumsum(x * x)))
    half = width // 2
    lo = np.clip(np.arange(len(x)) - half, 0, len(x))
    hi = np.clip(np.arange(len(x)) + half, 0, len(x))
    return np.sqrt((c[hi] - c[lo]) / np.maximum(hi - lo, 1))


def level_sustain(x, note):
    """Flattens the slow swell and beating of a held tone so it loops at a steady level.

    The envelope is an RMS over several periods, smoothed again; the first 80 ms keep their
    natural attack and the correction fades in over the next 170 ms."""
    period = RATE / midi_hz(note)
    width = int(max(2048, 6 * period))
    env = sliding_rms(sliding_rms(x, width), width)
    settled = env[int(0.25 * RATE):]
    target = np.median(settled)
    gain = np.clip(target / np.maximum(env, 1e-9), 0.25, 4.0)
    t = np.arange(len(x)) / RATE
    blend = np.clip((t - 0.08) / 0.17, 0.0, 1.0)
    return x * ((1 - blend) + blend * gain)


def seamless_loop(y, note, length):
    """`length` frames of a steady tone y whose last frame flows into its first.

    The loop starts after the attack, at the offset (within one period) where the material just
    before it best matches the loop's end, and its last quarter second is cross-faded into that
    material: at the wrap, the end has become exactly what preceded the start."""
    period = RATE / midi_hz(note)
    fade = RATE // 4
    first = int(DRONE_SETTLE * RATE)

    def match(s):
        a, b = y[s + length - fade:s + length], y[s - fade:s]
        return np.dot(a, b) / np.sqrt(np.dot(a, a) * np.dot(b, b))

    start = max(range(first, first + int(period) + 1), key=match)
    loop = y[start:start + length].copy()
    w = 0.5 * (1 - np.cos(np.linspace(0, np.pi, fade)))
    loop[-fade:] = loop[-fade:] * (1 - w) + y[start - fade:start] * w
    return loop


def cut_note(mix, start_seconds, kind, frames, note):
    region = mix[int((start_seconds - 0.1) * RATE):int((start_seconds + hold_seconds(kind, frames)) * RATE)]
    peak = np.max(np.abs(region))
    onset = int(np.argmax(np.abs(region) > peak * 10 ** (-50 / 20)))
    if kind == DRONE:
        # Both drones restart together after DRONE_LOOP frames; the longer one repeats its loop.
        loop = seamless_loop(level_sustain(region[onset:], note), note, DRONE_LOOP)
        x = np.tile(loop, -(-frames // DRONE_LOOP))[:frames]
    else:
        x = region[onset:onset + frames].copy()
        assert len(x) == frames, (len(x), frames)
        if kind == HELD:
            x = level_sustain(x, note)
        else:
            fade = int(0.010 * RATE)  # a plucked note is cut while it still rings: end it without a click
            x[-fade:] *= 0.5 * (1 + np.cos(np.linspace(0, np.pi, fade)))
    return x * (PEAK / np.max(np.abs(x)))


# ---------------------------------------------------------------------------------------------
# WAV writing: PCM 16-bit mono, 16-byte fmt chunk, LIST/INFO with ISFT, then data

def wav_bytes(x):
    pcm = np.clip(np.round(x * 32767.0), -32767, 32767).astype("<i2").tobytes()
    isft = SOFTWARE_TAG + b"\0"
    info = b"INFO" + b"ISFT" + struct.pack("<I", len(isft)) + isft + b"\0" * (len(isft) & 1)
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE * 2, 2, 16)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
            + b"LIST" + struct.pack("<I", len(info)) + info
            + b"data" + struct.pack("<I", len(pcm)) + pcm)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("output")
    parser.add_argument("--soundfont", default="/usr/share/sounds/sf2/FluidR3_GM.sf2")
    parser.add_argument("--only", nargs="*", help="groups to render (default: all)")
    args = parser.parse_args()

    worst = 0.0
    with tempfile.TemporaryDirectory() as workdir:
        for group, program, kind, notes in catalogue():
            if args.only and group not in args.only:
                continue
            starts, _ = note_layout(kind, notes)
            bends = {}
            # Pass 1 measures each note's tuning; pass 2 renders with the bend that cancels it
            # (the default bend range is +-2 semitones: 8192/200 steps per cent).
            for attempt in range(3):
                mix = render(args.soundfont, program, kind, notes, bends, workdir)
                results = {}
                for (name, note, frames), start in zip(notes, starts):
                    x = cut_note(mix, start, kind, frames, note)
                    results[name] = (x, cents_off(x, kind != PLUCK, note))
                if all(abs(c) < 1.0 for _, c in results.values()):
                    break
                for name, (_, c) in results.items():
                    bends[name] = bends.get(name, 8192) - c * 8192 / 200
            for name, (x, c) in results.items():
                worst = max(worst, abs(c))
                with open(os.path.join(args.output, name + ".wav"), "wb") as f:
                    f.write(wav_bytes(x))
                print("%-16s %6.3f s  %+5.1f cents" % (name, len(x) / RATE, c))
    print("largest tuning error: %.1f cents" % worst)


if __name__ == "__main__":
    sys.exit(main())
