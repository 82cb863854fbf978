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

# Fetches files of a Debian source package into DIR, each checked against the sha256 written here: a
# file already there and intact is kept, a download that does not match is an error. Only the files
# named are fetched (some packages' .dsc answers 404).
#   fetch_source PACKAGE=VERSION DIR FILE SHA256 [FILE SHA256 ...]
fetch_source() {
  local package="$1" dir="$2" uris="" file sha uri
  shift 2
  mkdir -p "$dir"
  while [ $# -gt 0 ]; do
    file="$1" sha="$2"
    shift 2
    check_sha "$dir/$file" "$sha" 2>/dev/null && continue
    if [ -z "$uris" ]; then
      prepare_apt
      uris="$(apt-get "${APT_OPTS[@]}" --print-uris source "$package")"
    fi
    uri="$(awk -v f="$file" '$2 == f { gsub("\047", "", $1); print $1 }' <<< "$uris")"
    [ -n "$uri" ] || { echo "setup: $package offers no file $file" >&2; exit 1; }
    rm -f "$dir/$file" "$dir/$file.FAILED"
    /usr/lib/apt/apt-helper "${APT_OPTS[@]}" download-file "$uri" "$dir/$file" "SHA256:$sha" >/dev/null \
      && check_sha "$dir/$file" "$sha" \
      || { echo "setup: $file failed to download or does not match its sha256" >&2; rm -f "$dir/$file"; exit 1; }
  done
}

# Several checkouts of the project share the cache: one setup at a time fetches and unpacks into it.
exec 9> "$CACHE/setup.lock"
flock 9

# Our own fixes of the framework (patches/juce, applied after Debian's) are part of the tree's name,
# so a checkout with other fixes never builds against this one's.
JUCE_DIR="$(juce_dir)"
JUCE_ORIG=juce_8.0.6+ds.orig.tar.xz
JUCE_DEB=juce_8.0.6+ds-2.debian.tar.xz
if [ ! -f "$JUCE_DIR/.kestrune-ready" ]; then
  dl="$CACHE/dl"
  fetch_source juce=8.0.6+ds-2 "$dl" \
    "$JUCE_ORIG" 4126ec8066866a1ccbc9cdd2beac712fd51e55ac7f24d8fdc45077b187a358ef \
    "$JUCE_DEB" 98f781365d85d35639b5c47416b769c3d68ad9858c8559fc6c80bb95710976a1
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
# The build finds the framework through this link (CMakeLists.txt), the same path whichever patches
# are in force, so ccache reuses every framework object that a new patch leaves alone.
mkdir -p "$ROOT/.deps" && ln -sfn "$JUCE_DIR" "$ROOT/.deps/juce"

VALIDATOR="$CACHE/validator/validator"
# Steinberg's validator checks the built bundle in the tests.
if [ -n "${KESTRUNE_WITH_TEST_HOSTS:-}" ] && [ ! -x "$VALIDATOR" ]; then
  dl="$CACHE/dl-vst3"
  v=vst3sdk_3.7.10.14+~4.13.3.orig
  fetch_source "vst3sdk=3.7.10.14+~4.13.3-4" "$dl" \
    "$v.tar.gz" 0c9fa7b578f8549d6ce6efeb427e9c7df8ca0e018bea13a523b78bb167663b81 \
    "$v-base.tar.gz" b9eb5c1e57ca2ef6b2560dd0e13822dd5a51e437b8f5a6c421b099d621d2bffb \
    "$v-cmake.tar.gz" f4699e910a67e585d7d177b2a48f6aa43706b3f073c8e454615f094484374349 \
    "$v-pluginterfaces.tar.gz" fd426c6b26ef93fdfdc8aef7e9b836c1bf43f25b8a1ef4c0642a41fb9250ab8a \
    "$v-public-sdk.tar.gz" ca1f70406b36f0763c799085c67deed5befc69514cc2b9cacb804512e95db335 \
    "$v-vstgui4.tar.gz" 5a7673c7b22a66086a6749a0c7ff447fcfc4a10d2c2013d58ff1320be4e8456f
  sdk="$(mktemp -d "$CACHE/vst3sdk.XXXXXX")"   # a tree of its own, gone once the validator is built
  tar -xf "$dl/$v.tar.gz" -C "$sdk" --strip-components=1
  for comp in base cmake pluginterfaces vstgui4 public-sdk; do
    d="$comp"; [ "$comp" = public-sdk ] && d=public.sdk
    rm -rf "${sdk:?}/$d"; mkdir -p "$sdk/$d"
    tar -xf "$dl/$v-$comp.tar.gz" -C "$sdk/$d" --strip-components=1
  done
  cmake -S "$sdk" -B "$sdk/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSMTG_ENABLE_VSTGUI_SUPPORT=OFF -DSMTG_ENABLE_VST3_HOSTING_EXAMPLES=OFF \
    -DSMTG_ENABLE_VST3_PLUGIN_EXAMPLES=OFF -DSMTG_ADD_VST3_UTILITIES=OFF -DSMTG_RUN_VST_VALIDATOR=OFF >/dev/null
  cmake --build "$sdk/build" --target validator -j2 >/dev/null
  mkdir -p "$(dirname "$VALIDATOR")"
  cp "$(find "$sdk/build" -type f -name validator -perm -u+x | head -1)" "$VALIDATOR.tmp"
  mv "$VALIDATOR.tmp" "$VALIDATOR"
  rm -rf "$sdk"
  echo "setup: validator ready at $VALIDATOR"
fi
