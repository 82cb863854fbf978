"""A PipeWire graph of the test's own, with no desktop session and no sound card: a private runtime
folder and D-Bus session bus, `pipewire` (whose dummy driver runs the graph), `wireplumber`, and a
null sink that JACK clients see as `system` with the ports playback_FL and playback_FR, as a sound
card would be. JACK clients started with the environment it returns use PipeWire's JACK library,
as `pw-jack` would run them.
"""

import contextlib
import os
import shutil
import subprocess
import time

PROGRAMS = ("pipewire", "wireplumber", "pw-jack", "pw-cli", "dbus-daemon")
SINK = ("{ factory.name=support.null-audio-sink node.name=system node.description=system "
        "media.class=Audio/Sink object.linger=true audio.position=[FL FR] }")
# What pw-jack puts first on the library path ($LIB is the dynamic linker's own token).
JACK_LIBRARY_PATH = "/usr/${LIB}/pipewire-0.3/jack"


def skip_reason():
    """Why a test on PipeWire cannot run here, or "" when it can."""
    missing = [p for p in PROGRAMS if shutil.which(p) is None]
    if not missing:
        return ""
    return (f"{', '.join(missing)} not installed (Debian packages 'pipewire-jack', 'wireplumber', "
            "'dbus-daemon')")


def _stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


@contextlib.contextmanager
def pipewire_session(env, home, timeout=20.0):
    """Yields `env` for JACK clients of a PipeWire graph that lives as long as the block."""
    runtime = os.path.join(home, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(env, XDG_RUNTIME_DIR=runtime, LD_LIBRARY_PATH=JACK_LIBRARY_PATH, PIPEWIRE_LOG_SYSTEMD="false")
    for name in ("JACK_DEFAULT_SERVER", "PIPEWIRE_REMOTE", "DBUS_SESSION_BUS_ADDRESS"):
        env.pop(name, None)
    procs = []
    log = open(os.path.join(home, "pipewire.log"), "w")
    try:
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"], env=env,
                               stdout=subprocess.PIPE, stderr=log, text=True)
        procs.append(bus)
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        for program in ("pipewire", "wireplumber"):
            procs.append(subprocess.Popen([program], env=env, stdout=log, stderr=subprocess.STDOUT))
            time.sleep(0.5)

        def ports():
            result = subprocess.run(["jack_lsp"], env=env, capture_output=True, text=True)
            return result.stdout.splitlines() if result.returncode == 0 else None

        started = time.monotonic()
        sink_made = False
        while (listed := ports()) is None or "system:playback_FL" not in listed:
            if listed is not None and not sink_made:
                subprocess.run(["pw-cli", "create-node", "adapter", SINK], env=env, check=True,
                               capture_output=True, timeout=10)
                sink_made = True
            if time.monotonic() - started > timeout or any(p.poll() is not None for p in procs):
                log.flush()
                with open(log.name) as f:
                    raise RuntimeError("PipeWire did not start:\n" + f.read()[-3000:])
            time.sleep(0.2)
        yield env
    finally:
        for proc in reversed(procs):
            _stop(proc)
        log.close()
