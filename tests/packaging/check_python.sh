#!/usr/bin/env bash
# check_python.sh - the Python package installed two ways, each then loading
# and rendering the song given: `pip install` offline from a copy of python/
# (the library named by ZELTO_LIBRARY), and `cmake --install`, which puts the
# package beside the library, where it finds it without ZELTO_LIBRARY.
# Exits 77 (skipped) when the interpreter has no pip.
#
# Usage: check_python.sh PYTHON BUILD_DIR SOURCE_DIR SONG
set -euo pipefail

python=$1
build_dir=$2
source_dir=$3
song=$4

"$python" -m pip --version >/dev/null 2>&1 || { echo "check_python: $python has no pip"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/zelto-python.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "check_python: $*" >&2; exit 1; }
use_song="import zelto, sys
song = zelto.load(sys.argv[1])
assert song.tracks and song.midi()[:4] == b'MThd', 'song not read'
print(song.title)"

echo "== pip install --no-index --no-build-isolation"
cp -r "$source_dir/python" "$work/source"
"$python" -m pip install --quiet --no-index --no-build-isolation --target "$work/site" "$work/source" \
  >"$work/pip.log" 2>&1 || { cat "$work/pip.log"; fail "pip install failed"; }
[ -f "$work/site/zelto/__init__.py" ] || fail "pip did not install the package"
PYTHONPATH="$work/site" "$python" -c "$use_song" "$song" || fail "the pip-installed package did not read the song"

echo "== cmake --install: the package beside the library"
cmake --install "$build_dir" --prefix "$work/prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install failed"; }
package=$(find "$work/prefix" -path '*/zelto/__init__.py' -print -quit)
[ -n "$package" ] || fail "cmake --install did not install the package"
library=$(find "$work/prefix" -name 'libzelto.so*' -print -quit)
[ "$(dirname "$(dirname "$package")")" = "$(dirname "$library")" ] || fail "the package is not beside the library"
env -u ZELTO_LIBRARY PYTHONPATH="$(dirname "$(dirname "$package")")" "$python" -c "$use_song" "$song" \
  || fail "the installed package did not find the library beside it"
echo "python packaging: pip and cmake --install both work"
