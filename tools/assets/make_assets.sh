#!/usr/bin/env bash
# Re-creates the committed recordings in assets/ (an optional step: the build only needs the
# committed files). Installs fluidsynth, the Fluid R3 GM SoundFont and numpy from Debian, then
# renders every note. The icons are drawn by the kestrune_icons tool (tools/icons).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

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
