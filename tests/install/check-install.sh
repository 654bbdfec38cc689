#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Installs a build tree as a user and a packager do, and checks what a
# caller gets: exactly the files the FreeBSD port's plist lists, a library
# that exports exactly its three names, an entropy-table that runs as
# installed, a pkg-config file with clean paths under a custom and under a
# default-style prefix, and programs in C and C++ built against the prefix
# through its CMake package and through pkg-config, which run.
#
# Usage: check-install.sh BUILD_DIR C_COMPILER CXX_COMPILER
set -eu
build=$1 cc=$2 cxx=$3
here=$(cd "$(dirname "$0")" && pwd)
port=$here/../../packaging/freebsd
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
prefix=$work/prefix
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name gen-entropy-table.pc)
[ -n "$pc" ] || fail "no gen-entropy-table.pc installed"
pcdir=$(dirname "$pc")
lib=$(find "$prefix" -name libgen-entropy-table.a -o -name libgen-entropy-table.so)
[ -n "$lib" ] || fail "no static or shared library installed"
libdir=$(dirname "$lib")
version=$(sed -n 's/^#define GEN_ENTROPY_TABLE_VERSION "\(.*\)"$/\1/p' "$prefix/include/gen-entropy-table.h")
grep -q "^DISTVERSION=[[:space:]]*$version\$" "$port/Makefile" || fail "the port is not at version $version"

# The installed files are the port's plist, read for this build: the .pc
# file and the library where this build puts them, the library as this
# build made it, manual pages not yet compressed, the documentation (with
# the licence) in its folder.
sed -e '/^@/d' -e 's|^%%PORTDOCS%%%%DOCSDIR%%/|share/doc/gen-entropy-table/|' -e "s|^libdata/pkgconfig/|${pcdir#"$prefix"/}/|" -e "s|^lib/|${libdir#"$prefix"/}/|" \
    -e 's|^\(share/man/.*\)\.gz$|\1|' "$port/pkg-plist" >"$work/plist"
if [ "${lib##*.}" = a ]; then
  sed -e '/libgen-entropy-table\.so\./d' -e 's|libgen-entropy-table\.so$|libgen-entropy-table.a|' \
    "$work/plist" >"$work/plist.static"
  mv "$work/plist.static" "$work/plist"
fi
sort "$work/plist" >"$work/expected"
(cd "$prefix" && find . -type f -o -type l) | sed 's|^\./||' | sort >"$work/installed"
diff "$work/expected" "$work/installed" >&2 ||
  fail "installed files differ from packaging/freebsd/pkg-plist (< plist only, > installed only)"

# The library exports the unit's three names and nothing else: no main.
if [ "${lib##*.}" = a ]; then
  exports=$(nm -g --defined-only "$lib" | awk 'NF == 3 {print $3}')
else
  [ -L "$lib" ] && [ -f "$lib.1" ] || fail "no versioned shared library"
  readelf -d "$lib" | grep -q 'Library soname: \[libgen-entropy-table.so.1\]' || fail "soname"
  exports=$(nm -D --defined-only "$lib" | awk 'NF == 3 && $3 !~ /^_(init|fini)$/ {print $3}')
fi
[ "$(printf '%s\n' "$exports" | sort | tr '\n' ' ')" = "simple_getline simple_getline_length state_counts " ] ||
  fail "the library exports: $exports"

# The installed program runs as installed, whatever the library's kind.
[ "$("$prefix/bin/entropy-table" --version)" = "entropy-table (gen-entropy-table) $version" ] ||
  fail "bin/entropy-table --version"
table=$("$prefix/bin/entropy-table" --format=c) || fail "bin/entropy-table --format=c failed"
printf '%s\n' "$table" | grep -q '^static const uint32_t entropy_table\[64\]\[2\] = {$' ||
  fail "bin/entropy-table --format=c wrote no table"

expected=$(printf '%s 48569 1451987\n[abc]\n[]\n[last]' "$version")
run() {
  out=$(printf 'abc\n\nlast' | LD_LIBRARY_PATH="$libdir" "$1") || fail "$1 failed"
  [ "$out" = "$expected" ] || fail "$1 printed: $out"
}

# Through the CMake package, asking for this version; a request for the
# next major version is refused.
major=${version%%.*}
cmake -S "$here" -B "$work/consumers" -DCMAKE_PREFIX_PATH="$prefix" -DWANTED_VERSION="$version" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/consumers" >/dev/null
run "$work/consumers/c-consumer"
run "$work/consumers/cxx-consumer"
if cmake -S "$here" -B "$work/too-new" -DCMAKE_PREFIX_PATH="$prefix" \
     -DWANTED_VERSION="$((major + 1)).0" >/dev/null 2>&1; then
  fail "find_package accepted a request for version $((major + 1)).0"
fi

# Through pkg-config: clean, absolute paths under the prefix.
export PKG_CONFIG_PATH="$pcdir"
[ "$(pkg-config --modversion gen-entropy-table)" = "$version" ] || fail "pkg-config version"
flags=$(pkg-config --cflags --libs gen-entropy-table | sed 's/[[:space:]]*$//')
[ "$flags" = "-I$prefix/include -L$libdir -lgen-entropy-table" ] || fail "pkg-config flags: $flags"
# shellcheck disable=SC2086 # the flags are words, and the paths have no blanks
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$here/consumer.c" $flags -o "$work/c-pc"
# shellcheck disable=SC2086
"$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror "$here/consumer.cpp" $flags -o "$work/cxx-pc"
run "$work/c-pc"
run "$work/cxx-pc"

# Under a default-style prefix the flags name no system folder.
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null
flags=$(PKG_CONFIG_PATH="$work/stage/usr/${pcdir#"$prefix"/}" pkg-config --cflags --libs gen-entropy-table)
case "$flags" in
  *-I/usr/include* | *..*) fail "pkg-config flags under /usr: $flags" ;;
esac

if command -v man >/dev/null; then
  man -M "$prefix/share/man" 3 simple_getline 2>/dev/null | grep -q simple_getline ||
    fail "man 3 simple_getline shows nothing"
  man -M "$prefix/share/man" 1 entropy-table 2>/dev/null | grep -q smoothing ||
    fail "man 1 entropy-table shows nothing"
fi
echo "check-install: $prefix holds a working installation"
