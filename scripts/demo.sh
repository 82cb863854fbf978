#!/usr/bin/env bash
# Installs what is missing, builds the plug-in, installs it for the current user, and renders a short
# phrase on every instrument through the installed VST3 with our own host program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

bash "$ROOT/scripts/setup.sh"
# The plug-in alone, in the build folder the tests use: scripts/test.sh turns the tests on there and
# reuses everything built here.
configure -DBUILD_TESTING=OFF
echo "Building (log: $BUILD/demo-build.log) ..."
build --target Kestrune_VST3 Kestrune_Standalone kestrune-host $( [ "${KESTRUNE_LV2:-ON}" = OFF ] || echo Kestrune_LV2 ) \
  > "$BUILD/demo-build.log" 2>&1 || { tail -40 "$BUILD/demo-build.log"; exit 1; }
# The product's name and where the build put each artefact.
source "$BUILD/kestrune-build.sh"

VST3_DEST="$HOME/.vst3/$KESTRUNE_PRODUCT_NAME.vst3"
mkdir -p "$HOME/.vst3"
rm -rf "$VST3_DEST"
cp -r "$KESTRUNE_VST3_BUNDLE" "$VST3_DEST"
echo "Installed the VST3 plug-in:   $VST3_DEST"
if [ -n "$KESTRUNE_LV2_BUNDLE" ] && [ -d "$KESTRUNE_LV2_BUNDLE" ]; then
  LV2_DEST="$HOME/.lv2/$KESTRUNE_PRODUCT_NAME.lv2"
  mkdir -p "$HOME/.lv2"
  rm -rf "$LV2_DEST"
  cp -r "$KESTRUNE_LV2_BUNDLE" "$LV2_DEST"
  echo "Installed the LV2 plug-in:    $LV2_DEST"
fi
echo "Standalone application:       $KESTRUNE_STANDALONE"

OUT="$ROOT/out/demo"
mkdir -p "$OUT"
python3 "$ROOT/scripts/demo_midi.py" "$OUT"
# Every instrument the installed plug-in offers, playing the phrase and then the phrase with the mod
# wheel up (trill everywhere, tremolo too where the instrument has it); the drone is switched on and
# sounds only under the instruments that have one.
mapfile -t instruments < <(python3 -m kestrune_tools.host instruments "$KESTRUNE_HOST" "$VST3_DEST")
[ "${#instruments[@]}" -gt 0 ] || { echo "demo: the installed plug-in lists no instruments" >&2; exit 1; }
for instrument in "${instruments[@]}"; do
  name="$(echo "$instrument" | tr 'A-Z' 'a-z')"
  for phrase in phrase phrase-modwheel; do
    file="$OUT/$name${phrase#phrase}.wav"
    "$KESTRUNE_HOST" render "$VST3_DEST" "$OUT/$phrase.mid" "$file" --set "instrument=$instrument" --set droneOn=1 \
      --tail 2 --float >/dev/null
    echo "Rendered $instrument:$(printf '%*s' $((10 - ${#instrument})) '') $file"
  done
done
