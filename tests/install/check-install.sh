#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Installs a build tree as a user and a packager do, and checks what a
# caller gets: exactly the files the FreeBSD port's plist lists, for this
# build's type and for another, a library that exports exactly its three
# names, an entropy-table that runs as installed and whose C output
# compiles, a pkg-config file with clean paths under a custom and under a
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

# The installed files are the port's plist, read for a build: its build
# type, the .pc file and the library where it puts them, the library as it
# made it, manual pages not yet compressed, the documentation (with the
# licence) in its folder.
check_plist() { # BUILD_DIR PREFIX
  build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$1/CMakeCache.txt" | tr '[:upper:]' '[:lower:]')
  p_pc=$(find "$2" -name gen-entropy-table.pc)
  p_lib=$(find "$2" -name libgen-entropy-table.a -o -name libgen-entropy-table.so)
  sed -e '/^@/d' -e "s|%%CMAKE_BUILD_TYPE%%|$build_type|" \
      -e 's|^%%PORTDOCS%%%%DOCSDIR%%/|share/doc/gen-entropy-table/|' \
      -e "s|^libdata/pkgconfig/|$(dirname "${p_pc#"$2"/}")/|" -e "s|^lib/|$(dirname "${p_lib#"$2"/}")/|" \
      -e 's|^\(share/man/.*\)\.gz$|\1|' "$port/pkg-plist" >"$work/plist"
  if [ "${p_lib##*.}" = a ]; then
    sed -e '/libgen-entropy-table\.so\./d' -e 's|libgen-entropy-table\.so$|libgen-entropy-table.a|' \
      "$work/plist" >"$work/plist.static"
    mv "$work/plist.static" "$work/plist"
  fi
  sort "$work/plist" >"$work/expected"
  (cd "$2" && find . -type f -o -type l) | sed 's|^\./||' | sort >"$work/installed"
  diff "$work/expected" "$work/installed" >&2 ||
    fail "installed files of a $build_type build differ from packaging/freebsd/pkg-plist (< plist only, > installed only)"
}
check_plist "$build" "$prefix"
# A build of another type installs another export file.
shared=$(sed -n 's/^BUILD_SHARED_LIBS:BOOL=//p' "$build/CMakeCache.txt")
cmake -S "$here/../.." -B "$work/debug" -DCMAKE_BUILD_TYPE=Debug -DBUILD_SHARED_LIBS="${shared:-OFF}" \
  -DBUILD_TESTING=OFF -DGEN_ENTROPY_TABLE_BENCH=OFF -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/debug" >/dev/null
cmake --install "$work/debug" --prefix "$work/debug-prefix" >/dev/null
check_plist "$work/debug" "$work/debug-prefix"

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

# Its C output compiles alone and included twice, as C and as C++, under
# -Werror; with external linkage, compiled as C++, it serves a C caller.
for linkage in static extern; do
  "$prefix/bin/entropy-table" -f c -n rate --linkage=$linkage >"$work/rate-$linkage.h"
  printf '#include "rate-%s.h"\n#include "rate-%s.h"\nint first(void) { return (int)rate[0][0]; }\n' \
    $linkage $linkage >"$work/twice-$linkage.c"
  for unit in "$work/rate-$linkage.h" "$work/twice-$linkage.c"; do
    "$cc" -std=c99 -Wall -Wextra -Werror -pedantic -c -x c "$unit" -o "$work/unit.o" ||
      fail "the C output ($linkage) does not compile as C: $unit"
    "$cxx" -std=c++11 -Wall -Wextra -Werror -pedantic -c -x c++ "$unit" -o "$work/unit.o" ||
      fail "the C output ($linkage) does not compile as C++: $unit"
  done
done
printf '#include <stdint.h>\nextern const uint32_t rate[64][2];\nint main(void) { return rate[63][0] != 245644; }\n' \
  >"$work/caller.c"
"$cxx" -std=c++11 -c -x c++ "$work/rate-extern.h" -o "$work/rate.o"
"$cc" -std=c99 -Wall -Wextra -Werror -pedantic "$work/caller.c" "$work/rate.o" -o "$work/caller"
"$work/caller" || fail "a C caller does not find the extern table defined in C++"

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
