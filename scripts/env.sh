# Shared settings for the build scripts (sourced, not run).
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KESTRUNE_BUILD_DIR:-$ROOT/build}"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
JOBS="${KESTRUNE_JOBS:-2}"
CACHE="${KESTRUNE_CACHE:-$HOME/.cache/kestrune}"
# The Python helpers the scripts, tests and tools share.
export PYTHONPATH="$ROOT/tools/python${PYTHONPATH:+:$PYTHONPATH}"

# The patched JUCE tree that scripts/setup.sh prepares: Debian's 8.0.6 plus patches/juce, named by
# a hash of those patches.
juce_dir() {
  if [ -f "$ROOT/patches/juce/series" ]; then
    echo "$CACHE/juce-8.0.6-$(cd "$ROOT/patches/juce" && cat series $(grep -v '^\s*\(#\|$\)' series) | sha256sum | cut -c1-12)"
  else
    echo "$CACHE/juce-8.0.6"
  fi
}

# The scripts build against the framework tree setup.sh links at .deps/juce, whatever an earlier
# configuration of the folder chose (-U); a -D among the arguments still overrides it.
configure() {
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -UKESTRUNE_JUCE_DIR \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache "$@" >/dev/null
}

build() {
  cmake --build "$BUILD" -j"$JOBS" "$@"
}
