# Shared settings for the build scripts (sourced, not run).
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KESTRUNE_BUILD_DIR:-$ROOT/build}"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
JOBS="${KESTRUNE_JOBS:-2}"
CACHE="${KESTRUNE_CACHE:-$HOME/.cache/kestrune}"

# The patched JUCE tree that scripts/setup.sh prepares: Debian's 8.0.6 plus patches/juce, named by
# a hash of those patches.
juce_dir() {
  if [ -f "$ROOT/patches/juce/series" ]; then
    echo "$CACHE/juce-8.0.6-$(cd "$ROOT/patches/juce" && cat series $(grep -v '^\s*\(#\|$\)' series) | sha256sum | cut -c1-12)"
  else
    echo "$CACHE/juce-8.0.6"
  fi
}

# A build folder reaches that tree through a link of its own, so the compiler sees the same JUCE paths
# whichever patches are in force: ccache then reuses every JUCE object that a new patch leaves alone.
juce_link() {
  mkdir -p "$1" && ln -sfn "$(juce_dir)" "$1/juce-tree" && echo "$1/juce-tree"
}

configure() {
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_JUCE_DIR="$(juce_link "$BUILD")" \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache "$@" >/dev/null
}

build() {
  cmake --build "$BUILD" -j"$JOBS" "$@"
}
