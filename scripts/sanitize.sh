#!/usr/bin/env bash
# Builds the tests with a sanitizer and runs the thread-crossing ones: the keyboard hand-over between
# the editor and the audio thread, instances sharing the sample bank while two threads construct and
# destroy them, and opening/closing the editor 200 times while audio renders.
#   bash scripts/sanitize.sh thread|address [--quick]
# --quick (what CI runs) keeps to the hand-over, instance and editor lifecycle tests; without it every
# unit and editor test runs under the sanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

SAN="${1:?usage: sanitize.sh thread|address [--quick]}"
QUICK="${2:-}"
case "$SAN" in thread|address) ;; *) echo "sanitize.sh: unknown sanitizer $SAN" >&2; exit 2 ;; esac

bash "$ROOT/scripts/setup.sh"
BUILD="$ROOT/build-$SAN"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZER="$SAN" \
  -DKESTRUNE_LV2=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null

targets=(kestrune_handover_tests kestrune_instance_tests kestrune_editor_tests)
[ "$QUICK" = --quick ] || targets+=(kestrune_core_tests kestrune_engine_tests kestrune_samplebank_tests)
cmake --build "$BUILD" -j"$JOBS" --target "${targets[@]}"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1"
run() { xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"; }

run "$BUILD/tests/core/kestrune_handover_tests"
run "$BUILD/tests/core/kestrune_instance_tests"
if [ "$QUICK" = --quick ]; then
  run "$BUILD/tests/editor/kestrune_editor_tests" --gtest_filter='EditorLifecycle.*'
else
  run "$BUILD/tests/editor/kestrune_editor_tests"
  run "$BUILD/tests/core/kestrune_core_tests"
  run "$BUILD/tests/engine/kestrune_engine_tests"
  run "$BUILD/tests/samplebank/kestrune_samplebank_tests"
fi
echo "sanitize.sh: $SAN sanitizer found nothing"
