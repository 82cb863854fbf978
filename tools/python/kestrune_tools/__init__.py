"""What the tests, the scripts and the tools share: Standard MIDI Files, WAV files, the list of
recordings, the host program's answers and the JACK helpers. Put tools/python on PYTHONPATH
(scripts/env.sh and the test registrations do)."""
