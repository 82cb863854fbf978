"""WAV files: their chunks, and their audio as channels of floats."""
import array
import pathlib
import struct
import sys
from collections import namedtuple

Wav = namedtuple("Wav", "rate bits is_float channels")


def chunks(source):
    """(chunk id, bytes) of a RIFF WAVE file, given as a path or as its bytes."""
    data = source if isinstance(source, (bytes, bytearray)) else pathlib.Path(source).read_bytes()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(f"{source if not isinstance(source, (bytes, bytearray)) else 'data'} is not a RIFF WAVE file")
    pos = 12
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        yield chunk, data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)


def little_endian(values):
    """An array read from a file's little-endian bytes, in the machine's own order."""
    if sys.byteorder != "little":
        values.byteswap()
    return values


def read(path):
    """The audio of a 16- or 24-bit PCM or 32-bit float file (plain or extensible): a Wav whose
    channels are arrays of floats, full scale 1. ValueError for anything else."""
    fmt = samples = None
    for chunk, body in chunks(path):
        if chunk == b"fmt ":
            tag, channels, rate, _, _, bits = struct.unpack_from("<HHIIHH", body)
            if tag == 0xFFFE:  # extensible: the real format tag opens the sub-format GUID
                tag = struct.unpack_from("<H", body, 24)[0]
            fmt = (tag, channels, rate, bits)
        elif chunk == b"data":
            samples = body
    if fmt is None or samples is None:
        raise ValueError(f"{path} lacks a fmt or data chunk")
    tag, channels, rate, bits = fmt
    if tag == 3 and bits == 32:
        values = little_endian(array.array("f", samples[:len(samples) // 4 * 4]))
    elif tag == 1 and bits == 16:
        codes = little_endian(array.array("h", samples[:len(samples) // 2 * 2]))
        values = array.array("f", (v / 32768.0 for v in codes))
    elif tag == 1 and bits == 24:
        values = array.array("f", (int.from_bytes(samples[i:i + 3], "little", signed=True) / 8388608.0
                                   for i in range(0, len(samples) - 2, 3)))
    else:
        raise ValueError(f"{path}: unsupported WAV format tag {tag} with {bits} bits")
    usable = len(values) // channels * channels
    return Wav(rate, bits, tag == 3, [values[c:usable:channels] for c in range(channels)])
