// SPDX-License-Identifier: BSD-2-Clause
// entropy-table: the figures derived from the counts.  A symbol's share of
// its state's events is its observed probability there (or, smoothed, the
// Krichevsky-Trofimov estimate (count + 1/2) / (total + 1)), and minus its
// base-2 logarithm its cost in bits.
#include "entropy_table.h"

#include <cmath>

namespace entropy_table {

// The standard's LPS probability of state k: 0.5 * alpha^k, with alpha
// taking state 0's 0.5 to state 63's 0.01875.
double model_probability(int k)
{
    static const double alpha = std::pow(0.01875 / 0.5, 1.0 / 63);
    return 0.5 * std::pow(alpha, k);
}

// Cost in bits of a symbol of probability p (0 < p <= 1).
double bits(double p)
{
    return p >= 1.0 ? 0.0 : -std::log2(p);
}

Row derive(const Counts& counts, int k, Smoothing smoothing)
{
    Row r{counts.lps[k], counts.mps[k], counts.lps[k] + counts.mps[k], {}, {}, {}, {}};
    if (k < kModelStates) r.p_model = model_probability(k);
    if (r.total == 0) return r;
    const double add = smoothing == Smoothing::kt ? 0.5 : 0.0;
    const double lps = static_cast<double>(r.lps) + add, mps = static_cast<double>(r.mps) + add;
    const double total = static_cast<double>(r.total) + 2 * add;
    r.p_lps = lps / total;
    if (lps > 0) r.bits_lps = bits(lps / total);
    if (mps > 0) r.bits_mps = bits(mps / total);
    return r;
}

Summary summarize(const Counts& counts)
{
    Summary s;
    for (int k = 0; k < kRows; ++k) {
        const Row r = derive(counts, k, Smoothing::none);
        if (r.total == 0) continue;
        const double lps = static_cast<double>(r.lps), mps = static_cast<double>(r.mps);
        s.events += lps + mps;
        const double own = lps * r.bits_lps.value_or(0) + mps * r.bits_mps.value_or(0);
        s.observed += own;
        // State 64 has no standard probability: its events keep their own.
        s.coded += r.p_model ? lps * bits(*r.p_model) + mps * bits(1 - *r.p_model) : own;
    }
    return s;
}

}  // namespace entropy_table
