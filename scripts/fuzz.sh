#!/usr/bin/env bash
# Builds the fuzzers with AddressSanitizer and UndefinedBehaviorSanitizer, then runs the state fuzzer
# (each state through the processor, the LV2 restore and the Standalone's settings file) and the MIDI
# fuzzer for the given number of seconds each (default 300; CI runs a shorter slice).
#   bash scripts/fuzz.sh [SECONDS] [SEED]
# Without a seed each run draws its own and prints it; the same seed repeats a run. A finding ends
# the run with a non-zero status. The input that crashed, hung or broke a check is left in
# build-address/fuzz/ (kestrune-fuzz-state-finding.bin, kestrune-fuzz-<state|midi>-input.bin); a
# state block runs again with
#   build-address/tests/fuzz/kestrune_fuzz state --replay FILE
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

SECONDS_EACH="${1:-300}"
SEED="${2:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}"

bash "$ROOT/scripts/sanitize.sh" address --build kestrune_fuzz
FUZZ="$ROOT/build-address/tests/fuzz/kestrune_fuzz"
mkdir -p "$ROOT/build-address/fuzz"
cd "$ROOT/build-address/fuzz"

export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
echo "fuzz.sh: $SECONDS_EACH s per fuzzer, seed $SEED"
"$FUZZ" state --seconds "$SECONDS_EACH" --seed "$SEED"
"$FUZZ" midi --seconds "$SECONDS_EACH" --seed "$SEED"
echo "fuzz.sh: no findings"
