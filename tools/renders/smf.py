"""Standard MIDI Files and float WAV data for the render scripts."""
import array
import pathlib
import struct

TICKS = 480  # per quarter note; at the file's default 120 bpm, 960 ticks a second


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def midi_file(events):
    """A one-track file of (tick, bytes) events; at one tick, note-offs come before note-ons."""
    events = sorted(events, key=lambda e: (e[0], e[1][0] == 0x90))
    track, now = b"", 0
    for tick, data in events:
        track += vlq(tick - now) + data
        now = tick
    track += vlq(0) + b"\xFF\x2F\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS) + b"MTrk" + struct.pack(">I", len(track)) + track


def wav_chunks(path):
    """(chunk id, bytes) of a RIFF WAV file."""
    data = pathlib.Path(path).read_bytes()
    pos = 12
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        yield chunk, data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)


def float_channels(path):
    """The channels of a 32-bit float WAV as arrays of floats."""
    channels, frames = 2, array.array("f")
    for chunk, body in wav_chunks(path):
        if chunk == b"fmt ":
            channels = struct.unpack("<H", body[2:4])[0]
        elif chunk == b"data":
            frames = array.array("f", body)
    return [frames[c::channels] for c in range(channels)]
