#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Draws, for every CABAC probability state, the observed LPS probability
# against the probability the arithmetic coder effectively codes the LPS
# with (2^-cost of its LPS cost) and the idealised model's 0.5 a^k, on a
# logarithmic scale, from entropy-table's CSV output (gnuplot; Debian:
# gnuplot-nox).  The counts are the library's built-in ones, or those of the
# files given.
#
# Usage: sh docs/plot-lps-probability.sh [-p ENTROPY_TABLE] [-o OUTPUT.svg] [COUNTS_FILE ...]
# Defaults: build/tools/entropy-table/entropy-table and docs/lps-probability.svg.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
program=$here/../build/tools/entropy-table/entropy-table
output=$here/lps-probability.svg
while getopts p:o: opt; do
  case $opt in
    p) program=$OPTARG ;;
    o) output=$OPTARG ;;
    *) echo "usage: sh $0 [-p ENTROPY_TABLE] [-o OUTPUT.svg] [COUNTS_FILE ...]" >&2; exit 64 ;;
  esac
done
shift $((OPTIND - 1))
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT INT TERM
"$program" --format=csv "$@" >"$csv"
# The title names the counts; a file name goes into gnuplot's script, so
# only plain characters of it do.
if [ $# -eq 0 ]; then
  counts="built-in counts"
else
  counts=$(printf '%s ' "$@" | tr -c 'A-Za-z0-9._/ -' '?')
fi

gnuplot <<PLOT
set terminal svg size 760,480 font "Helvetica,13" background "white"
set output "$output"
set datafile separator ","
set datafile missing ""
set key bottom left box opaque
set logscale y
set ytics ("0.005" 0.005, "0.01" 0.01, "0.02" 0.02, "0.05" 0.05, "0.1" 0.1, "0.2" 0.2, "0.5" 0.5)
set xrange [-1:64]
set yrange [0.005:0.6]
set xtics 0, 8, 64
set grid xtics ytics mytics
set xlabel "probability state (pStateIdx)"
set ylabel "probability of the LPS"
set title "LPS probability per state: $counts" noenhanced
plot "$csv" every ::1 using 1:6 with lines linewidth 2 linecolor rgb "#888888" \
       title "idealised model: 0.5 α^k, α = (0.01875/0.5)^{1/63}", \
     "$csv" every ::1::63 using 1:(2**(-\$9)) with linespoints linewidth 1.5 pointtype 6 pointsize 0.6 \
       linecolor rgb "#c0392b" title "the coder's, states 0 to 62: 2^{-LPS cost}", \
     "$csv" every ::1 using 1:5 with points pointtype 7 pointsize 0.8 linecolor rgb "#1f5fa8" \
       title "observed: LPS / (LPS + MPS)"
PLOT
echo "wrote $output"
