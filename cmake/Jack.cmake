# The Standalone joins a JACK (or PipeWire-JACK) graph as well as ALSA. JUCE opens libjack.so.0 with
# dlopen when the audio device list is built, so the binaries gain no NEEDED entry on libjack and
# start on ALSA where JACK is not installed; only the headers are needed to build.
target_compile_definitions(Kestrune PUBLIC JUCE_JACK=1)

# Without libjack the Standalone simply offers no JACK device: recommend it, never depend on it
# (JACK 2's library, or JACK 1's through the virtual package both provide).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libjack-jackd2-0 | libjack-0.125")
