#!/usr/bin/env bash
# Installs a build tree under a new prefix, as a user does, and checks what
# a caller gets there: the installed files, a library that exports exactly
# state_counts and simple_getline, and programs in C and C++ built against
# the prefix through its CMake package and through pkg-config, which run.
#
# Usage: check-install.sh BUILD_DIR C_COMPILER CXX_COMPILER
set -euo pipefail
build=$1 cc=$2 cxx=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name gen-entropy-table.pc)
[[ -n "$pc" ]] || fail "no gen-entropy-table.pc installed"
libdir=$(dirname "$(dirname "$pc")")

for f in bin/gen-entropy-table bin/entropy-table include/gen-entropy-table.h \
         share/man/man1/gen-entropy-table.1 share/man/man1/entropy-table.1 share/man/man3/simple_getline.3 \
         share/man/man3/simple_getline_length.3 \
         share/man/man3/state_counts.3; do
  [[ -f "$prefix/$f" ]] || fail "$f not installed"
done
for f in gen-entropy-table-config.cmake gen-entropy-table-config-version.cmake \
         gen-entropy-table-targets.cmake; do
  [[ -f "$libdir/cmake/gen-entropy-table/$f" ]] || fail "$f not installed"
done

# The library exports the unit's two names and nothing else: no main.
if [[ -f "$libdir/libgen-entropy-table.a" ]]; then
  exports=$(nm -g --defined-only "$libdir/libgen-entropy-table.a" | awk 'NF == 3 {print $3}')
else
  lib=$libdir/libgen-entropy-table.so
  [[ -L "$lib" && -f "$lib.1" ]] || fail "no static or versioned shared library"
  readelf -d "$lib" | grep -q 'Library soname: \[libgen-entropy-table.so.1\]' || fail "soname"
  exports=$(nm -D --defined-only "$lib" | awk 'NF == 3 && $3 !~ /^_(init|fini)$/ {print $3}')
fi
[[ "$(sort <<<"$exports" | tr '\n' ' ')" == "simple_getline simple_getline_length state_counts " ]] ||
  fail "the library exports: $exports"

version=$(sed -n 's/^#define GEN_ENTROPY_TABLE_VERSION "\(.*\)"$/\1/p' "$prefix/include/gen-entropy-table.h")

# The installed program runs as installed, whatever the library's kind.
[[ "$("$prefix/bin/entropy-table" --version)" == "entropy-table (gen-entropy-table) $version" ]] ||
  fail "bin/entropy-table --version"
table=$("$prefix/bin/entropy-table" --format=c) || fail "bin/entropy-table --format=c failed"
grep -q '^static const uint32_t entropy_table\[64\]\[2\] = {$' <<<"$table" ||
  fail "bin/entropy-table --format=c wrote no table"
expected=$(printf '%s 48569 1451987\n[abc]\n[]\n[last]' "$version")
run() {
  local out
  out=$(printf 'abc\n\nlast' | LD_LIBRARY_PATH="$libdir" "$1") || fail "$1 failed"
  [[ "$out" == "$expected" ]] || fail "$1 printed: $out"
}

# Through the CMake package.
cmake -S "$here" -B "$work/consumers" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/consumers" >/dev/null
run "$work/consumers/c-consumer"
run "$work/consumers/cxx-consumer"

# Through pkg-config.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[[ "$(pkg-config --modversion gen-entropy-table)" == "$version" ]] || fail "pkg-config version"
read -r -a flags <<<"$(pkg-config --cflags --libs gen-entropy-table)"
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$here/consumer.c" "${flags[@]}" -o "$work/c-pc"
"$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror "$here/consumer.cpp" "${flags[@]}" -o "$work/cxx-pc"
run "$work/c-pc"
run "$work/cxx-pc"

if command -v man >/dev/null; then
  man -M "$prefix/share/man" 3 simple_getline 2>/dev/null | grep -q simple_getline ||
    fail "man 3 simple_getline shows nothing"
  man -M "$prefix/share/man" 1 entropy-table 2>/dev/null | grep -q smoothing ||
    fail "man 1 entropy-table shows nothing"
fi
echo "check-install: $prefix holds a working installation"
