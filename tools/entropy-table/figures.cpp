// SPDX-License-Identifier: BSD-2-Clause
// entropy-table: the figures derived from the counts.  A symbol's share of
// its state's events is its observed probability there (or, smoothed, the
// Krichevsky-Trofimov estimate (count + 1/2) / (total + 1)), and minus its
// base-2 logarithm its cost in bits.  What the arithmetic coder spends
// instead follows from the standard's LPS range table alone.
#include "entropy_table.h"
#include "lps_range.h"

#include <cmath>

namespace entropy_table {

// The idealised model's LPS probability of state k: 0.5 * alpha^k, with
// alpha taking state 0's 0.5 to state 63's 0.01875.
double model_probability(int k)
{
    static const double alpha = std::pow(0.01875 / 0.5, 1.0 / 63);
    return 0.5 * std::pow(alpha, k);
}

// What coding a symbol in state k costs the coder: log2(R / r), r being the
// sub-range the symbol leaves of the range R, averaged over R from 256 to
// 510 weighted by 1/R, as the range register's values are close to
// log-uniformly distributed.
Costs engine_costs(int k)
{
    double weight = 0, lps = 0, mps = 0;
    for (int range = 256; range <= 510; ++range) {
        const double w = 1.0 / range, r = kLpsRange[k][(range >> 6) & 3];
        weight += w;
        lps += w * std::log2(range / r);
        mps += w * std::log2(range / (range - r));
    }
    return {lps / weight, mps / weight};
}

// Cost in bits of a symbol of probability p (0 < p <= 1).
double bits(double p)
{
    return p >= 1.0 ? 0.0 : -std::log2(p);
}

Row derive(const Counts& counts, int k, Smoothing smoothing)
{
    Row r{counts.lps[k], counts.mps[k], counts.lps[k] + counts.mps[k], {}, {}, {}, {}, {}, {}, {}};
    if (k < kModelStates) {
        const Costs engine = engine_costs(k);
        r.p_model = model_probability(k);
        r.engine_lps = engine.lps;
        r.engine_mps = engine.mps;
    }
    if (r.total == 0) return r;
    const double raw_lps = static_cast<double>(r.lps), raw_mps = static_cast<double>(r.mps);
    const double raw_total = raw_lps + raw_mps;
    if (r.engine_lps) {
        // The entropy of the raw counts: the cost of a symbol never seen
        // does not count.
        const double entropy = (r.lps ? raw_lps * bits(raw_lps / raw_total) : 0) +
                               (r.mps ? raw_mps * bits(raw_mps / raw_total) : 0);
        r.loss = (raw_lps * *r.engine_lps + raw_mps * *r.engine_mps - entropy) / raw_total;
    }
    const double add = smoothing == Smoothing::kt ? 0.5 : 0.0;
    const double lps = raw_lps + add, mps = raw_mps + add, total = raw_total + 2 * add;
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
        // State 64 is none of the standard's: its events keep their own cost.
        s.coded += r.engine_lps ? lps * *r.engine_lps + mps * *r.engine_mps : own;
        s.idealised += r.p_model ? lps * bits(*r.p_model) + mps * bits(1 - *r.p_model) : own;
    }
    return s;
}

}  // namespace entropy_table
