#!/usr/bin/env python3
"""Writes the demo phrases as Standard MIDI Files: a short tune, and the same tune with the mod wheel up."""
import sys

from kestrune_tools.smf import TICKS, midi_file


def phrase(mod_wheel):
    # (start beat, length in beats, note, velocity)
    notes = [(0, 1, 67, 100), (1, 0.5, 69, 90), (1.5, 0.5, 71, 90), (2, 1, 72, 110), (3, 1, 74, 95),
             (4, 1.5, 76, 105), (5.5, 0.5, 74, 80), (6, 2, 72, 100), (6, 2, 64, 70), (6, 2, 60, 70)]
    events = []
    if mod_wheel:
        events.append((int(3 * TICKS), bytes([0xB0, 1, 90])))
    for start, length, note, vel in notes:
        events.append((int(start * TICKS), bytes([0x90, note, vel])))
        events.append((int((start + length) * TICKS), bytes([0x80, note, 0])))
    return midi_file(events)


if __name__ == "__main__":
    folder = sys.argv[1]
    open(f"{folder}/phrase.mid", "wb").write(phrase(False))
    open(f"{folder}/phrase-modwheel.mid", "wb").write(phrase(True))
