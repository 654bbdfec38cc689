// SPDX-License-Identifier: BSD-2-Clause
// The entropy-table program as a user runs it: the figures it derives from
// the built-in counts and from a counts file, checked against values worked
// out apart from it, and its answers to bad input.
#include "gen-entropy-table.h"
#include "run_program.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The whitespace-separated fields of the first line of `out` whose first
// field is `first`.
std::vector<std::string> row(const std::string& out, const std::string& first)
{
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::vector<std::string> fields;
        for (std::string f; in >> f;) fields.push_back(f);
        if (!fields.empty() && fields[0] == first) return fields;
    }
    return {};
}

double summary(const std::string& out, const std::string& name)
{
    const auto fields = row(out, name);
    return fields.size() > 1 ? std::stod(fields[1]) : NAN;
}

using Fields = std::vector<std::string>;

// A new folder, removed with all it holds when the test is done.
struct TempDir {
    std::string path;
    TempDir()
    {
        char name[] = "/tmp/entropy-table-test-XXXXXX";
        if (mkdtemp(name)) path = name;
    }
    ~TempDir()
    {
        if (!path.empty()) std::filesystem::remove_all(path);
    }
};

TEST(EntropyTable, BuiltInCountsMatchIndependentFigures)
{
    const ProgramRun text = run_program(ENTROPY_TABLE_PATH, {}, "");
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.err, "");
    // Worked out apart from the program, to six decimals.
    EXPECT_EQ(row(text.out, "0"), (Fields{"0", "1537234", "1602970", "3140204", "0.489533",
                                          "0.500000", "1.030521", "0.970111"}));
    EXPECT_EQ(row(text.out, "62"), (Fields{"62", "48569", "1451987", "1500556", "0.032367",
                                           "0.019753", "4.949318", "0.047469"}));
    EXPECT_EQ(row(text.out, "63"), (Fields{"63", "0", "0", "0", "0.018750"}));

    // The summary, against the same sums written another way: the entropy
    // as (sum of T log T over states - sum of c log c over counts) / N, the
    // cross-entropy with the standard's probabilities as exp(k/63 ln 0.0375)
    // / 2, natural logarithms throughout.
    double n = 0, h = 0, x = 0;
    for (int k = 0; k < 64; ++k) {
        const double lps = state_counts[k][0], mps = state_counts[k][1], t = lps + mps;
        if (t == 0) continue;
        const double q = std::exp(k / 63.0 * std::log(0.0375)) / 2;
        n += t;
        h += t * std::log(t) - lps * std::log(lps) - mps * std::log(mps);
        x -= lps * std::log(q) + mps * std::log1p(-q);
    }
    h /= n * std::log(2.0);
    x /= n * std::log(2.0);
    EXPECT_EQ(summary(text.out, "events"), 63028535);
    EXPECT_NEAR(summary(text.out, "entropy"), h, 1e-6);
    EXPECT_NEAR(summary(text.out, "cross-entropy"), x, 1e-6);
    EXPECT_NEAR(summary(text.out, "overhead"), (x / h - 1) * 100, 0.005);
    EXPECT_NEAR(h, 0.8125, 5e-5);  // the figures the project quotes
    EXPECT_NEAR(x, 0.8149, 1e-4);

    const ProgramRun csv = run_program(ENTROPY_TABLE_PATH, {"--format=csv"}, "");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("state,lps,mps,total,p_lps,p_lps_model,bits_lps,bits_mps\n"
                            "0,1537234,1602970,3140204,0.489533,0.500000,1.030521,0.970111\n", 0), 0u);
    EXPECT_NE(csv.out.find("\n63,0,0,0,,0.018750,,\n64,0,0,0,,,,\n"), std::string::npos);
    // The CSV read back as counts gives the same table.
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string csv_file = dir.path + "/t.csv";
    std::ofstream(csv_file) << csv.out;
    EXPECT_EQ(run_program(ENTROPY_TABLE_PATH, {"--format", "csv", csv_file}, "").out, csv.out);

    const ProgramRun c = run_program(ENTROPY_TABLE_PATH, {"--format=c"}, "");
    ASSERT_EQ(c.status, 0) << c.err;
    // -log2 p in 1/32768 bit: 1.030521 and 0.970111 bits for state 0; state
    // 63, without events, at the standard's 0.01875.
    EXPECT_NE(c.out.find("{33768, 31789}, /* 0 */"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("{187989, 895}, /* 63 */\n};"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("State 63 lacks events"), std::string::npos) << c.out;
}

TEST(EntropyTable, ACountsFileAgainstHandWorkedFigures)
{
    const std::string counts = "# state lps mps\n0 1 1\n\n 1\t1 3   # one LPS in four\n5 0 7";
    const ProgramRun text = run_program(ENTROPY_TABLE_PATH, {"-"}, counts);
    ASSERT_EQ(text.status, 0) << text.err;
    // Even odds cost a bit each; one LPS in four costs 2 bits and an MPS
    // log2(4/3) = 0.415037; a symbol never seen has no cost, one always
    // seen costs nothing.  States not given have no events.
    EXPECT_EQ(row(text.out, "0"), (Fields{"0", "1", "1", "2", "0.500000", "0.500000", "1.000000", "1.000000"}));
    EXPECT_EQ(row(text.out, "1"), (Fields{"1", "1", "3", "4", "0.250000", "0.474609", "2.000000", "0.415037"}));
    EXPECT_EQ(row(text.out, "2"), (Fields{"2", "0", "0", "0", "0.450507"}));
    EXPECT_EQ(row(text.out, "5"), (Fields{"5", "0", "7", "7", "0.000000", "0.385299", "0.000000"}));
    // (1 + 1 + 2 + 3 log2(4/3)) / 13 bits.
    EXPECT_EQ(summary(text.out, "events"), 13);
    EXPECT_NEAR(summary(text.out, "entropy"), 0.403470, 1e-6);

    const ProgramRun c = run_program(ENTROPY_TABLE_PATH, {"--format=c", "-"}, counts);
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_NE(c.out.find("{32768, 32768}, /* 0 */\n    {65536, 13600}, /* 1 */"), std::string::npos);
    // State 5 never saw an LPS: it takes the standard's 0.385299.
    EXPECT_NE(c.out.find("{45087, 23005}, /* 5 */"), std::string::npos) << c.out;
    // The other 62 states are named, on comment lines of at most 80 columns.
    std::string comment = c.out.substr(0, c.out.find(" */"));
    EXPECT_NE(comment.find(" * States 2, 3, 4,"), std::string::npos) << c.out;
    EXPECT_NE(comment.find(" 61, 62, 63 lack events"), std::string::npos) << c.out;
    for (std::istringstream lines(comment); std::getline(lines, comment);) EXPECT_LE(comment.size(), 80u);

    // 1/256 bit, flat: MPS then LPS, state by state.  State 0 costs a bit
    // each, state 1 log2(4/3) = 0.415037 (106.25) and 2 bits (512); state 2
    // takes the standard's 0.450507: 0.862366 (220.77) and 1.150371 (294.49).
    const ProgramRun flat = run_program(ENTROPY_TABLE_PATH, {"-fc", "--scale=256", "--layout=flat", "--name=rate", "-"}, counts);
    ASSERT_EQ(flat.status, 0) << flat.err;
    EXPECT_NE(flat.out.find("static const uint16_t rate[128] = {\n    256, 256, /* 0 */\n    106, 512, /* 1 */\n"
                            "    221, 294, /* 2 */\n"), std::string::npos) << flat.out;

    // Smoothed, state 5 has a cost for the LPS it never saw: 0.5 / 8 is
    // 4 bits, 7.5 / 8 0.093109; the summary keeps the raw counts.
    const ProgramRun kt = run_program(ENTROPY_TABLE_PATH, {"--smoothing=kt", "-"}, counts);
    EXPECT_EQ(row(kt.out, "5"), (Fields{"5", "0", "7", "7", "0.062500", "0.385299", "4.000000", "0.093109"}));
    EXPECT_NEAR(summary(kt.out, "entropy"), 0.403470, 1e-6);
}

// A file name cannot end the C output's comment and inject code.
TEST(EntropyTable, AFileNameStaysInsideTheComment)
{
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string sub = dir.path + "/x*", subsub = sub + "/;int injected=1;";
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(subsub.c_str(), 0700), 0);
    const std::string name = subsub + "/*y\n";
    std::ofstream(name) << "0 1 2\n";
    const ProgramRun c = run_program(ENTROPY_TABLE_PATH, {"--format=c", name}, "");
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.out.find("*/"), c.out.find("*/\n#include")) << c.out;
    EXPECT_NE(c.out.find("x*\\/;int injected=1;/\\*y\\012."), std::string::npos) << c.out;
}

TEST(EntropyTable, BadInputIsRefusedWhole)
{
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;  // sysexits(3)
        std::string message;
        bool pipe_input = false;
        const char* out_path = nullptr;
    };
    const std::vector<Case> cases = {
        {{"--format=xml"}, "", 64, "unknown format: xml"},
        {{"--frmat=csv"}, "", 64, "unknown option: --frmat=csv"},
        {{"a", "b"}, "", 64, "more than one counts file: b"},
        {{"/nonexistent/counts"}, "", 66, "/nonexistent/counts: cannot be opened: No such file"},
        {{"/"}, "", 66, "/: cannot be opened"},
        {{"--help"}, "", 74, "stdout: ", false, "/dev/full"},
        {{"-"}, "# only a comment\n", 65, "no counts in stdin"},
        {{"-"}, "0 1 1\n1 2\n", 65, "stdin:2: expected STATE LPS MPS, found 2 fields"},
        {{"-"}, "0 1 x\n", 65, "stdin:1: MPS count 'x' is not a decimal number"},
        {{"-"}, "0 +100 2\n", 65, "stdin:1: LPS count '+100' is not a decimal number"},
        {{"-"}, "\n# c\n65 1 1\n", 65, "stdin:3: state 65 is outside 0 to 64"},
        {{"-"}, "3 1 1\n3 2 2\n", 65, "stdin:2: state 3 given twice (first on line 1)"},
        {{"-"}, "0 4294967295 1\n1 4294967296 1\n", 65, "stdin:2: LPS count 4294967296 does not fit in 32 bits"},
        {{"-"}, "0 1 1\n" + std::string(1000, ' ') + "\n", 65, "stdin:2: line longer than 999 characters"},
        {{"-"}, std::string("0 1 1\0 9\n", 9), 65, "stdin:1: line holds a zero byte"},
        {{"-"}, std::string("0 1 1\0 2 3\n", 11), 65, "stdin:1: line holds a zero byte", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " " + testing::PrintToString(c.input.substr(0, 40)));
        const ProgramRun r = run_program(ENTROPY_TABLE_PATH, c.args, c.input, c.pipe_input, c.out_path);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "") << "nothing is printed as if whole";
        EXPECT_NE(r.err.find("entropy-table: " + c.message), std::string::npos) << r.err;
    }
}

}  // namespace
