#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause
# Draws the observed LPS probability of every CABAC probability state
# against the standard's probability for that state, on a logarithmic
# scale, from entropy-table's CSV output (gnuplot; Debian: gnuplot-nox).
#
# Usage: sh docs/plot-lps-probability.sh [ENTROPY_TABLE [OUTPUT.svg]]
# Defaults: build/tools/entropy-table/entropy-table and docs/lps-probability.svg.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build/tools/entropy-table/entropy-table}
output=${2:-$here/lps-probability.svg}
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT INT TERM
"$program" --format=csv >"$csv"

gnuplot <<PLOT
set terminal svg size 760,460 font "Helvetica,13" background "white"
set output "$output"
set datafile separator ","
set datafile missing ""
set key bottom left box opaque
set logscale y
set ytics ("0.01" 0.01, "0.02" 0.02, "0.05" 0.05, "0.1" 0.1, "0.2" 0.2, "0.5" 0.5)
set xrange [-1:64]
set yrange [0.01:0.6]
set xtics 0, 8, 64
set grid xtics ytics mytics
set xlabel "probability state (pStateIdx)"
set ylabel "probability of the LPS"
set title "Observed LPS probability per state, built-in counts"
plot "$csv" every ::1 using 1:6 with lines linewidth 2 linecolor rgb "#888888" \
       title "the standard's: 0.5 α^k, α = (0.01875/0.5)^{1/63}", \
     "$csv" every ::1 using 1:5 with points pointtype 7 pointsize 0.8 linecolor rgb "#1f5fa8" \
       title "observed: LPS / (LPS + MPS)"
PLOT
echo "wrote $output"
