#!/usr/bin/env bash
# Installs what is missing, builds the plug-in, installs it for the current user, and renders a short
# phrase on every instrument through the installed VST3 with our own host program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

bash "$ROOT/scripts/setup.sh"
configure
echo "Building (log: $BUILD/demo-build.log) ..."
build --target Kestrune_VST3 Kestrune_Standalone kestrune-host $( [ "${KESTRUNE_LV2:-ON}" = OFF ] || echo Kestrune_LV2 ) \
  > "$BUILD/demo-build.log" 2>&1 || { tail -40 "$BUILD/demo-build.log"; exit 1; }

ARTEFACTS="$BUILD/Kestrune_artefacts/Release"
NAME="Zarnith Quorle Kestrune"
VST3_DEST="$HOME/.vst3/$NAME.vst3"
mkdir -p "$HOME/.vst3"
rm -rf "$VST3_DEST"
cp -r "$ARTEFACTS/VST3/$NAME.vst3" "$VST3_DEST"
echo "Installed the VST3 plug-in:   $VST3_DEST"
if [ -d "$ARTEFACTS/LV2/$NAME.lv2" ]; then
  mkdir -p "$HOME/.lv2"
  rm -rf "$HOME/.lv2/$NAME.lv2"
  cp -r "$ARTEFACTS/LV2/$NAME.lv2" "$HOME/.lv2/"
  echo "Installed the LV2 plug-in:    $HOME/.lv2/$NAME.lv2"
fi
echo "Standalone application:       $ARTEFACTS/Standalone/$NAME"

OUT="$ROOT/out/demo"
mkdir -p "$OUT"
python3 "$ROOT/scripts/demo_midi.py" "$OUT"
HOST="$BUILD/tools/host/kestrune-host"
for instrument in BAGPIPES RECORDER HARP GUITAR ORGAN HORN CHANT RHODES; do
  midi="$OUT/phrase.mid"
  extra=()
  case "$instrument" in
    BAGPIPES) extra=(--set droneOn=1) ;;
    RHODES) midi="$OUT/phrase-modwheel.mid" ;;
  esac
  file="$OUT/$(echo "$instrument" | tr 'A-Z' 'a-z').wav"
  "$HOST" render "$VST3_DEST" "$midi" "$file" --set "instrument=$instrument" "${extra[@]}" --tail 2 --float >/dev/null
  echo "Rendered $instrument:$(printf '%*s' $((10 - ${#instrument})) '') $file"
done
