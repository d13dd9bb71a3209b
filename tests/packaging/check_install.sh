#!/usr/bin/env bash
# check_install.sh - installs a built zelto tree into a temporary prefix, then
# builds the small C host in consumer/ against the installed files twice:
# through find_package(zelto) and through pkg-config. Both builds and the
# installed command-line tool must run on the song given.
#
# Exits 77 (skipped) after the CMake host when pkg-config is missing.
#
# Usage: check_install.sh BUILD_DIR SONG [EXTRA_C_FLAGS]
set -euo pipefail

build_dir=$1
song=$2
extra_c_flags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/zelto-packaging.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "check_install: $*" >&2; exit 1; }

echo "== installing into $prefix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install failed"; }

for header in zelto.h zelto_exports.h; do
  [ -f "$prefix/include/$header" ] || fail "include/$header not installed"
done
[ -x "$prefix/bin/zelto" ] || fail "bin/zelto not installed"
library=$(find "$prefix" -name 'libzelto.so*' -print -quit)
[ -n "$library" ] || fail "libzelto.so not installed"
libdir=$(dirname "$library")
# The library is versioned: its SONAME names an installed symlink, which
# libzelto.so (the name linked at build time) reaches too.
soname=$(readelf -d "$libdir/libzelto.so" | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
[[ $soname == libzelto.so.[0-9]* ]] || fail "the SONAME of libzelto.so is '$soname', not a versioned name"
[ -L "$libdir/$soname" ] || fail "the symlink $soname is not installed"
[ "$(readlink -f "$libdir/libzelto.so")" = "$(readlink -f "$libdir/$soname")" ] || fail "libzelto.so and $soname differ"
pc_file=$(find "$prefix" -name zelto.pc -print -quit)
[ -n "$pc_file" ] || fail "zelto.pc not installed"
config=$(find "$prefix" -name zeltoConfig.cmake -print -quit)
[ -n "$config" ] || fail "zeltoConfig.cmake not installed"
[ -f "$(dirname "$config")/zeltoConfigVersion.cmake" ] || fail "zeltoConfigVersion.cmake not installed"
# The static archive and internal headers are for the tests only.
[ -z "$(find "$prefix" -name 'libzelto_core*' -print -quit)" ] || fail "the test archive was installed"

echo "== the installed tool runs from its prefix"
"$prefix/bin/zelto" --version | grep -qx 'zelto 0\.0\.0\.2' || fail "bin/zelto --version"
"$prefix/bin/zelto" info "$song" >"$work/info.txt" || fail "bin/zelto info failed"

echo "== a CMake host: find_package(zelto) and zelto::zelto"
cmake -S "$here/consumer" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$extra_c_flags" >"$work/cmake-host.log" 2>&1 \
  || { cat "$work/cmake-host.log"; fail "configuring the CMake host failed"; }
cmake --build "$work/cmake-host" >>"$work/cmake-host.log" 2>&1 \
  || { cat "$work/cmake-host.log"; fail "building the CMake host failed"; }
"$work/cmake-host/consumer" "$song"

echo "== a pkg-config host"
if ! command -v pkg-config >/dev/null; then
  # The installed tree and its CMake package were checked; this part cannot run.
  echo "skipped: pkg-config is not installed (apt-get install pkg-config, or run scripts/setup)"
  exit 77
fi
export PKG_CONFIG_PATH=$(dirname "$pc_file")
[ "$(pkg-config --modversion zelto)" = "0.0.0.2" ] || fail "pkg-config --modversion zelto"
# shellcheck disable=SC2046,SC2086
cc -std=c99 -Wall -Wextra -Werror -pedantic $extra_c_flags "$here/consumer/consumer.c" \
  $(pkg-config --cflags --libs zelto) -o "$work/pkg-config-host" || fail "building the pkg-config host failed"
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$work/pkg-config-host" "$song"

echo "packaging: installed tree works through CMake and pkg-config"
