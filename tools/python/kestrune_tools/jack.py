"""JACK for the tests that run a client on a server of their own."""
import subprocess
import time

from kestrune_tools import wav

RATE = 48000      # the tests' servers run at this rate
TIMEOUT = 30.0


def wait_for(predicate, what, timeout=TIMEOUT):
    started = time.monotonic()
    while time.monotonic() - started < timeout:
        if predicate():
            return
        time.sleep(0.2)
    raise RuntimeError(f"no {what} after {timeout:.0f} s")


def jack_ports(env):
    result = subprocess.run(["jack_lsp"], env=env, capture_output=True, text=True)
    return result.stdout.splitlines() if result.returncode == 0 else []


def peak(channels, start, end):
    """Peak of every channel over frames [start, end), full scale 1."""
    return max((abs(v) for ch in channels for v in ch[start:end]), default=0.0)


def read_recording(path):
    """The channels jack_rec wrote: two of 16 bits."""
    recording = wav.read(path)
    if len(recording.channels) != 2 or recording.bits != 16:
        raise RuntimeError(f"jack_rec wrote {len(recording.channels)} channels of {recording.bits} bits")
    return recording.channels


def verdict(test):
    """Runs a test that raises on failure, prints PASS or FAIL and returns the exit status."""
    try:
        test()
    except (RuntimeError, subprocess.SubprocessError) as e:
        print(f"FAIL: {e}\nFAIL")
        return 1
    print("PASS")
    return 0
