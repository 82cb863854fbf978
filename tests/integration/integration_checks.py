#!/usr/bin/env python3
"""Checks that drive the built VST3 bundle through kestrune-host, as a DAW would drive it.

Each subcommand is one ctest entry; it exits non-zero with a message on the first failed check.
"""
import argparse
import base64
import json
import math
import os
import pathlib
import re
import resource
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools" / "renders"))
from smf import vlq  # noqa: E402  (the variable-length numbers of Standard MIDI Files)
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
import sharp_edges  # noqa: E402  (how sharply the editor's divider line is drawn)

# What the instrument promises about its twelve parameters, in the order the host lists them: their names
# and the text each shows at its default. Everything else about them is read from `info --json`,
# which carries the instrument's parameter table.
DESIGN_DEFAULTS = [
    ("Instrument", "BAGPIPES"), ("Attack", "0.010"), ("Release", "0.30"), ("Drone Volume", "50.0"),
    ("Drone On", "Off"), ("Brightness", "70.0"), ("Volume", "80.0"), ("Ornament", "60.0"),
    ("Drift", "25.0"), ("Reverb Mix", "30.0"), ("Reverb Size", "50.0"), ("Focus Mode", "Off"),
]
# A saved project stores the instrument as an index: these keep their places, and new instruments
# join at the end.
SAVED_INSTRUMENTS = ["BAGPIPES", "RECORDER", "HARP", "GUITAR", "ORGAN", "HORN", "CHANT", "RHODES"]
TABLE_FIELDS = {"id", "name", "kind", "start", "end", "step", "skew", "default", "unit", "defaultText"}

SILENCE = 1e-6
AUDIBLE_DB = -60.0


class CheckFailed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


def host(args, *command, expect=0, env=None):
    result = subprocess.run([args.host, *command], capture_output=True, text=True, timeout=240, env=env)
    if expect is not None and result.returncode != expect:
        raise CheckFailed(f"kestrune-host {' '.join(command)} exited {result.returncode}, expected {expect}\n"
                          f"stdout: {result.stdout}\nstderr: {result.stderr}")
    return result


def host_json(args, *command):
    return json.loads(host(args, *command).stdout)


_info = {}


def info(args):
    """The bundle's `info --json`, read once per check."""
    if args.bundle not in _info:
        _info[args.bundle] = host_json(args, "info", args.bundle, "--json")
    return _info[args.bundle]


def parameter_table(args):
    return {p["id"]: p for p in info(args)["parameters"]}


# ---------------------------------------------------------------------------------------------------
# Standard MIDI File and WAV helpers


def smf(ppq, tracks):
    """tracks: lists of (absolute tick, event bytes); returns a format-1 Standard MIDI File."""
    data = struct.pack(">4sIHHH", b"MThd", 6, 1, len(tracks), ppq)
    for events in tracks:
        body, last = b"", 0
        for tick, event in sorted(events, key=lambda e: e[0]) + [(max([0] + [t for t, _ in events]), b"\xff\x2f\x00")]:
            body += vlq(tick - last) + event
            last = tick
        data += struct.pack(">4sI", b"MTrk", len(body)) + body
    return data


def tempo(microseconds_per_beat):
    return b"\xff\x51\x03" + microseconds_per_beat.to_bytes(3, "big")


def note_on(note, velocity=100):
    return bytes([0x90, note, velocity])


def note_off(note):
    return bytes([0x80, note, 0])


def juce_base64_encode(data):
    """The inverse of juce_base64."""
    table = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
    value = int.from_bytes(data, "little")
    return f"{len(data)}." + "".join(table[(value >> (6 * i)) & 63] for i in range((len(data) * 8 + 5) // 6))


def juce_binary_xml(xml):
    """JUCE's copyXmlToBinary: magic, length, the XML text and a terminating zero."""
    body = xml.encode()
    return b"VC2!" + struct.pack("<I", len(body)) + body + b"\0"


def read_wav(path):
    """Returns (rate, channels, bits, is_float, frames as lists of per-channel floats)."""
    data = pathlib.Path(path).read_bytes()
    check(data[:4] == b"RIFF" and data[8:12] == b"WAVE", f"{path} is not a RIFF WAVE file")
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        kind, size = struct.unpack("<4sI", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + size]
        if kind == b"fmt ":
            tag, channels, rate, _, _, bits = struct.unpack("<HHIIHH", chunk[:16])
            if tag == 0xFFFE:  # extensible: the real format tag opens the sub-format GUID
                tag = struct.unpack("<H", chunk[24:26])[0]
            fmt = (tag, channels, rate, bits)
        elif kind == b"data":
            samples = chunk
        pos += 8 + size + (size & 1)
    check(fmt is not None and samples is not None, f"{path} lacks a fmt or data chunk")
    tag, channels, rate, bits = fmt
    if tag == 3 and bits == 32:
        values = struct.unpack(f"<{len(samples) // 4}f", samples)
    elif tag == 1 and bits == 24:
        values = [int.from_bytes(samples[i:i + 3], "little", signed=True) / 8388608.0
                  for i in range(0, len(samples) - 2, 3)]
    else:
        raise CheckFailed(f"{path}: unexpected WAV format tag {tag} with {bits} bits")
    frames = [values[i:i + channels] for i in range(0, len(values) - channels + 1, channels)]
    return rate, channels, bits, tag == 3, frames


def png_pixels(path):
    """Decodes an 8-bit RGB or RGBA PNG; returns (width, height, rows of pixel tuples)."""
    data = pathlib.Path(path).read_bytes()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        size, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + size]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + size
    width, height, depth, colour, _, _, interlace = header
    check(depth == 8 and colour in (2, 6) and interlace == 0, f"{path}: unexpected PNG layout {header}")
    bpp = 3 if colour == 2 else 4
    raw, stride, rows, previous = zlib.decompress(idat), width * bpp, [], bytearray(width * bpp)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = previous[i], previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, bpp)])
        previous = line
    return width, height, rows


def juce_base64(text):
    """Decodes JUCE's MemoryBlock::toBase64Encoding: "<size>.<six-bit digits, lowest bits first>"."""
    table = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
    size, digits = text.split(".", 1)
    value = sum(table.index(c) << (6 * i) for i, c in enumerate(digits))
    return value.to_bytes(int(size) + 8, "little")[:int(size)]


def peak(frames):
    return max((abs(s) for frame in frames for s in frame), default=0.0)


def decibels(text):
    """Parses a level printed by the host, such as '-12.3 dBFS' or '-INF dBFS'."""
    match = re.search(r"(-INF|-?\d+(?:\.\d+)?) dBFS", text)
    check(match is not None, f"no level in {text!r}")
    return -math.inf if match.group(1) == "-INF" else float(match.group(1))


# ---------------------------------------------------------------------------------------------------
# The checks


def identity(args):
    info = host_json(args, "info", args.bundle, "--json")
    expected = {"name": "Zarnith Quorle Kestrune", "manufacturer": "ZarnithQuorleBrefton", "version": "1.0.0",
                "format": "VST3", "isInstrument": True, "midiInput": True, "midiOutput": False,
                "hasEditor": True, "tailSeconds": 2.0}
    for key, value in expected.items():
        check(info[key] == value, f"{key} is {info[key]!r}, expected {value!r}")
    check({"Instrument", "Synth"} <= set(info["category"].split("|")), f"category is {info['category']!r}")
    for c in info["classes"]:
        check(c["subCategories"] == ["Instrument", "Synth"] or c["category"] != "Audio Module Class",
              f"module class {c} does not declare Instrument|Synth")
    check(len(info["buses"]) == 1, f"expected only the output bus, got {info['buses']}")
    bus = info["buses"][0]
    check((bus["direction"], bus["name"], bus["channels"]) == ("output", "Output", 2), f"output bus is {bus}")
    check(bus["supported"] == "Mono, Stereo", f"output bus accepts {bus['supported']!r}, expected mono and stereo")


def parameters(args):
    report = info(args)
    params = report["parameters"]
    got = [(p["name"], p["defaultText"]) for p in params]
    check(got == DESIGN_DEFAULTS, f"parameters differ:\n got      {got}\n expected {DESIGN_DEFAULTS}")
    check(report["bypass"]["name"] == "Bypass" and report["bypass"]["defaultText"] == "Off",
          f"Bypass is not reported apart from the twelve: {report.get('bypass')}")
    for p in params:
        check(TABLE_FIELDS <= set(p), f"{p['name']} lacks {sorted(TABLE_FIELDS - set(p))}")
        check(p["current"] == p["defaultText"], f"{p['name']} starts at {p['current']!r}, not its default")
        check(p["start"] <= p["default"] <= p["end"] and p["step"] > 0 and p["skew"] > 0,
              f"{p['name']}: default, range, step or skew make no sense: {p}")
        kind, steps = p["kind"], p["steps"]
        if kind == "choice":
            choices = p["choices"]
            check(choices[:len(SAVED_INSTRUMENTS)] == SAVED_INSTRUMENTS and len(set(choices)) == len(choices)
                  and choices[int(p["default"])] == p["defaultText"] and steps == len(choices)
                  and p["end"] == len(choices) - 1,
                  f"{p['name']}: choices {p.get('choices')}, {steps} steps")
        elif kind == "bool":
            check("choices" not in p and steps == 2 and p["defaultText"] == ("On" if p["default"] else "Off"),
                  f"{p['name']}: a switch with {steps} steps, default {p['default']} shown as {p['defaultText']!r}")
        else:
            check(kind == "float" and "choices" not in p and steps == 0, f"{p['name']}: kind {kind}, {steps} steps")
            # The default in the parameter's own units is what the plug-in shows, to the shown precision.
            places = len(p["defaultText"].partition(".")[2])
            check(abs(float(p["defaultText"]) - p["default"]) <= 0.5 * 10 ** -places + 1e-9,
                  f"{p['name']}: default {p['default']} shown as {p['defaultText']!r}")
    check([p["id"] for p in params if p["unit"] == "s"] == ["attack", "release"],
          f"units: {[(p['id'], p['unit']) for p in params]}")


def state_round_trip(args):
    work = pathlib.Path(args.work)
    saved = work / "round_trip_state.bin"
    settings = {"instrument": ("HARP", "HARP"), "attack": ("0.25", "0.250"), "droneOn": ("1", "On"),
                "reverbMix": ("12.5", "12.5"), "volume": ("42.26", "42.3"), "Drone Volume": ("5", "5.0")}
    command = ["state", "save", args.bundle, str(saved)]
    for key, (value, _) in settings.items():
        command += ["--set", f"{key}={value}"]
    host(args, *command)

    # The host's block wraps the component's state, in which the plug-in's own block comes first
    # (JUCE's VST3 wrapper appends its private data after it).
    outer = saved.read_bytes()
    check(outer[:4] == b"\x56\x43\x32\x21", "the host's state block lacks the binary XML magic")
    component = re.search(rb"<IComponent>([^<]*)<", outer)
    check(component is not None, "the saved state has no component state")
    inner = juce_base64(component.group(1).decode())
    check(inner[:4] == b"\x56\x43\x32\x21", "the component state does not open with a binary XML block")
    length = struct.unpack("<i", inner[4:8])[0]
    check(0 < length < len(inner) - 8 and inner[8 + length] == 0, "the plug-in block's length field is wrong")
    xml = inner[8:8 + length].decode()
    check(re.search(r'<Parameters><PARAM id="[a-zA-Z]+"', xml) is not None, f"unexpected plug-in state: {xml}")
    check(re.search(r'<PARAM id="instrument" value="2(\.0)?"/>', xml) is not None,
          f"HARP is not stored as instrument value 2: {xml}")

    loaded = {p["name"]: p["current"] for p in host_json(args, "state", "load", args.bundle, str(saved), "--json")}
    names = {"instrument": "Instrument", "attack": "Attack", "droneOn": "Drone On", "reverbMix": "Reverb Mix",
             "volume": "Volume", "Drone Volume": "Drone Volume"}
    for key, (_, shown) in settings.items():
        check(loaded[names[key]] == shown, f"{key} came back as {loaded[names[key]]!r}, expected {shown!r}")
    untouched = {p["name"]: p["defaultText"] for p in info(args)["parameters"] if p["name"] not in names.values()}
    for name, default in untouched.items():
        check(loaded[name] == default, f"{name} came back as {loaded[name]!r}, expected its default {default!r}")

    # A state equal to what a fresh instance holds applies although it changes nothing.
    defaults = work / "defaults_state.bin"
    host(args, "state", "save", args.bundle, str(defaults))
    loaded = host_json(args, "state", "load", args.bundle, str(defaults), "--json")
    check([p["current"] for p in loaded] == [p["defaultText"] for p in info(args)["parameters"]],
          f"a state of defaults came back as {loaded}")


def render(args):
    work = pathlib.Path(args.work)
    ppq = 480
    # 120 BPM for two beats (1.0 s), then 240 BPM: a tempo-map-blind reader would put the last
    # note-off at 1.5 s instead of 1.25 s. The notes sit on a second track, the tempo on the first.
    conductor = [(0, tempo(500000)), (960, tempo(250000))]
    notes = [(240, b"\x90\x3c\x64"), (1200, b"\x80\x3c\x00"), (960, b"\x91\x43\x50"), (1440, b"\x81\x43\x00")]
    midi = work / "render_fixture.mid"
    midi.write_bytes(smf(ppq, [conductor, notes]))
    end_of_events, first_note = 1.25, 0.25

    cases = [  # rate, block, tail, extra options
        (48000, 512, 0.5, ["--float"]),
        (44100, 100, 0.25, []),
    ]
    for rate, block, tail, extra in cases:
        out = work / f"render_{rate}_{block}.wav"
        host(args, "render", args.bundle, str(midi), str(out), "--rate", str(rate), "--block", str(block),
             "--tail", str(tail), *extra)
        got_rate, channels, bits, is_float, frames = read_wav(out)
        label = f"render at {rate} Hz, block {block}"
        check((got_rate, channels) == (rate, 2), f"{label}: {got_rate} Hz, {channels} channels")
        check((bits, is_float) == ((32, True) if extra else (24, False)), f"{label}: {bits}-bit, float {is_float}")
        expected_frames = math.ceil((end_of_events + tail) * rate)
        check(len(frames) == expected_frames, f"{label}: {len(frames)} frames, expected {expected_frames}")
        check(all(math.isfinite(s) for frame in frames for s in frame), f"{label}: non-finite samples")
        # Events apply at the start of the block that holds them, so allow one block of lead.
        before = frames[:int(first_note * rate) - block]
        check(peak(before) < SILENCE, f"{label}: sound before the first note (peak {peak(before)})")
        during = frames[int(first_note * rate):int(end_of_events * rate)]
        check(20 * math.log10(max(peak(during), 1e-12)) > AUDIBLE_DB, f"{label}: the notes are silent")

    # A saved state applies before rendering, and --set applies after it.
    muted = work / "render_muted_state.bin"
    host(args, "state", "save", args.bundle, str(muted), "--set", "volume=0")
    for extra, audible in [([], False), (["--set", "volume=80"], True)]:
        out = work / "render_with_state.wav"
        host(args, "render", args.bundle, str(midi), str(out), "--state", str(muted), "--float", *extra)
        level = peak(read_wav(out)[4])
        check((level > SILENCE) == audible, f"render --state with {extra}: peak {level}")



def quiet_from(frames, level=1e-5):
    """Index of the first frame from which on every sample stays below the level."""
    for i in range(len(frames) - 1, -1, -1):
        if any(not abs(v) < level for v in frames[i]):
            return i + 1
    return 0


def render_tail(args):
    work = pathlib.Path(args.work)
    rate = 48000
    midi = work / "tail_fixture.mid"
    midi.write_bytes(smf(480, [[(0, tempo(500000)), (0, note_on(60)), (1200, note_off(60))]]))  # off at 1.25 s
    last_event = 1.25

    # A 3 s release and the reverb sound well past a fixed 2 s; the render runs until the output
    # has stayed below -100 dBFS for 200 ms, and ends there.
    out = work / "tail_release.wav"
    host(args, "render", args.bundle, str(midi), str(out), "--float", "--set", "instrument=ORGAN",
         "--set", "release=3", "--set", "reverbMix=50")
    frames = read_wav(out)[4]
    quiet = quiet_from(frames)
    check(quiet > (last_event + 3.0) * rate, f"the sound died at {quiet / rate:.3f} s, before the release ended")
    check(len(frames) - quiet == round(0.2 * rate),
          f"the render ends {(len(frames) - quiet) / rate:.4f} s after the output fell below -100 dBFS, not 0.2 s")

    # A drone never dies away: the render stops 30 s after the last event.
    capped = host(args, "render", args.bundle, str(midi), str(work / "tail_drone.wav"), "--rate", "8000",
                  "--set", "droneOn=1")
    frames_line = re.search(r", (\d+) frames", capped.stdout)
    check(frames_line is not None and int(frames_line.group(1)) == math.ceil((last_event + 30) * 8000),
          f"a drone render is not cut 30 s after the last event: {capped.stdout}")


def render_as_written(args):
    """Events reach the plug-in as the file holds them: nothing added, nothing reordered."""
    work = pathlib.Path(args.work)
    rate, block = 48000, 512
    settings = ["--set", "instrument=ORGAN", "--set", "drift=0", "--set", "ornament=0", "--set", "reverbMix=0"]

    def render_events(name, events, tail):
        midi, out = work / f"{name}.mid", work / f"{name}.wav"
        midi.write_bytes(smf(480, [[(0, tempo(500000))] + events]))
        host(args, "render", args.bundle, str(midi), str(out), "--float", "--tail", str(tail), *settings)
        return [frame[0] for frame in read_wav(out)[4]]

    # Two note-ons of one note and one note-off: two voices sound between 0.5 s and 1 s. A reader
    # that adds a note-off before the second note-on renders the file with that note-off in place.
    twice = render_events("repeated_note_on", [(0, note_on(60)), (480, note_on(60)), (960, note_off(60))], 0.5)
    with_off = render_events("repeated_note_off", [(0, note_on(60)), (480, note_off(60)), (480, note_on(60)),
                                                   (960, note_off(60))], 0.5)
    second = int(0.5 * rate) // block * block
    same = max(abs(a - b) for a, b in zip(twice[:second], with_off[:second]))
    check(same < 1e-7, f"the renders differ before the second note-on ({same}): the check cannot tell them apart")
    differ = max(abs(a - b) for a, b in zip(twice[second:int(rate)], with_off[second:int(rate)]))
    check(differ > 1e-3, f"a second note-on of a sounding note renders as if a note-off preceded it ({differ})")

    # A note-on and its note-off at one tick, in that order, are silent (one block); the reverse
    # order leaves the note held. A reader that moves note-ons behind note-offs holds both.
    for order, audible in [([note_on(60), note_off(60)], False), ([note_off(60), note_on(60)], True)]:
        level = peak([[v] for v in render_events("same_tick", [(240, e) for e in order], 1.0)])
        check((level > 1e-3) == audible, f"events at one tick in the order {order}: peak {level}")


def render_automation(args):
    work = pathlib.Path(args.work)
    rate, block = 48000, 512
    midi = work / "automation_fixture.mid"
    midi.write_bytes(smf(480, [[(0, tempo(500000)), (0, note_on(60)), (1920, note_off(60))]]))  # 0 to 2 s
    lane = work / "automation_lane.csv"
    lane.write_text("time,id,value\n# mute between 0.5 s and 1 s\n0.5,volume,0\n48000s, Volume ,80\n")

    def block_start(seconds):
        return int(seconds * rate) // block * block

    cases = [  # options, (start, end) in seconds of the muted stretch
        (["--automate", "volume=0@1"], (1.0, None)),
        (["--automate", "volume=0@48000s"], (1.0, None)),
        (["--automate", "Volume=80@1.5", "--automate", "volume=0@0.75"], (0.75, 1.5)),
        (["--automation", str(lane)], (0.5, 1.0)),
    ]
    for options, (mute_from, mute_to) in cases:
        out = work / "automation.wav"
        host(args, "render", args.bundle, str(midi), str(out), "--float", "--tail", "0.2", "--block", str(block),
             "--set", "instrument=ORGAN", "--set", "reverbMix=0", *options)
        frames = read_wav(out)[4]
        first, last = block_start(mute_from), block_start(mute_to) if mute_to else int(2.0 * rate)
        # The change applies before the block that holds its time, not earlier and not later.
        check(peak(frames[first - block:first]) > 1e-3, f"{options}: silent before the block of {mute_from} s")
        check(peak(frames[first:last]) < SILENCE, f"{options}: sounds while muted ({peak(frames[first:last])})")
        if mute_to:
            check(peak(frames[last:last + block]) > 1e-3, f"{options}: still silent after {mute_to} s")


def host_errors(args):
    # A folder of its own: the checks run in parallel, and this one looks for leftover files.
    work = pathlib.Path(args.work) / "host_errors"
    work.mkdir(exist_ok=True)
    not_midi = work / "not_a_midi_file.mid"
    not_midi.write_bytes(b"RIFF this is no MIDI file")
    one_note = smf(480, [[(0, note_on(60)), (240, note_off(60))]])
    good_midi = work / "one_note.mid"
    good_midi.write_bytes(one_note)
    bad_timing = {name: work / f"{name}.mid" for name in ["smpte_zero_ticks", "ppq_zero", "tempo_zero", "truncated"]}
    bad_timing["smpte_zero_ticks"].write_bytes(smf(0xE700, [[(0, note_on(60)), (240, note_off(60))]]))
    bad_timing["ppq_zero"].write_bytes(smf(0, [[(0, note_on(60)), (240, note_off(60))]]))
    bad_timing["tempo_zero"].write_bytes(smf(480, [[(0, tempo(0)), (0, note_on(60)), (240, note_off(60))]]))
    bad_timing["truncated"].write_bytes(one_note[:-5])
    garbage_state = work / "garbage_state.bin"
    garbage_state.write_bytes(b"\x00" * 40)
    # The host's wrapping is intact, the plug-in's own block inside it is not.
    foreign_state = work / "foreign_state.bin"
    foreign_state.write_bytes(juce_binary_xml(
        f"<VST3PluginState><IComponent>{juce_base64_encode(b'no state of this instrument' * 3)}</IComponent>"
        "</VST3PluginState>"))
    unsorted_lane, short_line = work / "unsorted.csv", work / "short_line.csv"
    unsorted_lane.write_text("0.3,volume,10\n0.2,volume,20\n")
    short_line.write_text("0.1,volume\n")
    directory = work / "output_directory.wav"
    directory.mkdir(exist_ok=True)
    fifo = work / "output_fifo.wav"
    if not fifo.exists():
        os.mkfifo(fifo)
    table = parameter_table(args)
    attack, volume = table["attack"], table["volume"]
    missing = str(work / "No Such Plugin.vst3")
    out = work / "error_case.wav"
    render = ["render", args.bundle, str(good_midi), str(out)]
    cases = [  # arguments, exit code, text expected on stderr
        (["info", missing], 1, "no such plug-in bundle"),
        (["render", args.bundle, str(not_midi), str(out)], 1, "not a Standard MIDI File"),
        (["render", args.bundle, str(work / "missing.mid"), str(out)], 1, "could not read MIDI file"),
        (["render", args.bundle, str(bad_timing["smpte_zero_ticks"]), str(out)], 1, "0 ticks per frame"),
        (["render", args.bundle, str(bad_timing["ppq_zero"]), str(out)], 1, "division of 0 ticks"),
        (["render", args.bundle, str(bad_timing["tempo_zero"]), str(out)], 1, "tempo of 0"),
        (["render", args.bundle, str(bad_timing["truncated"]), str(out)], 1, "not a Standard MIDI File"),
        (render + ["--set", "loudness=3"], 2, "unknown parameter 'loudness'"),
        (render + ["--set", "instrument=KAZOO"], 2, "cannot take the value"),
        (render + ["--set", "instrument=8"], 2, "cannot take the value"),
        (render + ["--set", "attack=fast"], 2, "cannot take the value"),
        (render + ["--set", f"attack={attack['end'] * 5}"], 2, "cannot take the value"),
        (render + ["--set", f"volume={volume['end'] + 0.5}"], 2, "cannot take the value"),
        (render + ["--set", f"attack={attack['start'] / 2}"], 2, "cannot take the value"),
        (render + ["--set", "volume=nan"], 2, "cannot take the value"),
        (render + ["--rate", "0"], 2, "--rate needs a whole number"),
        (render + ["--rate", "44100.5"], 2, "--rate needs a whole number"),
        (render + ["--block", "1.9"], 2, "--block needs a whole number"),
        (render + ["--tail", "-1"], 2, "--tail needs a number"),
        (render + ["--tail", "nan"], 2, "--tail needs a number"),
        (render + ["--tail", "1e999"], 2, "--tail needs a number"),
        (render + ["--automate", "loudness=1@0.1"], 2, "unknown parameter 'loudness'"),
        (render + ["--automate", f"attack={attack['end'] * 5}@0.1"], 2, "cannot take the value"),
        (render + ["--automate", "volume=0@3", "--tail", "1"], 2, "beyond the render"),
        (render + ["--automate", "volume=0@40"], 2, "beyond the render"),
        (render + ["--automate", "volume=0@soon"], 2, "neither seconds"),
        (render + ["--automate", "volume=0@-1"], 2, "neither seconds"),
        (render + ["--automate", "volume=0"], 2, "takes ID=VALUE@TIME"),
        (render + ["--automation", str(unsorted_lane)], 2, "unsorted.csv:2: the time 0.2 comes before"),
        (render + ["--automation", str(short_line)], 2, "short_line.csv:1: expected time, ID, value"),
        (render + ["--automation", str(work / "missing.csv")], 2, "could not read automation file"),
        (render + ["--state", str(foreign_state)], 1, "did not take the state"),
        (["render", args.bundle, str(good_midi), str(directory)], 2, "is a directory"),
        (["render", args.bundle, str(good_midi), str(fifo)], 2, "not a regular file"),
        (["state", "save", args.bundle, str(directory)], 2, "is a directory"),
        (["state", "load", args.bundle, str(garbage_state)], 1, "is not a state saved by kestrune-host"),
        (["state", "load", args.bundle, str(foreign_state)], 1, "did not take the state"),
        (["info", args.bundle, "--click-keys"], 2, "does not apply"),
        (["frobnicate"], 2, "unknown command"),
    ]
    precious = b"an earlier render that must survive"
    for command, code, message in cases:
        out.write_bytes(precious)
        result = host(args, *command, expect=code)
        check(message in result.stderr, f"{' '.join(command)}: stderr {result.stderr!r} lacks {message!r}")
        check(len(result.stderr.strip().splitlines()) == 1, f"{' '.join(command)}: more than one line: {result.stderr!r}")
        check(out.read_bytes() == precious, f"{' '.join(command)}: the existing output file was changed")
        check(directory.is_dir() and stat.S_ISFIFO(fifo.stat().st_mode), f"{' '.join(command)}: replaced a non-file")
        leftovers = [p.name for p in work.iterdir() if p.name.startswith(".")]
        check(not leftovers, f"{' '.join(command)}: temporary files left behind: {leftovers}")

    # The ends of a range are inside it.
    host(args, *render, "--tail", "0", "--set", f"attack={attack['start']}", "--set", f"volume={volume['end']}")
    check(out.read_bytes()[:4] == b"RIFF", "a render at the ends of two ranges wrote no WAV")

    # Interrupted while writing: the earlier file stays as it was and nothing else is left.
    for signal_number in (signal.SIGINT, signal.SIGTERM):
        out.write_bytes(precious)
        process = subprocess.Popen([args.host, *render, "--rate", "384000", "--tail", "600", "--set", "droneOn=1"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and not any(
                p.name.startswith(".error_case.wav.") and p.stat().st_size > 1 << 20 for p in work.iterdir()):
            time.sleep(0.05)
        process.send_signal(signal_number)
        process.wait(timeout=60)
        check(process.returncode == -signal_number, f"an interrupted render exited {process.returncode}")
        check(out.read_bytes() == precious, f"signal {signal_number} changed the existing output file")
        leftovers = [p.name for p in work.iterdir() if p.name.startswith(".")]
        check(not leftovers, f"signal {signal_number} left temporary files behind: {leftovers}")

    check(host(args, "--help").stdout.startswith("kestrune-host"), "--help prints no usage")
    no_display = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    result = host(args, "editor", args.bundle, "--seconds", "0", expect=1, env=no_display)
    check("no X display" in result.stderr, f"editor without a display: {result.stderr!r}")


def file_size_limit(limit):
    """For subprocess: a file-size limit, with SIGXFSZ ignored so that write() fails with EFBIG, as
    on a full disk, instead of killing the program."""
    def apply():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    return apply


def lasting_midi(path, size):
    """A file of about `size` bytes of notes in running status (three bytes an event, as dense as notes
    get), whose last note comes after the 24 hours a render may last: the host reads it all, then
    refuses it before it loads the plug-in."""
    pairs = b"\x01\x3c\x00\x01\x3c\x40" * max(size // 6, 1)
    track = b"\x00\x90\x3c\x40" + pairs + vlq(90_000_000) + b"\x3c\x00" + b"\x00\xff\x2f\x00"
    path.write_bytes(struct.pack(">4sIHHH", b"MThd", 6, 0, 1, 480) + struct.pack(">4sI", b"MTrk", len(track)) + track)


def run_measured(command, preexec_fn=None):
    """Runs a command; returns its exit status, its stderr and its peak resident memory in bytes."""
    with open(os.devnull, "wb") as null, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, stdout=null, stderr=err, preexec_fn=preexec_fn)
        _, status, usage = os.wait4(process.pid, 0)
        err.seek(0)
        return os.waitstatus_to_exitcode(status), err.read().decode(errors="replace"), usage.ru_maxrss * 1024


def host_files(args):
    """What the host reads is bounded and never replaced; what it writes replaces the earlier file only
    when complete. One table: command, exit status, message, and the files that must come out as they went in."""
    work = pathlib.Path(args.work) / "host_files"
    work.mkdir(exist_ok=True)
    midi = work / "one_note.mid"
    midi.write_bytes(smf(480, [[(0, note_on(60)), (240, note_off(60))]]))
    lanes = work / "lanes.csv"
    lanes.write_text("0.1,volume,40\n")
    state = work / "state.bin"
    host(args, "state", "save", args.bundle, str(state))
    linked = work / "linked.mid"
    linked.unlink(missing_ok=True)
    linked.symlink_to(midi.name)
    nul_lanes = work / "nul.csv"
    nul_lanes.write_bytes(b"0.1,volume,40\n\0" + b"0.2,volume,50\n")
    big_lanes = work / "big.csv"
    big_lanes.write_bytes(b"# padding\n" * ((5 << 20) // 10))
    big_state = work / "big_state.bin"
    big_state.write_bytes(b"\0" * (5 << 20))
    deep_state = work / "deep_state.bin"
    deep_state.write_bytes(juce_binary_xml("<VST3PluginState>" + "<a>" * 60000 + "</a>" * 60000 + "</VST3PluginState>"))
    # Our block refused (another plug-in's bytes), the framework's trailer intact with Bypass on.
    bypass_tree = b"JUCEPrivateData\0" + b"\x01\x01" + b"Bypass\0" + b"\x01\x01" + b"\x02" + b"\0"
    bypassed = (b"no state of this instrument" * 3 + struct.pack("<q", 0) + bypass_tree
                + struct.pack("<Q", len(bypass_tree)) + b"JUCEPrivateData")
    bypassed_state = work / "bypassed_state.bin"
    bypassed_state.write_bytes(juce_binary_xml(
        f"<VST3PluginState><IComponent>{juce_base64_encode(bypassed)}</IComponent></VST3PluginState>"))
    huge_midi = work / "huge.mid"   # sparse: past the 200 MB a MIDI file may have, without the disk
    with open(huge_midi, "wb") as f:
        f.truncate((200 << 20) + 1)
    # Reading a MIDI file takes memory in proportion to it, a few times its size at most.
    lasting = {size: work / f"lasting_{size >> 20}mb.mid" for size in (0, 4 << 20, 16 << 20)}
    for size, path in lasting.items():
        lasting_midi(path, size)
    out = work / "out.wav"
    render = ["render", args.bundle, str(midi), str(out)]
    precious = b"an earlier file that must survive"
    inputs = [midi, lanes, state]
    base_memory = run_measured([args.host, "render", args.bundle, str(lasting[0]), str(out)])[2]
    cases = [  # arguments, exit code, text expected on stderr, a file-size limit, the MIDI file's size to bound memory by
        (render + ["--automation", "/dev/zero"], 2, "not a regular file", None),
        (render + ["--state", "/dev/zero"], 1, "not a regular file", None),
        (["render", args.bundle, "/dev/zero", str(out)], 1, "not a regular file", None),
        (render + ["--automation", str(nul_lanes)], 2, "holds a NUL byte", None),
        (render + ["--automation", str(big_lanes)], 2, "automation file " + str(big_lanes) + " is larger than 4 MB", None),
        (render + ["--state", str(big_state)], 1, "is larger than 4 MB", None),
        (["state", "load", args.bundle, str(deep_state)], 1, "is not a state saved by kestrune-host", None),
        (["state", "load", args.bundle, str(bypassed_state)], 1, "did not take the state", None),
        (render + ["--set", "volume=5e-4294967296"], 2, "cannot take the value", None),
        (["render", args.bundle, str(midi), str(midi)], 2, "is also an input", None),
        (["render", args.bundle, str(midi), str(linked)], 2, "is also an input", None),
        (render[:3] + [str(lanes), "--automation", str(lanes)], 2, "is also an input", None),
        (render[:3] + [str(state), "--state", str(state)], 2, "is also an input", None),
        (render + ["--tail", "1"], 1, "File too large", 64 << 10),
        (["state", "save", args.bundle, str(out)], 1, "File too large", 256),
        (["render", args.bundle, str(huge_midi), str(out)], 1, "is larger than 200 MB", None),
        (["render", args.bundle, str(lasting[4 << 20]), str(out)], 1, "renders stop at 24 hours", None, 4 << 20),
        (["render", args.bundle, str(lasting[16 << 20]), str(out)], 1, "renders stop at 24 hours", None, 16 << 20),
    ]
    for command, code, message, limit, *midi_size in cases:
        out.write_bytes(precious)
        before = {path: path.read_bytes() for path in inputs}
        returncode, stderr, memory = run_measured([args.host, *command], file_size_limit(limit) if limit else None)
        what = " ".join(command)
        check(returncode == code, f"{what}: exited {returncode}, expected {code}: {stderr!r}")
        check(message in stderr, f"{what}: stderr {stderr!r} lacks {message!r}")
        # A message takes 24 bytes, eight for each byte of these files; with the file itself, nine.
        # The rest is room for the allocator.
        check(not midi_size or memory <= base_memory + 12 * midi_size[0],
              f"{what}: took {memory >> 20} MB at its peak, {base_memory >> 20} MB without the file")
        check(out.read_bytes() == precious, f"{what}: the earlier output file was changed")
        check(all(path.read_bytes() == data for path, data in before.items()), f"{what}: an input was changed")
        check(linked.is_symlink(), f"{what}: replaced the link")
        leftovers = [p.name for p in work.iterdir() if p.name.startswith(".")]
        check(not leftovers, f"{what}: temporary files left behind: {leftovers}")


def component_trailer(args):
    """The VST3 wrapper's own trailer after our state (a size, the data, "JUCEPrivateData") comes
    from the host's project: a lying size gives the plug-in nothing, never a crash or a wrong count."""
    work = pathlib.Path(args.work) / "component_trailer"
    work.mkdir(exist_ok=True)
    saved = work / "saved.bin"
    host(args, "state", "save", args.bundle, str(saved), "--set", "attack=0.25")
    component = juce_base64(re.search(rb"<IComponent>([^<]*)<", saved.read_bytes()).group(1).decode())
    ours = component[:8 + struct.unpack("<i", component[4:8])[0] + 1]
    name = b"JUCEPrivateData"

    def trailer(private, size=None):
        return struct.pack("<q", 0) + private + struct.pack("<Q", len(private) if size is None else size) + name

    def deep_tree(depth):
        return (b"a\0" + b"\0" + b"\x01\x01") * depth + b"a\0\0\0"

    cases = [  # component state, taken, what it shows
        (component, True, "the state as saved"),
        (ours, True, "our block alone"),
        (ours + trailer(deep_tree(60000)), True, "a trailer holding a tree 60,000 deep"),
        (struct.pack("<Q", (1 << 40) + 1) + name, False, "23 bytes: a size of 2^40 + 1 and the name"),
        (ours + trailer(b"", (1 << 40) + 1), False, "a size of 2^40 + 1"),
        (ours + trailer(b"", (1 << 64) - 1), False, "a size of 2^64 - 1"),
        (ours + trailer(b"", len(ours) + 1), False, "a size one past the block"),
        (ours + trailer(b"", len(ours) + 8), False, "a size reaching into the leading zero"),
    ]
    for state, taken, what in cases:
        path = work / "crafted.bin"
        path.write_bytes(juce_binary_xml(f"<VST3PluginState><IComponent>{juce_base64_encode(state)}</IComponent>"
                                         "</VST3PluginState>"))
        result = host(args, "state", "load", args.bundle, str(path), "--json", expect=None)
        check(result.returncode == (0 if taken else 1), f"{what}: exited {result.returncode}, {result.stderr!r}")
        if taken:
            attack = {p["name"]: p["current"] for p in json.loads(result.stdout)}["Attack"]
            check(attack == "0.250", f"{what}: attack came back as {attack!r}")
        else:
            check("did not take the state" in result.stderr, f"{what}: {result.stderr!r}")


def editor(args):
    shot = pathlib.Path(args.work) / "editor.png"
    shot.unlink(missing_ok=True)
    result = host(args, "editor", args.bundle, "--seconds", "2", "--screenshot", str(shot), "--click-keys")
    check("editor 720 x 540" in result.stdout, f"unexpected editor size: {result.stdout}")
    playing = next((line for line in result.stdout.splitlines() if line.startswith("clicked KEYS")), "")
    check(decibels(playing) > AUDIBLE_DB, f"clicking the on-screen keys made no sound: {playing!r}")
    width, height, rows = png_pixels(shot)
    check((width, height) == (720, 540), f"screenshot is {width} x {height}")
    colours = {pixel for row in rows[::4] for pixel in row[::4]}
    check(len(colours) > 16, f"screenshot is nearly uniform ({len(colours)} colours)")

    # The screenshot is written as a render is: refused where render refuses, and in place only when
    # complete (here the disk fills up halfway through).
    work = pathlib.Path(args.work) / "editor_files"
    work.mkdir(exist_ok=True)
    directory, fifo, earlier = work / "directory.png", work / "fifo.png", work / "earlier.png"
    directory.mkdir(exist_ok=True)
    if not fifo.exists():
        os.mkfifo(fifo)
    earlier.write_bytes(shot.read_bytes())
    for target, code, message, limit in [(directory, 2, "is a directory", None),
                                         (fifo, 2, "not a regular file", None),
                                         (earlier, 1, "File too large", 4096)]:
        result = subprocess.run([args.host, "editor", args.bundle, "--seconds", "0", "--screenshot", str(target)],
                                capture_output=True, text=True, timeout=240,
                                preexec_fn=file_size_limit(limit) if limit else None)
        check(result.returncode == code and message in result.stderr,
              f"screenshot onto {target.name}: exited {result.returncode}, {result.stderr!r}")
        check(directory.is_dir() and stat.S_ISFIFO(fifo.stat().st_mode), f"screenshot onto {target.name} replaced a non-file")
        check(earlier.read_bytes() == shot.read_bytes(), f"screenshot onto {target.name} changed the earlier picture")
        leftovers = [p.name for p in work.iterdir() if p.name.startswith(".")]
        check(not leftovers, f"screenshot onto {target.name} left temporary files behind: {leftovers}")


def editor_scale(args):
    """A host on a high-density screen hands the editor its content scale: the view takes that size (the
    scale applied once) and is drawn at it, its divider line as sharp as at 1."""
    for scale in (1, 1.5, 2):
        shot = pathlib.Path(args.work) / f"editor-{scale}.png"
        shot.unlink(missing_ok=True)
        result = host(args, "editor", args.bundle, "--seconds", "1", "--screenshot", str(shot), "--scale", str(scale))
        want = (round(720 * scale), round(540 * scale))
        check(f"editor {want[0]} x {want[1]}" in result.stdout, f"at {scale}: {result.stdout}")
        width, height, rows = png_pixels(shot)
        check((width, height) == want, f"screenshot at {scale} is {width} x {height}")
        top, bottom = sharp_edges.column_across_divider(0, scale)
        x = round(40 * scale)
        sharp, seen = sharp_edges.sharpness([sharp_edges.luminance(rows[y][x]) for y in range(top, bottom)], scale)
        print(f"content scale {scale}: {width} x {height}; the divider: {seen}")
        check(sharp, f"the divider is blurred at {scale}")


def validator_findings(output):
    """Maps each failed validator test to the lines it printed. The validator announces a test as
    "[Name: description]" (or "[Name]") and closes it with "[Succeeded]" or "[XXXXXXX Failed]"."""
    failed, current, lines = {}, None, []
    for line in output.splitlines():
        stripped = line.strip()
        if stripped == "[Succeeded]":
            current = None
        elif re.fullmatch(r"\[X+ Failed\]", stripped):
            failed.setdefault(current or "?", []).extend(lines)
            current = None
        elif re.fullmatch(r"\[[^\]]+\]", stripped):
            current, lines = stripped[1:-1].split(":")[0].strip(), []
        elif current is not None:
            lines.append(stripped)
    return failed


def validator(args):
    check(pathlib.Path(args.validator).is_file(), f"no validator at {args.validator} (run scripts/setup.sh)")
    result = subprocess.run([args.validator, "-e", args.bundle], capture_output=True, text=True, timeout=600)
    output = result.stdout + "\n" + result.stderr
    summary = re.search(r"Result:\s*(\d+)\s*tests passed,\s*(\d+)\s*tests failed", output)
    check(summary is not None, f"no result line in the validator's output:\n{output[-3000:]}")
    passed, failures = int(summary.group(1)), int(summary.group(2))
    findings = validator_findings(result.stdout)
    print(f"validator: {passed} passed, {failures} failed: {sorted(findings)}")
    # The instrument has one program whose name is empty, and JUCE publishes a program list
    # whenever there is a program, so the program scan reports "has no name". That is the one
    # expected finding; anything else fails the suite.
    check(failures == 1 and list(findings) == ["Scan Programs"],
          f"validator findings {sorted(findings)} ({failures} failed), expected only Scan Programs:\n"
          f"{output[-6000:]}")
    check(any("has no name" in line for line in findings["Scan Programs"]),
          f"Scan Programs failed for another reason: {findings['Scan Programs']}")
    check(passed > 0 and result.returncode != 0, "the validator's exit status disagrees with its summary")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("check", choices=["identity", "parameters", "state_round_trip", "render", "render_tail",
                                          "render_as_written", "render_automation", "host_errors", "host_files", "component_trailer", "editor",
                                          "editor_scale",
                                          "validator"])
    parser.add_argument("--host", required=True)
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--validator")
    args = parser.parse_args()
    pathlib.Path(args.work).mkdir(parents=True, exist_ok=True)
    try:
        globals()[args.check](args)
    except CheckFailed as failure:
        print(f"FAILED {args.check}: {failure}", file=sys.stderr)
        return 1
    print(f"passed {args.check}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
