"""Standard MIDI Files."""
import struct

TICKS = 480  # per quarter note; at the file's default 120 bpm, 960 ticks a second


def vlq(value):
    """The variable-length number of Standard MIDI Files."""
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def header(fmt, tracks, ppq=TICKS):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, tracks, ppq)


def track(events, end=0):
    """An MTrk chunk of (tick, bytes) events, in time order (events at one tick keep theirs), closed by an
    end-of-track at the last event or at `end`, whichever is later."""
    body, now = b"", 0
    for tick, data in sorted(events, key=lambda e: e[0]):
        body += vlq(tick - now) + data
        now = tick
    body += vlq(max(end - now, 0)) + b"\xFF\x2F\x00"
    return b"MTrk" + struct.pack(">I", len(body)) + body


def midi_file(events, ppq=TICKS, end=0):
    """A one-track file of (tick, bytes) events; at one tick, note-offs come before note-ons."""
    ordered = sorted(events, key=lambda e: (e[0], e[1][0] == 0x90))
    return header(0, 1, ppq) + track(ordered, end)


def multitrack_file(ppq, tracks):
    """A format-1 file of tracks, each a list of (tick, bytes) events."""
    return header(1, len(tracks), ppq) + b"".join(track(events) for events in tracks)
