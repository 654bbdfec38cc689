// SPDX-License-Identifier: BSD-2-Clause
// The entropy-table program as a user runs it: the figures it derives from
// the built-in counts and from a counts file, checked against values worked
// out apart from it, and its answers to bad input.
#include "gen-entropy-table.h"
#include "run_program.h"
#include "tools/entropy-table/lps_range.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
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
    EXPECT_EQ(row(text.out, "0"), (Fields{"0", "1537234", "1602970", "3140204", "0.489533", "0.500000",
                                          "1.030521", "0.970111", "1.046529", "0.962128", "0.003761"}));
    EXPECT_EQ(row(text.out, "62"), (Fields{"62", "48569", "1451987", "1500556", "0.032367", "0.019753",
                                           "4.949318", "0.047469", "5.648992", "0.029110", "0.004882"}));
    EXPECT_EQ(row(text.out, "63"), (Fields{"63", "0", "0", "0", "0.018750", "7.496475", "0.008174"}));

    // The summary, against the same sums written another way: the entropy
    // as (sum of T log T over states - sum of c log c over counts) / N, the
    // idealised model's cross-entropy with its probabilities as
    // exp(k/63 ln 0.0375) / 2, natural logarithms throughout.
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
    EXPECT_NEAR(summary(text.out, "idealised"), x, 1e-6);
    EXPECT_NEAR(h, 0.8125, 5e-5);  // the figures the project quotes
    EXPECT_NEAR(x, 0.8149, 1e-4);
    EXPECT_NEAR(summary(text.out, "coded"), 0.8159, 1e-4);
    EXPECT_NEAR(summary(text.out, "overhead"), (summary(text.out, "coded") / h - 1) * 100, 0.005);

    const ProgramRun csv = run_program(ENTROPY_TABLE_PATH, {"--format=csv"}, "");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("state,lps,mps,total,p_lps,p_lps_model,bits_lps,bits_mps,bits_lps_engine,"
                            "bits_mps_engine,loss\n0,1537234,1602970,3140204,0.489533,0.500000,1.030521,"
                            "0.970111,1.046529,0.962128,0.003761\n", 0), 0u);
    EXPECT_NE(csv.out.find("\n63,0,0,0,,0.018750,,,7.496475,0.008174,\n64,0,0,0,,,,,,,\n"), std::string::npos);
    EXPECT_EQ(row(text.out, "#"), (Fields{"#", "built-in", "counts"}));
    // The CSV read back as counts gives the same table.
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string csv_file = dir.path + "/t.csv";
    std::ofstream(csv_file) << csv.out;
    EXPECT_EQ(run_program(ENTROPY_TABLE_PATH, {"--format", "csv", csv_file}, "").out, csv.out);

    const ProgramRun c = run_program(ENTROPY_TABLE_PATH, {"--format=c", "--costs=observed"}, "");
    ASSERT_EQ(c.status, 0) << c.err;
    // -log2 p in 1/32768 bit: 1.030521 and 0.970111 bits for state 0; state
    // 63, without events, at the idealised model's 0.01875.
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
    EXPECT_EQ(row(text.out, "0"), (Fields{"0", "1", "1", "2", "0.500000", "0.500000", "1.000000", "1.000000", "1.046529",
                                          "0.962128", "0.004328"}));
    EXPECT_EQ(row(text.out, "1"), (Fields{"1", "1", "3", "4", "0.250000", "0.474609", "2.000000", "0.415037", "1.099272",
                                          "0.911314", "0.147025"}));
    EXPECT_EQ(row(text.out, "2"), (Fields{"2", "0", "0", "0", "0.450507", "1.150749", "0.866548"}));
    // The loss: what the coder spends beyond the entropy, per event.  For
    // state 1, (1.099272 + 3 * 0.911314 - 2 - 3 * 0.415037) / 4.
    EXPECT_EQ(row(text.out, "5"), (Fields{"5", "0", "7", "7", "0.000000", "0.385299", "0.000000", "1.369705",
                                          "0.708064", "0.708064"}));
    // (1 + 1 + 2 + 3 log2(4/3)) / 13 bits.
    EXPECT_EQ(summary(text.out, "events"), 13);
    EXPECT_NEAR(summary(text.out, "entropy"), 0.403470, 1e-6);

    const ProgramRun c = run_program(ENTROPY_TABLE_PATH, {"--format=c", "--costs=observed", "-"}, counts);
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_NE(c.out.find("{32768, 32768}, /* 0 */\n    {65536, 13600}, /* 1 */"), std::string::npos);
    // State 5 never saw an LPS: it takes the idealised model's 0.385299.
    EXPECT_NE(c.out.find("{45087, 23005}, /* 5 */"), std::string::npos) << c.out;
    // The other 62 states are named, on comment lines of at most 80 columns.
    std::string comment = c.out.substr(0, c.out.find(" */"));
    EXPECT_NE(comment.find(" * States 2, 3, 4,"), std::string::npos) << c.out;
    EXPECT_NE(comment.find(" 61, 62, 63 lack events"), std::string::npos) << c.out;
    for (std::istringstream lines(comment); std::getline(lines, comment);) EXPECT_LE(comment.size(), 80u);

    // 1/256 bit, flat: MPS then LPS, state by state.  State 0 costs a bit
    // each, state 1 log2(4/3) = 0.415037 (106.25) and 2 bits (512); state 2
    // takes the model's 0.450507: 0.862366 (220.77) and 1.150371 (294.49).
    // With external linkage, declared first, inside its include guard.
    const ProgramRun flat = run_program(
        ENTROPY_TABLE_PATH, {"-fc", "--scale=256", "--layout=flat", "--name=rate", "--linkage=extern", "--costs=observed", "-"},
        counts);
    ASSERT_EQ(flat.status, 0) << flat.err;
    EXPECT_NE(flat.out.find("#ifndef RATE_COSTS_H\n#define RATE_COSTS_H\n"), std::string::npos) << flat.out;
    EXPECT_NE(flat.out.find("extern const uint16_t rate[128];\nconst uint16_t rate[128] = {\n    256, 256, /* 0 */\n"
                            "    106, 512, /* 1 */\n    221, 294, /* 2 */\n"), std::string::npos) << flat.out;
    EXPECT_EQ(flat.out.find("static"), std::string::npos) << flat.out;

    // Smoothed, state 5 has a cost for the LPS it never saw: 0.5 / 8 is
    // 4 bits, 7.5 / 8 0.093109; the summary keeps the raw counts.
    const ProgramRun kt = run_program(ENTROPY_TABLE_PATH, {"--smoothing=kt", "-"}, counts);
    EXPECT_EQ(row(kt.out, "5"), (Fields{"5", "0", "7", "7", "0.062500", "0.385299", "4.000000", "0.093109", "1.369705",
                                        "0.708064", "0.708064"}));
    EXPECT_NEAR(summary(kt.out, "entropy"), 0.403470, 1e-6);

    // Sources add up, a state given twice in one too, and all are named.
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::ofstream(dir.path + "/more") << "3 2 1\n";
    const ProgramRun sum = run_program(ENTROPY_TABLE_PATH, {"-", dir.path + "/more"}, "3 1 2\n3 1 0\n");
    EXPECT_EQ(row(sum.out, "3"), (Fields{"3", "4", "3", "7", "0.571429", "0.427629", "0.807355", "1.222392",
                                         "1.219304", "0.812353", "0.059669"}));
    EXPECT_EQ(row(sum.out, "#"), (Fields{"#", "stdin,", dir.path + "/more"}));
}

// The coder's own costs: values worked out apart from the program, in
// 1/32768 bit, and an LPS dearer and an MPS cheaper with every state.
TEST(EntropyTable, EngineCostsMatchWorkedValuesAndFollowTheState)
{
    const ProgramRun c = run_program(ENTROPY_TABLE_PATH, {"-fc"}, "");
    ASSERT_EQ(c.status, 0) << c.err;
    std::vector<std::array<long, 2>> costs;  // LPS, MPS
    std::istringstream lines(c.out);
    for (std::string line; std::getline(lines, line);) {
        long lps, mps;
        int k;
        if (std::sscanf(line.c_str(), " {%ld, %ld}, /* %d */", &lps, &mps, &k) == 3 && k == static_cast<int>(costs.size()))
            costs.push_back({lps, mps});
    }
    ASSERT_EQ(costs.size(), 64u) << c.out;
    for (const auto& [k, mps, lps] : {std::array<long, 3>{0, 31527, 34293}, {30, 5245, 106618}, {62, 954, 185106},
                                      {63, 268, 245644}})
        EXPECT_EQ(costs[static_cast<std::size_t>(k)], (std::array<long, 2>{lps, mps})) << "state " << k;
    for (std::size_t k = 1; k < costs.size(); ++k) {
        EXPECT_GT(costs[k][0], costs[k - 1][0]) << "state " << k;
        EXPECT_LT(costs[k][1], costs[k - 1][1]) << "state " << k;
    }
    EXPECT_NE(c.out.find("the arithmetic coder's expected cost"), std::string::npos) << c.out;
    long sum = 0;  // the range table as the standard prints it
    for (const auto& state : entropy_table::kLpsRange) sum += state[0] + state[1] + state[2] + state[3];
    EXPECT_EQ(sum, 14514);
}

// Bins drawn from the built-in counts (the state by its share of events,
// the symbol by its observed probability) through the standard's range
// arithmetic, where each renormalising shift is one bit out: the engine's
// costs add up to those bits, the observed entropy falls short of them.
TEST(EntropyTable, EngineCostsAddUpToTheBitsTheCoderProduces)
{
    const ProgramRun text = run_program(ENTROPY_TABLE_PATH, {}, "");
    ASSERT_EQ(text.status, 0) << text.err;
    std::vector<double> events;
    std::vector<std::array<double, 4>> cost;  // observed LPS, MPS; engine LPS, MPS
    for (int k = 0; k < 63; ++k) {
        const Fields f = row(text.out, std::to_string(k));
        ASSERT_EQ(f.size(), 11u) << k;
        events.push_back(std::stod(f[3]));
        cost.push_back({std::stod(f[6]), std::stod(f[7]), std::stod(f[8]), std::stod(f[9])});
    }
    std::mt19937_64 rng(20261210);
    std::discrete_distribution<std::size_t> pick_state(events.begin(), events.end());
    unsigned range = 510;
    double produced = 0, observed = 0, engine = 0;
    for (int i = 0; i < 3000000; ++i) {
        const std::size_t k = pick_state(rng);
        const bool lps = std::bernoulli_distribution(state_counts[k][0] / events[k])(rng);
        const unsigned r = entropy_table::kLpsRange[k][(range >> 6) & 3];
        range = lps ? r : range - r;
        for (; range < 256; range <<= 1) ++produced;
        observed += cost[k][lps ? 0 : 1];
        engine += cost[k][lps ? 2 : 3];
    }
    EXPECT_NEAR(engine / produced, 1, 0.0005);
    EXPECT_NEAR(produced / observed, 1.0042, 0.001);
}

// A file name cannot end the C output's comment and inject code, form a
// trigraph, or join lines; in the text table's header neither.
TEST(EntropyTable, AFileNameStaysInsideTheComment)
{
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string sub = dir.path + "/x*", subsub = sub + "/;injected=1;??";
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(subsub.c_str(), 0700), 0);
    // Long enough that the comment breaks it where its backslash is doubled.
    const std::string pad(76 - (dir.path.size() + 34), 'a');
    const std::string name = subsub + "/*y\n\x7f" + pad + "\\";
    std::ofstream(name) << "0 1 2\n";
    const std::string escaped = "x*\\/;injected=1;?\\077/\\*y\\012\\177" + pad + "\\\\";
    const ProgramRun c = run_program(ENTROPY_TABLE_PATH, {"--format=c", "--costs=observed", name}, "");
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.out.find("*/"), c.out.find("*/\n#ifndef")) << c.out;
    EXPECT_EQ(c.out.find("??"), std::string::npos) << c.out;
    EXPECT_EQ(c.out.find("\\\n"), std::string::npos) << c.out;
    // The name whole, however the comment wraps it.
    std::string joined = c.out;
    for (std::size_t at; (at = joined.find("\n * ")) != std::string::npos;) joined.erase(at, 4);
    EXPECT_NE(joined.find(escaped), std::string::npos) << c.out;
    const ProgramRun text = run_program(ENTROPY_TABLE_PATH, {name}, "");
    EXPECT_EQ(text.out.rfind("# " + dir.path + "/" + escaped + "\n", 0), 0u) << text.out;
}

TEST(EntropyTable, BadInputIsRefusedWhole)
{
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;  // sysexits(3); 0 for a row that must be accepted
        std::string message;
        bool pipe_input = false;
        const char* out_path = nullptr;
        const char* in_path = nullptr;  // standard input, instead of `input`
    };
    const std::string c_only = "--name, --scale, --layout, --linkage and --costs shape the C output: add --format=c";
    const std::vector<Case> cases = {
        {{"--format=xml"}, "", 64, "unknown format: xml"},
        {{"--frmat=csv"}, "", 64, "unknown option: --frmat=csv"},
        {{"--help=x"}, "", 64, "option takes no value: --help=x"},
        {{"-fc", "--version=1"}, "", 64, "option takes no value: --version=1"},
        {{"a", "-"}, "0 1 1\n", 66, "a: cannot be opened: No such file"},
        {{"/nonexistent/counts"}, "", 66, "/nonexistent/counts: cannot be opened: No such file"},
        {{"/"}, "", 66, "/: cannot be opened"},
        {{"-"}, "", 66, "stdin: cannot be opened: Is a directory", false, nullptr, "/"},
        {{"/proc/self/mem"}, "", 74, "/proc/self/mem: Input/output error"},  // skipped where it does not exist
        {{"--help"}, "", 74, "stdout: ", false, "/dev/full"},
        {{"-"}, "# only a comment\n", 65, "no counts in stdin"},
        {{"-"}, "0 1 1\n1 2\n", 65, "stdin:2: expected STATE LPS MPS, found 2 fields"},
        {{"-"}, "0 1 x\n", 65, "stdin:1: MPS count 'x' is not a decimal number"},
        {{"-"}, "0 +100 2\n", 65, "stdin:1: LPS count '+100' is not a decimal number"},
        {{"-"}, "\n# c\n65 1 1\n", 65, "stdin:3: state 65 is outside 0 to 64"},
        {{"-"}, "0 18446744073709551615 0\n1 18446744073709551616 1\n", 65,
         "stdin:2: LPS count 18446744073709551616 does not fit in 64 bits"},
        {{"-"}, "7 18446744073709551615 0\n7 1 0\n", 65, "stdin:2: the counts of state 7 add up to more than 64"},
        {{"-"}, "7 9223372036854775808 9223372036854775808\n", 65, "stdin:1: the counts of state 7 add up to more"},
        {{"-"}, "# dump\nState,LPS,MPS\n0,1,2\n", 65, "stdin:2: a CSV must begin with the header state,lps,mps"},
        {{"-"}, "0 1 1\n" + std::string(1000, ' ') + "\n", 65, "stdin:2: line longer than 999 characters"},
        {{"-"}, std::string("0 1 1\0 9\n", 9), 65, "stdin:1: line holds a zero byte"},
        {{"-"}, std::string("0 1 1\0 2 3\n", 11), 65, "stdin:1: line holds a zero byte", true},
        // The C output: counts are never silently ignored, its options need
        // it, and its name must compile as C and as C++.
        {{"-fc", "-"}, "0 1 1\n", 64, "a counts file gives observed costs"},
        {{"-fc", "--smoothing=kt"}, "", 64, "--smoothing shapes observed costs"},
        {{"-n", "rate"}, "", 64, c_only},
        {{"-fcsv", "-s", "256"}, "", 64, c_only},
        {{"-l", "flat"}, "", 64, c_only},
        {{"--costs=observed"}, "", 64, c_only},
        {{"--linkage=extern"}, "", 64, c_only},
        {{"-fc", "-s", "16777216"}, "", 0, ""},
        {{"-fc", "-s", "16777217"}, "", 64, "scale must be a whole number from 1 to 16777216: 16777217"},
        {{"-fc", "-n", "9lives"}, "", 64, "name 9lives is not a C identifier"},
        {{"-fc", "-n", "class"}, "", 64, "name class is a C or C++ keyword"},
        {{"-fc", "-n", "int32_t"}, "", 64, "name int32_t ends in _t"},
        {{"-fc", "-n", "_rate"}, "", 64, "name _rate begins with an underscore"},
        {{"-fc", "-n", "UINT32_C"}, "", 64, "name UINT32_C is reserved for the macros of <stdint.h>"},
        {{"-fc", "-n", "SIZE_MAX"}, "", 64, "name SIZE_MAX is reserved for the macros of <stdint.h>"},
        {{"-fc", "-n", "expf"}, "", 64, "name expf is a C library function that compilers treat as a built-in"},
        {{"-fc", "-n", "printf"}, "", 64, "name printf is a C library function"},
        {{"-fc", "-n", "main"}, "", 64, "name main is the program's entry point"},
        {{"-fc", "-n", "errno"}, "", 64, "name errno is a macro of the C library"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " " + testing::PrintToString(c.input.substr(0, 40)));
        if (c.args[0] == "/proc/self/mem" && access(c.args[0].c_str(), R_OK) != 0) continue;
        ProgramRun r;
        if (c.in_path) {
            const int fd = open(c.in_path, O_RDONLY);
            r = run_program(ENTROPY_TABLE_PATH, c.args, fd);
            close(fd);
        } else {
            r = run_program(ENTROPY_TABLE_PATH, c.args, c.input, c.pipe_input, c.out_path);
        }
        EXPECT_EQ(r.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(r.err, "");
            continue;
        }
        EXPECT_EQ(r.out, "") << "nothing is printed as if whole";
        EXPECT_NE(r.err.find("entropy-table: " + c.message), std::string::npos) << r.err;
    }
}

}  // namespace
