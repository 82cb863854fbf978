#!/usr/bin/env python3
"""Runs the built plug-in inside Ardour 7 (headless, dummy audio backend) and checks what comes out.

Every case works in a temporary folder of its own: Ardour's configuration, cache and plug-in
folders, the copied bundle, the sessions and the exports live there, never in the user's home.

    ardour_host.py --format vst3|lv2 (--bundle PATH | --installed) --host KESTRUNE_HOST [--vst3 PATH]
                   CASE [INSTRUMENT]

The twelve parameters (IDs, names, ranges, skews, defaults) come from `kestrune-host info --json`
on the VST3 bundle, never from a copy written here.

CASE is one of: parameters, render, reload INSTRUMENT, bad-state, automation, tuning, lv2-session-before-ports.
Exit status 0 = pass, 1 = fail, 77 = Ardour is not installed (ctest reports the test as skipped).
"""

import argparse
import base64
import json
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from urllib.parse import unquote
from xml.sax.saxutils import quoteattr

from kestrune_tools import wav

HERE = Path(__file__).resolve().parent
LUA_BIN = shutil.which("ardour7-lua")
ARDOUR_LIB = Path("/usr/lib/ardour7")
# Where Ardour looks for VST3 bundles besides ~/.vst3 (LV2: lilv's default path).
SYSTEM_VST3 = [Path("/usr/local/lib/vst3"), Path("/usr/lib/vst3")]
# Where the Debian package installs each format.
SYSTEM_FOLDER = {"vst3": Path("/usr/lib/vst3"), "lv2": Path("/usr/lib/lv2")}
SAMPLE_RATE = 48000
# 64 frames (1.3 ms): the instrument starts every note of a block at the block's first sample,
# so the block must be shorter than the 2 ms onset tolerance.
BUFFER = 64
ONSET_TOLERANCE = 0.002
ONSET = 1e-6            # the gaps between notes are digital silence, so any sound marks an onset
SILENCE = 1e-4          # -80 dBFS: where a reverb tail counts as gone
TAIL_SECONDS = 2.0      # the plug-in's reported tail
# Ardour 7.3's AVX-512 buffer-mixing routine writes 16 bytes past a 64-frame buffer (fixed in
# Ardour 8.5) and so corrupts its heap now and then, at export or at exit. Its SSE routines do not:
# these flags (flush-to-zero, denormals-are-zero, SSE, SSE2) make it pick them on any CPU.
ARDOUR_FPU_FLAGS = "15"
EXPORT_PRESET_ID = re.search(r'<ExportPreset id="([^"]+)"', (HERE / "export/kestrune-float.preset").read_text()).group(1)
PLUGIN_NAME = "Zarnith Quorle Kestrune"
LV2_URI = "urn:zarnithquorlebrefton:kestrune"
# JUCE's VST3 component class ID: a fixed prefix, then the manufacturer and plug-in codes.
VST3_CLASS_ID = "ABCDEF019182FAEB" + "ZQBx".encode().hex().upper() + "ZQK4".encode().hex().upper()

# id, name, start, end, skew, default in the parameter's own units (bools and the choice as 0..1
# and an index), and the instrument parameter's choices, read from the host program at start (see
# load_parameters).
PARAMETERS = []
PARAM = {}
DEFAULTS = {}
INSTRUMENTS = []
# The settings a musician dials in before saving; the reload cases expect them back.
RELOAD_SETTINGS = {"attack": 0.2, "drift": 0, "reverbMix": 0, "droneOn": 1, "focusMode": 1}
# A session saved by the LV2 of before its control ports, when its parameters were patch properties
# and their values lived only in the plug-in's own state; every value is off its default.
SESSION_BEFORE_PORTS = HERE / "fixtures/saved-before-ports"
SETTINGS_BEFORE_PORTS = {"instrument": 3, "attack": 0.25, "release": 1.5, "droneVol": 20, "droneOn": 1,
                         "brightness": 40, "volume": 55, "ornament": 10, "drift": 5, "reverbMix": 12,
                         "reverbSize": 75, "focusMode": 1}
# Instruments whose two renders of one session differ even at drift 0, and why; for them the
# reload cases compare level envelopes instead of samples.
NOT_REPEATABLE = {
    "BAGPIPES": "the drone runs on from the moment the engine starts, so each export meets it at another point",
    "CHANT": "each note draws noise and a detuning at random",
    "RHODES": "each note starts its modulator at a random phase",
}
# Their level in half-second windows. The random draws move it: two renders of one RHODES note
# were measured up to 4 dB apart during its attack.
ENVELOPE_WINDOW = 0.5
ENVELOPE_TOLERANCE_DB = 6.0


class Failure(Exception):
    pass


def phrase():
    """The notes of the generator script: (start s, length s, note, velocity)."""
    text = (HERE / "kestrune_phrase.lua").read_text()
    body = re.search(r"local phrase = \{(.*?)\n\}", text, re.S).group(1)
    return [(float(a), float(b), int(c), int(d))
            for a, b, c, d in re.findall(r"\{\s*([\d.]+),\s*([\d.]+),\s*(\d+),\s*(\d+)\s*\}", body)]


TABLE_KEYS = {"id": str, "name": str, "kind": str, "start": (int, float), "end": (int, float),
              "step": (int, float), "skew": (int, float), "default": (int, float)}


def parameter_table(info):
    """The parameter rows of `kestrune-host info --json` output, checked, as PARAMETERS tuples."""
    rows = info.get("parameters") if isinstance(info, dict) else None
    if not isinstance(rows, list) or not rows:
        raise Failure("kestrune-host info --json lists no parameters")
    table = []
    for row in rows:
        where = row.get("id", "?") if isinstance(row, dict) else "?"
        if not isinstance(row, dict):
            raise Failure(f"kestrune-host info --json: a parameter is {row!r}, not an object")
        for key, kind in TABLE_KEYS.items():
            if not isinstance(row.get(key), kind) or isinstance(row.get(key), bool):
                raise Failure(f"kestrune-host info --json: parameter {where} has no usable {key!r} ({row.get(key)!r})")
        if row["kind"] not in ("choice", "float", "bool"):
            raise Failure(f"kestrune-host info --json: parameter {where} has kind {row['kind']!r}")
        if not (row["start"] < row["end"] and row["skew"] > 0 and row["start"] <= row["default"] <= row["end"]):
            raise Failure(f"kestrune-host info --json: parameter {where} has range {row['start']}..{row['end']}, "
                          f"skew {row['skew']}, default {row['default']}")
        table.append((row["id"], row["name"], float(row["start"]), float(row["end"]), float(row["skew"]),
                      float(row["default"])))
    if len({p[0] for p in table}) != len(table) or len({p[1] for p in table}) != len(table):
        raise Failure(f"kestrune-host info --json: repeated parameter IDs or names in {[p[:2] for p in table]}")
    return table


def load_parameters(host, vst3_bundle):
    """Fills PARAMETERS from the host program, which reads them from the built VST3."""
    try:
        result = subprocess.run([str(host), "info", str(vst3_bundle), "--json"], capture_output=True, text=True,
                                timeout=120)
    except OSError as e:
        raise Failure(f"cannot run the host program {host}: {e}")
    if result.returncode != 0:
        raise Failure(f"kestrune-host info failed ({result.returncode}): {result.stderr.strip()[-500:]}")
    try:
        info = json.loads(result.stdout)
    except ValueError as e:
        raise Failure(f"kestrune-host info --json printed no JSON ({e}): {result.stdout[:300]!r}")
    PARAMETERS[:] = parameter_table(info)
    PARAM.clear()
    PARAM.update({p[0]: p for p in PARAMETERS})
    DEFAULTS.clear()
    DEFAULTS.update({p[0]: p[5] for p in PARAMETERS})
    INSTRUMENTS[:] = next((p.get("choices", []) for p in info["parameters"] if p.get("id") == "instrument"), [])


def to_normalised(pid, value):
    _, _, start, end, skew, _ = PARAM[pid]
    proportion = min(max((value - start) / (end - start), 0.0), 1.0)
    return proportion ** skew


def from_normalised(pid, value):
    _, _, start, end, skew, _ = PARAM[pid]
    return start + (end - start) * value ** (1.0 / skew)


def close_enough(pid, a, b):
    _, _, start, end, _, _ = PARAM[pid]
    return abs(a - b) <= max(1e-4, (end - start) * 2e-4)


# --- the plug-in's own saved state ------------------------------------------------------------------

JUCE_BASE64 = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"


def juce_base64_decode(text):
    """JUCE's MemoryBlock::toBase64Encoding: "<size>." then 6 bits a character, least significant first."""
    size, _, chars = text.partition(".")
    value = 0
    for i, c in enumerate(chars):
        value |= JUCE_BASE64.index(c) << (6 * i)
    size = int(size)
    return (value & ((1 << (8 * size)) - 1)).to_bytes(size, "little")


def juce_base64_encode(data):
    value = int.from_bytes(data, "little")
    return f"{len(data)}." + "".join(JUCE_BASE64[(value >> (6 * i)) & 63] for i in range((len(data) * 8 + 5) // 6))


def vst3_param_id(pid):
    """The VST3 ParamID JUCE derives from a parameter ID: its String hash, top bit cleared."""
    h = 0
    for c in pid:
        h = (31 * h + ord(c)) & 0xFFFFFFFF
    return h & 0x7FFFFFFF


def vst3_container(data):
    """Ardour keeps VST3 state in the preset-file layout: "VST3", version, class ID, the offset of
    the chunk list, the chunks, then "List" with (ID, offset, size) per chunk. Returns the header
    and the chunks by ID ("Comp" is the plug-in's own state)."""
    if data[:4] != b"VST3":
        raise Failure("the VST3 state is not in the preset layout")
    list_at = struct.unpack_from("<q", data, 40)[0]
    if data[list_at:list_at + 4] != b"List":
        raise Failure("the VST3 state has no chunk list")
    count = struct.unpack_from("<i", data, list_at + 4)[0]
    chunks = {}
    for i in range(count):
        cid, offset, size = struct.unpack_from("<4sqq", data, list_at + 8 + 20 * i)
        chunks[cid] = data[offset:offset + size]
    return data[:40], chunks


def vst3_container_bytes(header, chunks):
    body, entries, offset = b"", b"", 48
    for cid, data in chunks.items():
        entries += struct.pack("<4sqq", cid, offset, len(data))
        body += data
        offset += len(data)
    return header + struct.pack("<q", offset) + body + b"List" + struct.pack("<i", len(chunks)) + entries


class SavedState:
    """The plug-in's state block inside a saved session snapshot, readable and replaceable."""

    def __init__(self, session, snapshot, fmt):
        self.fmt = fmt
        self.session_file = session / f"{snapshot}.ardour"
        text = self.session_file.read_text()
        proc = re.search(r'<Processor [^>]*type="%s".*?</Processor>' % fmt, text, re.S)
        if not proc:
            raise Failure(f"{self.session_file.name} holds no {fmt} processor")
        if fmt == "vst3":
            self.file, self.text = self.session_file, text
            chunk = re.search(r"<chunk>\s*([A-Za-z0-9+/=\s]+?)\s*</chunk>", text[proc.start():proc.end()])
            if not chunk:
                raise Failure("the VST3 processor has no state chunk")
            self.span = (proc.start() + chunk.start(1), proc.start() + chunk.end(1))
            self.header, self.chunks = vst3_container(base64.b64decode(text[self.span[0]:self.span[1]]))
            self.block = self.chunks[b"Comp"]
        else:
            proc_id = re.search(r'id="(\d+)"', proc.group(0)).group(1)
            state_dir = re.search(r'<lv2 [^>]*state-dir="([^"]+)"', proc.group(0)).group(1)
            self.file = session / "plugins" / proc_id / state_dir / "state.ttl"
            self.text = self.file.read_text()
            value = re.search(r'<%s:StateString>\s*"([^"]*)"' % re.escape(LV2_URI), self.text)
            if not value:
                raise Failure(f"{self.file} holds no state string")
            self.span = value.span(1)
            self.block = juce_base64_decode(value.group(1))

    def write(self, block):
        if self.fmt == "vst3":
            self.chunks[b"Comp"] = block
            self.write_encoded(base64.b64encode(vst3_container_bytes(self.header, self.chunks)).decode())
        else:
            self.write_encoded(juce_base64_encode(block))
        self.block = block

    def write_encoded(self, encoded):
        """The text as it stands in the session, even one that decodes to nothing."""
        self.text = self.text[:self.span[0]] + encoded + self.text[self.span[1]:]
        self.span = (self.span[0], self.span[0] + len(encoded))
        self.file.write_text(self.text)

    def xml_span(self):
        """Where the binary XML block (magic, length, text, zero) sits in the state."""
        at = self.block.find(b"VC2!")
        if at < 0:
            raise Failure("the saved state holds no binary XML block")
        length = struct.unpack_from("<i", self.block, at + 4)[0]
        return at, at + 8 + length + 1

    def xml(self):
        start, end = self.xml_span()
        return self.block[start + 8:end - 1].decode()

    def write_xml(self, xml):
        start, end = self.xml_span()
        data = xml.encode()
        self.write(self.block[:start] + b"VC2!" + struct.pack("<i", len(data)) + data + b"\0"
                   + self.block[end:])

    def values(self):
        """The twelve values the block holds; a PARAM without a value stands for the default (JUCE
        writes one so after it filled in a parameter the loaded state lacked)."""
        found = {}
        for attributes in re.findall(r"<PARAM ([^>]*?)/?>", self.xml()):
            pid = re.search(r'id="([^"]*)"', attributes).group(1)
            value = re.search(r'value="([^"]*)"', attributes)
            found[pid] = float(value.group(1)) if value else DEFAULTS.get(pid)
        missing = [pid for pid in DEFAULTS if pid not in found]
        if missing:
            raise Failure(f"the saved state lacks {missing}")
        return {pid: found[pid] for pid in DEFAULTS}


# --- the sandbox --------------------------------------------------------------------------------

class Sandbox:
    """A private HOME with Ardour's folders, a copy of the bundle (or, with none given, the system's
    plug-in folders as Ardour scans them by default) and our scripts."""

    def __init__(self, fmt, bundle):
        self.fmt = fmt
        self.root = Path(tempfile.mkdtemp(prefix=f"kestrune-ardour-{fmt}-"))
        home = self.root / "home"
        self.env = dict(os.environ)
        self.env.update({
            "HOME": str(home),
            "XDG_CONFIG_HOME": str(home / ".config"),
            "XDG_CACHE_HOME": str(home / ".cache"),
            "XDG_DATA_HOME": str(home / ".local/share"),
            "LV2_PATH": str(home / ".lv2"),
            "ARDOUR_FPU_FLAGS": ARDOUR_FPU_FLAGS,
        })
        self.env.pop("DISPLAY", None)
        config = home / ".config/ardour7"
        (config / "scripts").mkdir(parents=True)
        shutil.copy(HERE / "kestrune_phrase.lua", config / "scripts")
        # Exports as 32-bit float WAV at the session rate, no dither, no normalising.
        shutil.copytree(HERE / "export", config / "export")

        if bundle is None:
            self.bundle = None
            self.env.pop("LV2_PATH")
            if fmt == "vst3":
                for folder in SYSTEM_VST3:
                    for found in sorted(folder.glob("*.vst3")):
                        self._scan_vst3(found)
            return
        plugin_dir = home / (".vst3" if fmt == "vst3" else ".lv2")
        plugin_dir.mkdir(parents=True)
        self.bundle = plugin_dir / Path(bundle).name
        shutil.copytree(bundle, self.bundle, symlinks=True)
        # Ardour skips a plug-in whose files are newer than its scan-cache entry.
        past = time.time() - 86400
        for path in [self.bundle, *self.bundle.rglob("*")]:
            os.utime(path, (past, past), follow_symlinks=False)
        if fmt == "vst3":
            self._scan_vst3(self.bundle)

    def _scan_vst3(self, bundle):
        scanner = ARDOUR_LIB / "ardour-vst3-scanner"
        env = dict(self.env, LD_LIBRARY_PATH=str(ARDOUR_LIB))
        result = subprocess.run([str(scanner), "-f", str(bundle)], env=env, capture_output=True,
                                text=True, timeout=120)
        if result.returncode != 0:
            raise Failure(f"VST3 scan of {bundle} failed ({result.returncode}):\n{result.stdout}{result.stderr}")

    def session(self, name):
        return self.root / "sessions" / name

    def host_value(self, pid, value):
        """Ardour hands VST3 parameters around normalised, LV2 control ports in their own units."""
        return to_normalised(pid, value) if self.fmt == "vst3" else value

    def run(self, mode, session, settings=None, export="", seconds=0.0, phrase_on=True, snapshot="", automate=None):
        """One Ardour process that creates or loads the session, sets what it is told, adds the
        automation `automate` ({id: [(seconds, value)]}), saves the session (as `snapshot` if given)
        and exports; returns what Ardour and the plug-in reported."""
        (self.root / "sessions").mkdir(exist_ok=True)
        assignments = []
        for pid, value in (settings or {}).items():
            assignments.append(f"{PARAM[pid][1]}={self.host_value(pid, value):.9g}")
        lanes = []
        for pid, points in (automate or {}).items():
            lanes.append(f"{PARAM[pid][1]}=" + ",".join(f"{round(t * SAMPLE_RATE)}:{self.host_value(pid, v):.9g}"
                                                         for t, v in points))
        env = dict(self.env, KT_MODE=mode, KT_SESSION=str(session), KT_TYPE=self.fmt.upper(),
                   KT_PLUGIN=PLUGIN_NAME, KT_BUFFER=str(BUFFER),
                   KT_PHRASE="1" if phrase_on else "0", KT_SET=";".join(assignments), KT_AUTOMATE=";".join(lanes),
                   KT_SNAPSHOT=snapshot,
                   KT_EXPORT=export, KT_EXPORT_DIR=str(self.root / "export"), KT_SECONDS=str(seconds),
                   KT_PRESET=EXPORT_PRESET_ID)
        if mode == "create":
            shutil.rmtree(session, ignore_errors=True)
        started = time.monotonic()
        result = subprocess.run([LUA_BIN, str(HERE / "kestrune_session.lua")], env=env,
                                capture_output=True, text=True, timeout=180)
        report = Report(result.stdout, time.monotonic() - started)
        if os.environ.get("KESTRUNE_ARDOUR_VERBOSE") == "1":
            print(result.stdout, result.stderr)
        if result.returncode != 0 or not report.done:
            raise Failure(f"Ardour ({mode} {session.name}) exited with {result.returncode}\n--- stdout\n"
                          f"{result.stdout}\n--- stderr\n{result.stderr[-4000:]}")
        report.state = SavedState(session, snapshot or session.name, self.fmt)
        print(f"ardour {mode} {session.name}: {report.seconds:.1f} s; latency (plug-in|track) {report.latency} "
              f"samples; block {report.buffer}")
        return report

    def export_path(self, name):
        return self.root / "export" / f"{name}.wav"

    def close(self, keep):
        if keep:
            print(f"kept {self.root}")
        else:
            shutil.rmtree(self.root, ignore_errors=True)


class Report:
    """What one Ardour run printed: the controls as Ardour shows them, latency, block size."""

    def __init__(self, stdout, seconds):
        self.seconds = seconds
        self.controls = []    # (name, value, lower, upper, default, kind)
        self.done = False
        self.latency = self.buffer = self.plugin = self.path = self.state = None
        for line in stdout.splitlines():
            if not line.startswith("KT "):
                continue
            kind, _, rest = line[3:].partition(" ")
            if kind == "PARAM":
                _, name, value, lower, upper, default, what = rest.split("|")
                self.controls.append((name, float(value), float(lower), float(upper), float(default), what))
            elif kind == "LATENCY":
                self.latency = rest
            elif kind == "BUFFER":
                self.buffer = int(rest)
            elif kind == "PLUGIN":
                self.plugin = rest
            elif kind == "PATH":
                self.path = rest
            elif kind == "DONE":
                self.done = True

    def own_controls(self):
        """The plug-in's twelve controls by parameter ID, in the order Ardour lists them."""
        names = [p[1] for p in PARAMETERS]
        own = [c for c in self.controls if c[0] in names]
        if [c[0] for c in own] != names:
            raise Failure(f"Ardour lists the controls {[c[0] for c in self.controls]}, expected {names} in this order")
        return {pid: c for pid, c in zip(DEFAULTS, own)}


def check_values(report, expected, what, shown_too=True):
    """The plug-in's own saved values, and the values Ardour shows, match `expected`."""
    got = report.state.values()
    wrong = [f"{pid} {got[pid]:.6g} (expected {value:.6g})" for pid, value in expected.items()
             if not close_enough(pid, got[pid], value)]
    if wrong:
        raise Failure(f"{what}, the plug-in holds " + ", ".join(wrong))
    if shown_too:
        vst3 = report.state.fmt == "vst3"
        shown = {pid: from_normalised(pid, c[1]) if vst3 else c[1] for pid, c in report.own_controls().items()}
        wrong = [f"{pid} {shown[pid]:.6g} (expected {value:.6g})" for pid, value in expected.items()
                 if not close_enough(pid, shown[pid], value)]
        if wrong:
            raise Failure(f"{what}, Ardour shows " + ", ".join(wrong))


# --- WAV reading and signal checks ------------------------------------------------------------------

def read_wav(path):
    """Returns (sample rate, list of channels of floats) for a float or 16-bit WAV file."""
    try:
        recording = wav.read(path)
    except ValueError as error:
        raise Failure(str(error))
    return recording.rate, recording.channels


def first_above(channels, threshold, start=0):
    for i in range(start, len(channels[0])):
        if any(abs(ch[i]) > threshold for ch in channels):
            return i
    return None


def peak(channels, start, end):
    return max((abs(v) for ch in channels for v in ch[start:end]), default=0.0)


def tail_seconds(settings):
    return TAIL_SECONDS if settings["reverbMix"] > 0 else 0.05


def export_seconds(settings):
    return round(max(s + n for s, n, _, _ in phrase()) + settings["release"] + tail_seconds(settings) + 0.4, 2)


def check_audio(path, settings, seconds):
    """Finite, sounding, onsets where the notes are, silent once the last note has died away."""
    rate, channels = read_wav(path)
    if rate != SAMPLE_RATE or len(channels) != 2:
        raise Failure(f"{path.name}: {len(channels)} channels at {rate} Hz, expected stereo at {SAMPLE_RATE}")
    frames = len(channels[0])
    if abs(frames - seconds * rate) > BUFFER:
        raise Failure(f"{path.name}: {frames} frames, expected {seconds * rate:.0f}")
    bad = [i for ch in channels for i, v in enumerate(ch) if not math.isfinite(v)]
    if bad:
        raise Failure(f"{path.name}: {len(bad)} samples are not finite, the first at frame {bad[0]}")
    whole = peak(channels, 0, frames)
    print(f"{path.name}: peak {whole:.4f} ({20 * math.log10(max(whole, 1e-12)):+.1f} dBFS)")
    if whole < 1e-3:
        raise Failure(f"{path.name}: silent (peak {whole:.2e})")

    notes = phrase()
    if settings["droneOn"] > 0.5 and settings["instrument"] == 0:
        # The drone sounds from the first block on, before the first note and after the last.
        before = peak(channels, 0, int(notes[0][0] * rate))
        after = peak(channels, frames - rate // 10, frames)
        if before < 1e-3 or after < 1e-3:
            raise Failure(f"{path.name}: no steady drone (peak {before:.2e} before the notes, {after:.2e} at the end)")
        return channels

    quiet_until = 0.0   # until then earlier notes may still sound
    for start, length, note, _ in notes:
        at = int(round(start * rate))
        if start - ONSET_TOLERANCE >= quiet_until:
            onset = first_above(channels, ONSET, int(quiet_until * rate))
            if onset is None or abs(onset - at) > ONSET_TOLERANCE * rate:
                where = "never" if onset is None else f"at {(onset - at) / rate * 1000:+.2f} ms"
                raise Failure(f"{path.name}: note {note} at {start} s should start within "
                              f"{ONSET_TOLERANCE * 1000:.0f} ms; the sound starts {where}")
            print(f"  note {note}: onset {(onset - at) / rate * 1000:+.2f} ms")
        quiet_until = max(quiet_until, start + length + settings["release"] + tail_seconds(settings))

    silent_from = int(quiet_until * rate)
    if silent_from >= frames:
        raise Failure(f"{path.name}: too short to hear the end of the tail")
    rest = peak(channels, silent_from, frames)
    if rest > SILENCE:
        raise Failure(f"{path.name}: still sounding ({rest:.2e}) at {quiet_until:.2f} s, after the notes and tail")
    return channels


def envelope(channels, rate, window):
    """RMS level in dB of successive windows, both channels together."""
    size = int(window * rate)
    levels = []
    for start in range(0, len(channels[0]) - size + 1, size):
        energy = sum(v * v for ch in channels for v in ch[start:start + size]) / (size * len(channels))
        levels.append(10 * math.log10(energy) if energy > 0 else -200.0)
    return levels


def compare_renders(a, b, exact):
    """The reloaded session renders what the saved one rendered: sample for sample where the
    instrument hears nothing random, else with the same level envelope."""
    if exact:
        diffs = [i for ca, cb in zip(a, b) for i, (x, y) in enumerate(zip(ca, cb)) if x != y]
        if diffs:
            worst = max(abs(x - y) for ca, cb in zip(a, b) for x, y in zip(ca, cb))
            raise Failure(f"the reloaded session renders differently: {len(diffs)} samples differ, the first "
                          f"at frame {diffs[0]}, by up to {worst:.3e}")
        print("  the second export equals the first sample for sample")
        return
    ea, eb = (envelope(x, SAMPLE_RATE, ENVELOPE_WINDOW) for x in (a, b))
    worst, at = max((abs(x - y), i) for i, (x, y) in enumerate(zip(ea, eb)) if max(x, y) > -40)
    if worst > ENVELOPE_TOLERANCE_DB:
        raise Failure(f"the reloaded session renders another level: {worst:.1f} dB apart in the window at "
                      f"{at * ENVELOPE_WINDOW:.2f} s")
    print(f"  the level envelopes agree within {worst:.2f} dB")


# --- the cases ---------------------------------------------------------------------------------------

def case_parameters(box):
    """Instantiated by name, the plug-in shows its twelve parameters, named, at their defaults."""
    report = box.run("create", box.session("parameters"), phrase_on=False)
    print(f"plug-in {report.plugin}; Ardour shows {len(report.controls)} controls:")
    identity = f"{PLUGIN_NAME}|{VST3_CLASS_ID if box.fmt == 'vst3' else LV2_URI}"
    if report.plugin != identity:
        raise Failure(f"Ardour found {report.plugin!r}, expected {identity!r}")
    # The copy Ardour loaded: the sandbox's, or with none given the system folder's, never a user's.
    # Ardour names a VST3's bundle itself; for an LV2 it names none, so ask lilv, which Ardour finds
    # LV2 plug-ins with, in Ardour's own environment.
    folder = str(box.bundle) if box.bundle else str(SYSTEM_FOLDER[box.fmt] / f"{PLUGIN_NAME}.{box.fmt}")
    path = report.path
    if box.fmt == "lv2":
        text = subprocess.run(["lv2info", LV2_URI], env=box.env, capture_output=True, text=True).stdout
        found = re.search(r"^\s*Bundle:\s+(\S+)", text, re.M)
        path = found.group(1) if found else None
    if not path or not unquote(path).removeprefix("file://").startswith(folder):
        raise Failure(f"Ardour loaded the plug-in from {path!r}, expected {folder}")
    print(f"loaded from {unquote(path)}")
    for name, value, lower, upper, default, kind in report.controls:
        print(f"  {name:14s} {value:<10.6g} range {lower:g}..{upper:g} default {default:g} ({kind})")
    own = report.own_controls()
    # Ardour offers automation lanes for plug-in ports (VST3 parameters, LV2 control ports) only.
    not_ports = [c[0] for c in own.values() if c[5] != "port"]
    if not_ports:
        raise Failure(f"not automatable plug-in ports in Ardour: {not_ports}")
    for pid, (name, value, lower, upper, default, kind) in own.items():
        _, _, start, end, _, plain_default = PARAM[pid]
        if box.fmt == "vst3":
            # Ardour hands VST3 parameters around normalised.
            expected = (0.0, 1.0, to_normalised(pid, plain_default))
            if abs(value - expected[2]) > 1e-4:
                raise Failure(f"{name} shows {value:g}, expected the default {expected[2]:g}")
        else:
            expected = (start, end, plain_default)
        if not all(abs(x - y) <= 1e-4 * max(1.0, abs(y)) for x, y in zip((lower, upper, default), expected)):
            raise Failure(f"{name}: range {lower:g}..{upper:g} default {default:g}, expected "
                          f"{expected[0]:g}..{expected[1]:g} default {expected[2]:g}")
    check_values(report, DEFAULTS, "a fresh instance")


def case_render(box):
    """A phrase at the default settings: onsets on time, finite, sounding, silent after the tail."""
    seconds = export_seconds(DEFAULTS)
    box.run("create", box.session("render"), export="render", seconds=seconds)
    check_audio(box.export_path("render"), DEFAULTS, seconds)


def case_reload(box, instrument):
    """Settings saved with a session come back in a new process and render the same audio."""
    if instrument not in INSTRUMENTS:
        raise Failure(f"unknown instrument {instrument}")
    changed = dict(RELOAD_SETTINGS, instrument=INSTRUMENTS.index(instrument))
    settings = dict(DEFAULTS, **changed)
    seconds = export_seconds(settings)
    session = box.session(f"reload-{instrument.lower()}")

    first = box.run("create", session, settings=changed, export="first", seconds=seconds)
    check_values(first, settings, "after setting")
    a = check_audio(box.export_path("first"), settings, seconds)

    second = box.run("reload", session, export="second", seconds=seconds, snapshot="reloaded")
    check_values(second, settings, "after reloading")
    b = check_audio(box.export_path("second"), settings, seconds)
    compare_renders(a, b, exact=instrument not in NOT_REPEATABLE)
    if instrument in NOT_REPEATABLE:
        print(f"  not compared sample for sample: {NOT_REPEATABLE[instrument]}")


def case_automation(box):
    """Host automation reaches the plug-in while the session plays: Volume steps from its default to
    0 between the second and the third note, so the first note sounds on time and nothing sounds
    after the step (the third note would, at full level, without the automation)."""
    step = 1.4
    settings = dict(DEFAULTS, reverbMix=0, drift=0)
    seconds = export_seconds(settings)
    box.run("create", box.session("automation"), settings={"reverbMix": 0, "drift": 0}, export="automated",
            seconds=seconds, automate={"volume": [(0.0, DEFAULTS["volume"]), (step, DEFAULTS["volume"]),
                                                  (step + 0.001, 0.0)]})
    rate, channels = read_wav(box.export_path("automated"))
    first = phrase()[0][0]
    onset = first_above(channels, ONSET)
    if onset is None or abs(onset / rate - first) > ONSET_TOLERANCE:
        raise Failure(f"the first note should start at {first} s; the sound starts at "
                      f"{'never' if onset is None else f'{onset / rate:.4f} s'}")
    before = peak(channels, onset, int(step * rate))
    after = peak(channels, int((step + 0.05) * rate), len(channels[0]))
    print(f"peak {before:.4f} before the step, {after:.2e} after it")
    if before < 1e-2:
        raise Failure(f"too quiet before the step (peak {before:.2e})")
    if after > 1e-6:
        raise Failure(f"still sounding after Volume was automated to 0 (peak {after:.2e}): "
                      "the automation did not reach the plug-in")


def case_bad_state(box):
    """A session whose saved state came from a build with another parameter set, holds garbage or
    lies about a size in the framework's own framing, reloads without a crash: missing values fall back to defaults, unknown ones are ignored,
    out-of-range ones are clamped."""
    saved = dict(DEFAULTS, instrument=2, attack=0.2, drift=0, volume=50, reverbMix=0)
    session = box.session("bad-state")
    box.run("create", session, settings={k: saved[k] for k in ("instrument", "attack", "drift", "volume", "reverbMix")})
    pristine = {p: p.read_bytes() for p in session.rglob("*") if p.is_file()}

    # Another build: no "drift", an unknown "shimmer", values outside their ranges.
    if box.fmt == "vst3":
        # Ardour keeps its own copy of each VST3 parameter beside the chunk; the other build had
        # no drift parameter and one this build lacks.
        text = (session / f"{session.name}.ardour").read_text()
        drift_port = re.compile(r'\s*<Port id="%d" value="[^"]*"/>' % vst3_param_id("drift"))
        if not drift_port.search(text):
            raise Failure("no Port for drift in the saved session")
        text = drift_port.sub(f'<Port id="{vst3_param_id("shimmer")}" value="0.5"/>', text, count=1)
        (session / f"{session.name}.ardour").write_text(text)
    else:
        # Likewise Ardour's copy of the LV2 control ports.
        text = (session / f"{session.name}.ardour").read_text()
        text, n = re.subn(r'<Port symbol="drift" value="[^"]*"/>', '<Port symbol="shimmer" value="0.5"/>', text)
        if n != 1:
            raise Failure("no Port for drift in the saved session")
        (session / f"{session.name}.ardour").write_text(text)
    state = SavedState(session, session.name, box.fmt)
    xml = state.xml()
    xml, dropped = re.subn(r'<PARAM id="drift" value="[^"]*"/>', '<PARAM id="shimmer" value="7"/>', xml)
    replacements = {"attack": "5", "volume": "250", "instrument": "11", "release": "-3"}
    for pid, value in replacements.items():
        xml, n = re.subn(r'(<PARAM id="%s" value=")[^"]*(")' % pid, r"\g<1>%s\g<2>" % value, xml)
        dropped += n
    if dropped != 1 + len(replacements):
        raise Failure(f"unexpected saved XML: {xml}")
    state.write_xml(xml)
    expected = dict(saved, drift=DEFAULTS["drift"], attack=1.0, volume=100, instrument=len(INSTRUMENTS) - 1, release=0.01)
    report = box.run("reload", session, export="other-build", seconds=export_seconds(expected), snapshot="restored")
    # Ardour's own copy of the values stays as saved: for the VST3 it is applied before the chunk,
    # whose loading resyncs it; the LV2's stored state, damaged or not, stands over its ports until
    # they move, and the ports go on showing what Ardour saved.
    vst3 = box.fmt == "vst3"
    check_values(report, expected, "after loading another build's state", shown_too=vst3)
    check_audio(box.export_path("other-build"), expected, export_seconds(expected))

    # Garbage where the state block should be.
    for path, data in pristine.items():
        path.write_bytes(data)
    for stale in session.glob("restored.*"):
        stale.unlink()
    state = SavedState(session, session.name, box.fmt)
    state.write(random.Random(7).randbytes(300))
    seconds = export_seconds(DEFAULTS)
    report = box.run("reload", session, export="garbage", seconds=seconds, snapshot="restored")
    # The plug-in ignores the block and keeps a new instance's defaults.
    check_values(report, DEFAULTS, "after loading a garbage state", shown_too=vst3)
    check_audio(box.export_path("garbage"), DEFAULTS, seconds)

    # A lying size where the framework reads its own framing: for the VST3, the 23 bytes of its
    # trailer alone (a size of 2^40 + 1, then its name), which crashed Ardour on load; for the LV2, a
    # negative size before the dot of the state string, which aborted it.
    for path, data in pristine.items():
        path.write_bytes(data)
    for stale in session.glob("restored.*"):
        stale.unlink()
    state = SavedState(session, session.name, box.fmt)
    if box.fmt == "vst3":
        state.write(struct.pack("<Q", (1 << 40) + 1) + b"JUCEPrivateData")
    else:
        state.write_encoded("-5.AAAA")
    report = box.run("reload", session, export="lying-size", seconds=seconds, snapshot="restored")
    check_values(report, DEFAULTS, "after loading a state with a lying size", shown_too=vst3)
    check_audio(box.export_path("lying-size"), DEFAULTS, seconds)


TUNING_SCALE = HERE.parents[1] / "tunings/19-edo.scl"


def tuning_of(host, vst3_bundle, scale):
    """The frequencies of the 128 keys the plug-in plays under a scale, and the element its state
    keeps them in, as the host program reports them."""
    result = subprocess.run([str(host), "info", str(vst3_bundle), "--json", "--tuning", str(scale)],
                            capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise Failure(f"kestrune-host info --tuning failed ({result.returncode}): {result.stderr.strip()[-500:]}")
    tuning = json.loads(result.stdout)["tuning"]
    frequencies = [float(f) for f in tuning["frequencies"]]
    element = (f'<TUNING name={quoteattr(tuning["name"])} description={quoteattr(tuning["description"])} '
               f'frequencies="{" ".join(repr(f) for f in frequencies)}"/>')
    return frequencies, element


def saved_frequencies(state):
    found = re.search(r'<TUNING [^>]*frequencies="([^"]*)"', state.xml())
    return [float(f) for f in found.group(1).split()] if found else None


def pitch(channel, rate, start, length):
    """The fundamental of a steady tone in the window, from the first autocorrelation peak within 10 %
    of the highest (no octave errors), refined by a parabola through it and its neighbours."""
    x = channel[int(start * rate):int((start + length) * rate)]
    n = len(x) // 2
    lags = range(int(rate / 2000), int(rate / 50))
    corr = {lag: sum(a * b for a, b in zip(x[:n], x[lag:lag + n])) for lag in lags}
    best = max(corr.values())
    lag = next(l for l in lags if l - 1 in corr and l + 1 in corr and corr[l] >= 0.9 * best
               and corr[l] >= corr[l - 1] and corr[l] >= corr[l + 1])
    a, b, c = corr[lag - 1], corr[lag], corr[lag + 1]
    shift = 0.5 * (a - c) / (a - 2 * b + c) if a - 2 * b + c != 0 else 0.0
    return rate / (lag + shift)


def case_tuning(box, host, vst3_bundle):
    """A session whose plug-in state holds a tuning (19 equal divisions) reopens in a new process with
    it: the note sounds at the tuned pitch, not the equal-tempered one, and the session saves it again."""
    frequencies, element = tuning_of(host, vst3_bundle, TUNING_SCALE)
    settings = {"instrument": INSTRUMENTS.index("ORGAN"), "drift": 0, "reverbMix": 0}
    seconds = phrase()[0][0] + phrase()[0][1]
    session = box.session("tuning")
    first = box.run("create", session, settings=settings)
    if saved_frequencies(first.state) is not None:
        raise Failure("a fresh instance saved a tuning")
    xml = first.state.xml()
    first.state.write_xml(xml.replace("</Parameters>", element + "</Parameters>"))

    second = box.run("reload", session, export="tuned", seconds=seconds + 0.2, snapshot="restored")
    kept = saved_frequencies(second.state)
    if kept != frequencies:
        raise Failure(f"after reloading, the plug-in saved the tuning {kept and kept[55:65]}, expected "
                      f"{frequencies[55:65]} (keys 55 to 64)")
    rate, channels = read_wav(box.export_path("tuned"))
    start, length, note, _ = phrase()[0]
    heard = pitch(channels[0], rate, start + 0.1, 0.1)
    equal = 440.0 * 2 ** ((note - 69) / 12)
    cents = 1200 * math.log2(heard / frequencies[note])
    print(f"  note {note}: {heard:.2f} Hz heard, {frequencies[note]:.2f} Hz tuned ({cents:+.1f} cents), "
          f"{equal:.2f} Hz in equal temperament")
    if abs(cents) > 5:
        raise Failure(f"note {note} sounds at {heard:.2f} Hz, {cents:+.1f} cents from its tuned {frequencies[note]:.2f} Hz")


def case_lv2_session_before_ports(box):
    """A session saved by the LV2 of before its control ports reloads with all twelve values: they
    come from the plug-in's own state, which the ports Ardour leaves at their defaults (the session
    holds no values for them) must not overwrite."""
    if box.fmt != "lv2":
        raise Failure("only the LV2 had sessions before its control ports")
    session = box.session(SESSION_BEFORE_PORTS.name)
    shutil.copytree(SESSION_BEFORE_PORTS, session)
    report = box.run("reload", session, snapshot="restored")
    # The ports still show their defaults: a plug-in cannot move its host's input ports.
    check_values(report, dict(DEFAULTS, **SETTINGS_BEFORE_PORTS), "after loading a session saved before the ports",
                 shown_too=False)


CASES = {"parameters": case_parameters, "render": case_render, "reload": case_reload, "bad-state": case_bad_state,
         "automation": case_automation, "tuning": case_tuning,
         "lv2-session-before-ports": case_lv2_session_before_ports}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--format", choices=["vst3", "lv2"], required=True)
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--bundle", help="the built bundle, run from a copy in the sandbox")
    where.add_argument("--installed", action="store_true", help="the bundle Ardour finds in the system folders")
    parser.add_argument("--host", required=True, help="kestrune-host, which lists the parameters")
    parser.add_argument("--vst3", help="the VST3 bundle the host reads them from (default: --bundle)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("args", nargs="*")
    args = parser.parse_args()
    if args.vst3 is None and not (args.format == "vst3" and args.bundle):
        parser.error("--vst3 is needed unless --bundle is the VST3")

    if LUA_BIN is None:
        print("SKIP: ardour7-lua is not installed (Debian package 'ardour')")
        return 77
    bundle = Path(args.bundle).resolve() if args.bundle else None
    if bundle is not None and not bundle.is_dir():
        print(f"FAIL: no bundle at {bundle}; build the plug-in first")
        return 1

    started = time.monotonic()
    box = None
    ok = False
    try:
        load_parameters(args.host, args.vst3 or bundle)
        box = Sandbox(args.format, bundle)
        if args.case == "tuning":
            CASES[args.case](box, args.host, args.vst3 or bundle)
        else:
            CASES[args.case](box, *args.args)
        ok = True
    except (Failure, subprocess.TimeoutExpired) as e:
        print(f"FAIL: {e}")
    finally:
        if box is not None:
            box.close(keep=args.keep)
    print(f"{'PASS' if ok else 'FAIL'} in {time.monotonic() - started:.1f} s")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
