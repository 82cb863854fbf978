#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12, then fetches JUCE 8 and
# Steinberg's VST3 SDK (for its validator) from Debian's source packages. Safe to run again:
# anything already present is left alone, so a second run does nothing.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
APTDIR="$ROOT/.deps/apt"          # private apt configuration (git-ignored)
mkdir -p "$CACHE" "$APTDIR"

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

# What a plain build of the plug-in, the host program and the package needs.
PACKAGES=(g++ cmake ninja-build ccache pkgconf patch xz-utils ca-certificates libx11-dev libxext-dev
  libxrandr-dev libxinerama-dev libxcursor-dev libfreetype-dev libfontconfig-dev libasound2-dev
  zlib1g-dev libpng-dev libjpeg-dev fonts-dejavu-core python3 dpkg-dev file help2man libjack-jackd2-dev
  liblo-dev ${KESTRUNE_EXTRA_PACKAGES:-})
# The tests also need GoogleTest and a virtual display, drive the plug-in in a real DAW, compare
# against a reference synthesiser (the engine bench also links it), read the LV2 bundle as LV2
# hosts do and check the Debian package; the Standalone is put under a session manager of the tests'
# own (OSC through python3-liblo) and on desktops at other scales (xsettingsd; xwininfo, xdotool); it
# and jalv also run on PipeWire's JACK, on a PipeWire graph the tests start with a D-Bus session bus
# of their own.
if [ -n "${KESTRUNE_WITH_TEST_HOSTS:-}" ]; then
  PACKAGES+=(libgtest-dev xvfb xauth libxtst6 ardour fluidsynth libfluidsynth-dev fluid-soundfont-gm lilv-utils lintian jackd2 jalv lv2-dev sordi
    python3-liblo xsettingsd x11-utils xdotool)
  PACKAGES+=(pipewire pipewire-jack wireplumber dbus-daemon)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends --no-upgrade "${missing[@]}"
fi

# --- Debian source packages through a private apt configuration -------------------------------
MIRROR="$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)"
MIRROR="${MIRROR:-http://deb.debian.org/debian}"
APT_OPTS=(-o "Dir::Etc::SourceList=$APTDIR/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
  -o "Dir::State::Lists=$APTDIR/lists" -o "Dir::Cache=$APTDIR/cache" -o "APT::Sandbox::User=root"
  -o "Dir::State::Status=/var/lib/dpkg/status" -o DPkg::Lock::Timeout=600)
apt_ready=0
prepare_apt() {
  [ "$apt_ready" = 1 ] && return
  mkdir -p "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $MIRROR trixie main" \
    > "$APTDIR/sources.list"
  apt-get "${APT_OPTS[@]}" update -qq
  apt_ready=1
}

check_sha() { echo "$2  $1" | sha256sum -c --status; }

JUCE_VER=8.0.6+ds-2
# Our own fixes of the framework (patches/juce, applied after Debian's) are part of the tree's name,
# so a checkout with other fixes never builds against this one's.
JUCE_DIR="$(juce_dir)"
JUCE_ORIG=juce_8.0.6+ds.orig.tar.xz
JUCE_DEB=juce_8.0.6+ds-2.debian.tar.xz
if [ ! -f "$JUCE_DIR/.kestrune-ready" ]; then
  dl="$CACHE/dl"; mkdir -p "$dl"
  if ! check_sha "$dl/$JUCE_ORIG" 4126ec8066866a1ccbc9cdd2beac712fd51e55ac7f24d8fdc45077b187a358ef 2>/dev/null \
     || ! check_sha "$dl/$JUCE_DEB" 98f781365d85d35639b5c47416b769c3d68ad9858c8559fc6c80bb95710976a1 2>/dev/null; then
    prepare_apt
    (cd "$dl" && apt-get "${APT_OPTS[@]}" source --download-only "juce=$JUCE_VER")
  fi
  check_sha "$dl/$JUCE_ORIG" 4126ec8066866a1ccbc9cdd2beac712fd51e55ac7f24d8fdc45077b187a358ef
  check_sha "$dl/$JUCE_DEB" 98f781365d85d35639b5c47416b769c3d68ad9858c8559fc6c80bb95710976a1
  rm -rf "$JUCE_DIR" "$JUCE_DIR.tmp"; mkdir -p "$JUCE_DIR.tmp"
  tar -xJf "$dl/$JUCE_ORIG" -C "$JUCE_DIR.tmp" --strip-components=1
  tar -xJf "$dl/$JUCE_DEB" -C "$JUCE_DIR.tmp"
  (cd "$JUCE_DIR.tmp" && while read -r p; do
      case "$p" in ''|\#*) continue;; esac
      patch -p1 -s < "debian/patches/$p"
    done < debian/patches/series
    if [ -f "$ROOT/patches/juce/series" ]; then
      while read -r p; do
        case "$p" in ''|\#*) continue;; esac
        patch -p1 -s --no-backup-if-mismatch < "$ROOT/patches/juce/$p"
      done < "$ROOT/patches/juce/series"
    fi)
  touch "$JUCE_DIR.tmp/.kestrune-ready"
  mv "$JUCE_DIR.tmp" "$JUCE_DIR"
  echo "setup: JUCE ready in $JUCE_DIR"
fi
# A plain "cmake -S . -B build" in this checkout finds the tree prepared for it here.
mkdir -p "$ROOT/.deps" && echo "$JUCE_DIR" > "$ROOT/.deps/juce-dir"

VST3_VER=3.7.10.14+~4.13.3-4
VST3_DIR="$CACHE/vst3sdk-3.7.10"
VALIDATOR="$CACHE/validator/validator"
# Steinberg's validator checks the built bundle in the tests.
if [ -n "${KESTRUNE_WITH_TEST_HOSTS:-}" ] && [ ! -x "$VALIDATOR" ]; then
  dl="$CACHE/dl-vst3"; mkdir -p "$dl"
  if ! ls "$dl"/vst3sdk_*.orig.tar.* >/dev/null 2>&1; then
    prepare_apt
    # The .dsc and Debian diff of this package answer 404; the orig tarballs are all we need.
    (cd "$dl" && apt-get "${APT_OPTS[@]}" source --download-only "vst3sdk=$VST3_VER" || true)
  fi
  main=$(ls "$dl"/vst3sdk_*.orig.tar.* | grep -v 'orig-' | head -1)
  [ -n "$main" ] || { echo "setup: vst3sdk tarballs missing" >&2; exit 1; }
  rm -rf "$VST3_DIR"; mkdir -p "$VST3_DIR"
  tar -xf "$main" -C "$VST3_DIR" --strip-components=1
  for comp in base cmake pluginterfaces vstgui4 public-sdk; do
    t=$(ls "$dl"/vst3sdk_*.orig-"$comp".tar.* 2>/dev/null | head -1)
    [ -n "$t" ] || { echo "setup: vst3sdk component $comp missing" >&2; exit 1; }
    d="$comp"; [ "$comp" = public-sdk ] && d=public.sdk
    rm -rf "${VST3_DIR:?}/$d"; mkdir -p "$VST3_DIR/$d"
    tar -xf "$t" -C "$VST3_DIR/$d" --strip-components=1
  done
  cmake -S "$VST3_DIR" -B "$VST3_DIR/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSMTG_ENABLE_VSTGUI_SUPPORT=OFF -DSMTG_ENABLE_VST3_HOSTING_EXAMPLES=OFF \
    -DSMTG_ENABLE_VST3_PLUGIN_EXAMPLES=OFF -DSMTG_ADD_VST3_UTILITIES=OFF -DSMTG_RUN_VST_VALIDATOR=OFF >/dev/null
  cmake --build "$VST3_DIR/build" --target validator -j2 >/dev/null
  mkdir -p "$(dirname "$VALIDATOR")"
  cp "$(find "$VST3_DIR/build" -type f -name validator -perm -u+x | head -1)" "$VALIDATOR"
  echo "setup: validator ready at $VALIDATOR"
fi
