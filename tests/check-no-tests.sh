#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# A test run that runs no test fails: each of the project's test presets,
# applied to a project that defines no test (as a build without GoogleTest
# is), must end in failure.
#
# Usage: check-no-tests.sh SOURCE_DIR
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cp "$1/CMakePresets.json" "$work/"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(none LANGUAGES NONE)\nenable_testing()\n' \
  >"$work/CMakeLists.txt"
cd "$work"
presets=$(ctest --list-presets | sed -n 's/^ *"\([^"]*\)".*/\1/p')
[ -n "$presets" ] || { echo "check-no-tests: no test presets" >&2; exit 1; }
for preset in $presets; do
  cmake --preset "$preset" >/dev/null 2>&1
  if ctest --preset "$preset" >"$work/out" 2>&1; then
    echo "check-no-tests: ctest --preset $preset passed without running a test" >&2
    exit 1
  fi
  grep -q 'No tests were found' "$work/out" || { cat "$work/out" >&2; exit 1; }
done
echo "check-no-tests: $(echo $presets | wc -w) test presets fail when no test ran"
