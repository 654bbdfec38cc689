// SPDX-License-Identifier: BSD-2-Clause
// entropy-table: what its parts share.  counts.cpp reads the counts,
// figures.cpp derives probabilities, costs and the summary from them,
// formats.cpp writes the text, CSV and C tables, and main.cpp takes the
// options and writes the result.
#ifndef ENTROPY_TABLE_H
#define ENTROPY_TABLE_H

#include <gen-entropy-table.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace entropy_table {

constexpr int kRows = STATE_COUNT_ROWS;  // states 0 to 64
constexpr int kModelStates = 64;         // the standard's states, 0 to 63

struct Counts {
    std::array<std::uint64_t, kRows> lps{}, mps{};
    std::string source = "built-in counts";  // as given; see visible()
};

enum class Smoothing { none, kt };

// One state's figures; a figure that does not exist is empty.
struct Row {
    std::uint64_t lps, mps, total;
    std::optional<double> p_lps, p_model, bits_lps, bits_mps;
};

// The summary, always of the raw counts.
struct Summary {
    double events = 0;
    double observed = 0;  // bits with each state's observed probability
    double coded = 0;     // bits with the standard's probabilities
};

struct CLayout {
    std::string name = "entropy_table";
    long scale = 32768;  // costs in 1/scale bit
    bool flat = false;   // [128] MPS, LPS per state instead of [64][2] LPS, MPS
};

// counts.cpp
Counts builtin_counts();
Counts read_counts(const char* path);  // exits with a message on bad input

// figures.cpp
double model_probability(int k);
double bits(double p);
Row derive(const Counts& counts, int k, Smoothing smoothing);
Summary summarize(const Counts& counts);

// formats.cpp
std::string visible(const std::string& bytes);
std::string text_table(const Counts& counts, Smoothing smoothing);
std::string csv_table(const Counts& counts, Smoothing smoothing);
std::string c_table(const Counts& counts, Smoothing smoothing, const CLayout& layout);

}  // namespace entropy_table

#endif
