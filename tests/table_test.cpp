// SPDX-License-Identifier: BSD-2-Clause
// The per-state count table: layout, anchor rows, invariants and a
// fingerprint of every value.
#include "gen-entropy-table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

constexpr std::size_t kRows = 65;

TEST(StateCounts, IsSixtyFiveRowsOfTwo32BitCountsWithoutGaps)
{
    static_assert(std::extent_v<decltype(state_counts), 0> == kRows);
    static_assert(std::extent_v<decltype(state_counts), 1> == 2);
    static_assert(sizeof state_counts[0][0] == 4);
    EXPECT_EQ(sizeof state_counts, 520u);
    // Row after row, first count then second: flat index 2k is row k's LPS.
    const auto* flat = &state_counts[0][0];
    for (std::size_t k = 0; k < kRows; ++k) {
        EXPECT_EQ(&state_counts[k][0], flat + 2 * k);
        EXPECT_EQ(&state_counts[k][1], flat + 2 * k + 1);
    }
}

TEST(StateCounts, AnchorRows)
{
    struct Row {
        std::size_t k;
        std::uint32_t lps, mps;
    };
    for (const Row& r : {Row{0, 1537234, 1602970}, Row{2, 1822246, 2245961},
                         Row{62, 48569, 1451987}, Row{63, 0, 0}, Row{64, 0, 0}}) {
        SCOPED_TRACE(r.k);
        EXPECT_EQ(state_counts[r.k][0], r.lps);
        EXPECT_EQ(state_counts[r.k][1], r.mps);
    }
}

TEST(StateCounts, EveryRowKeepsTheInvariants)
{
    std::uint32_t largest = 0;
    for (std::size_t k = 0; k < kRows; ++k) {
        SCOPED_TRACE(k);
        const std::uint32_t lps = state_counts[k][0], mps = state_counts[k][1];
        if (k <= 62) {
            EXPECT_LT(lps, mps) << "the LPS must be the less frequent symbol";
        }
        EXPECT_LT(lps, 1u << 31);
        EXPECT_LT(mps, 1u << 31);
        largest = std::max({largest, lps, mps});
    }
    EXPECT_EQ(largest, 2245961u);
    EXPECT_EQ(largest, state_counts[2][1]);
}

// Sums, plain and weighted by row index, over the published values: a
// mistyped, swapped or shifted value anywhere changes at least one of them.
TEST(StateCounts, MatchesThePublishedValues)
{
    std::uint64_t lps = 0, mps = 0, lps_weighted = 0, mps_weighted = 0;
    for (std::size_t k = 0; k < kRows; ++k) {
        lps += state_counts[k][0];
        mps += state_counts[k][1];
        lps_weighted += k * state_counts[k][0];
        mps_weighted += k * state_counts[k][1];
    }
    EXPECT_EQ(lps, 18365090u);
    EXPECT_EQ(mps, 44663445u);
    EXPECT_EQ(lps_weighted, 170358787u);
    EXPECT_EQ(mps_weighted, 762624563u);
}

}  // namespace
