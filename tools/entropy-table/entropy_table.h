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
#include <vector>

namespace entropy_table {

constexpr int kRows = STATE_COUNT_ROWS;  // states 0 to 64
constexpr int kModelStates = 64;         // the standard's states, 0 to 63

// Per-state counts, summed over their sources.  lps[k] + mps[k] always
// fits in 64 bits.
struct Counts {
    std::array<std::uint64_t, kRows> lps{}, mps{};
    std::vector<std::string> sources;  // as given; see visible()
};

enum class Smoothing { none, kt };

// The cost in bits of an LPS and of an MPS.
struct Costs {
    double lps, mps;
};

// One state's figures; a figure that does not exist is empty.  The
// engine's costs exist for the standard's states, the loss (bits per event
// the coder spends there beyond the entropy of the raw counts) for those
// with events.
struct Row {
    std::uint64_t lps, mps, total;
    std::optional<double> p_lps, p_model, bits_lps, bits_mps, engine_lps, engine_mps, loss;
};

// The summary, always of the raw counts.
struct Summary {
    double events = 0;
    double observed = 0;   // bits with each state's observed probability
    double coded = 0;      // bits the arithmetic coder spends on them
    double idealised = 0;  // bits with the idealised model's probabilities
};

struct CLayout {
    std::string name = "entropy_table";
    long scale = 32768;     // costs in 1/scale bit
    bool flat = false;      // [128] MPS, LPS per state instead of [64][2] LPS, MPS
    bool observed = false;  // -log2 of the observed probabilities, not the engine's costs
    bool external = false;  // external linkage instead of static
};

// counts.cpp
Counts builtin_counts();
void add_counts(Counts& counts, const char* path);  // exits with a message on bad input

// figures.cpp
double model_probability(int k);
Costs engine_costs(int k);  // for the standard's states, 0 to 63
double bits(double p);
Row derive(const Counts& counts, int k, Smoothing smoothing);
Summary summarize(const Counts& counts);

// formats.cpp
std::string visible(const std::string& bytes);
std::string sources(const Counts& counts);  // the sources' names, visible
std::string text_table(const Counts& counts, Smoothing smoothing);
std::string csv_table(const Counts& counts, Smoothing smoothing);
std::string c_table(const Counts& counts, Smoothing smoothing, const CLayout& layout);

}  // namespace entropy_table

#endif
