#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite under a virtual display.
# Extra arguments go to ctest (for example: -L unit, -R State, -E ardour).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

KESTRUNE_WITH_TEST_HOSTS=1 bash "$ROOT/scripts/setup.sh"
configure -DBUILD_TESTING=ON
build
cd "$BUILD"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  ctest --output-on-failure --no-tests=error -j"$JOBS" "$@"
