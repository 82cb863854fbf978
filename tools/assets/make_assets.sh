#!/usr/bin/env bash
# Re-creates the committed assets (an optional step: the plug-in's build only needs the files in
# assets/). Installs fluidsynth, the Fluid R3 GM SoundFont and numpy from Debian and renders the
# recordings assets/recordings.txt lists; then builds the kestrune_icons tool and draws the 7 icons.
#   bash tools/assets/make_assets.sh [--only GROUP ...]   (arguments go to make_samples.py)
#   KESTRUNE_ASSETS=samples|icons|all (default all) picks the steps.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"

STEPS="${KESTRUNE_ASSETS:-all}"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

if [ "$STEPS" != icons ]; then
  PACKAGES=(fluidsynth fluid-soundfont-gm python3-numpy)
  missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
    $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends --no-upgrade "${missing[@]}"
  fi
  # Debian's own interpreter, where python3-numpy lives.
  /usr/bin/python3 "$ROOT/tools/assets/make_samples.py" "$ROOT/assets" "$@"
fi

if [ "$STEPS" != samples ]; then
  [ -f "$BUILD/build.ninja" ] || configure
  build --target kestrune_icons
  "$BUILD/tools/icons/kestrune_icons_artefacts/Release/kestrune_icons" "$ROOT/assets"
fi
