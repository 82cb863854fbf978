#!/usr/bin/env bash
# Builds the tests with a sanitizer and runs them.
#   bash scripts/sanitize.sh thread|address [--quick]
#   bash scripts/sanitize.sh thread|address --build TARGET...
# "address" is AddressSanitizer together with UndefinedBehaviorSanitizer; the first report of either
# ends the run. Without options every unit and editor test runs under the sanitizer. --quick (what
# CI runs for "thread") keeps to the thread-crossing tests: the keyboard hand-over between the editor
# and the audio thread, instances sharing the sample bank while two threads construct and destroy
# them, and opening/closing the editor while audio renders. --build only builds the
# given targets in the sanitizer's build folder (scripts/fuzz.sh uses it).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

SAN="${1:?usage: sanitize.sh thread|address [--quick | --build TARGET...]}"
MODE="${2:-}"
case "$SAN" in
  thread) FLAGS=thread ;;
  address) FLAGS=address,undefined ;;
  *) echo "sanitize.sh: unknown sanitizer $SAN" >&2; exit 2 ;;
esac

bash "$ROOT/scripts/setup.sh"
BUILD="$ROOT/build-$SAN"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZER="$FLAGS" \
  -UKESTRUNE_JUCE_DIR \
  -DKESTRUNE_LV2=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null

if [ "$MODE" = --build ]; then
  cmake --build "$BUILD" -j"$JOBS" --target "${@:3}"
  exit 0
fi

targets=(kestrune_handover_tests kestrune_instance_tests kestrune_editor_tests)
[ "$MODE" = --quick ] || targets+=(kestrune_core_tests kestrune_engine_tests kestrune_samplebank_tests)
cmake --build "$BUILD" -j"$JOBS" --target "${targets[@]}"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
run() { xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"; }

run "$BUILD/tests/core/kestrune_handover_tests"
run "$BUILD/tests/core/kestrune_instance_tests"
if [ "$MODE" = --quick ]; then
  run "$BUILD/tests/editor/kestrune_editor_tests" --gtest_filter='EditorLifecycle.*'
else
  run "$BUILD/tests/editor/kestrune_editor_tests"
  run "$BUILD/tests/core/kestrune_core_tests"
  run "$BUILD/tests/engine/kestrune_engine_tests"
  run "$BUILD/tests/samplebank/kestrune_samplebank_tests"
fi
echo "sanitize.sh: $SAN sanitizer found nothing"
