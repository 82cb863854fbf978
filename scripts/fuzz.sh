#!/usr/bin/env bash
# Builds the fuzzers with AddressSanitizer and UndefinedBehaviorSanitizer, then runs the state fuzzer
# (each state through the processor, the LV2 restore, the Standalone's settings file and the built
# VST3 bundle's own wrapper) and the MIDI fuzzer (blocks through the processor, whole files through
# the host program's reader) for the given number of seconds each (default 300; CI runs a shorter
# slice), or until every door has taken the given number of inputs:
#   bash scripts/fuzz.sh [SECONDS] [SEED]
#   bash scripts/fuzz.sh --inputs COUNT [SEED]     # the standing run: --inputs 1000000
# Without a seed each run draws its own and prints it; the same seed repeats a run. A finding ends
# the run with a non-zero status. The input that crashed, hung or broke a check is left in
# build-address/fuzz/ (kestrune-fuzz-state-finding.bin, kestrune-fuzz-<state|midi>-input.bin); a
# state block runs again with
#   build-address/tests/fuzz/kestrune_fuzz state --replay FILE
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

if [ "${1:-}" = --inputs ]; then
  LIMIT=(--blocks "${2:?usage: fuzz.sh --inputs COUNT [SEED]}" --seconds 1e9)
  WHAT="$2 inputs per door"
  shift 2
else
  LIMIT=(--seconds "${1:-300}")
  WHAT="${1:-300} s per fuzzer"
  shift $(( $# > 0 ? 1 : 0 ))
fi
SEED="${1:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}"

bash "$ROOT/scripts/sanitize.sh" address --build kestrune_fuzz
FUZZ="$ROOT/build-address/tests/fuzz/kestrune_fuzz"
mkdir -p "$ROOT/build-address/fuzz"
cd "$ROOT/build-address/fuzz"

export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
echo "fuzz.sh: $WHAT, seed $SEED"
"$FUZZ" state "${LIMIT[@]}" --seed "$SEED"
"$FUZZ" midi "${LIMIT[@]}" --seed "$SEED"
echo "fuzz.sh: no findings"
