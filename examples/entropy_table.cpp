// entropy-table: the entropy table of the CABAC probability states, derived
// from per-state LPS/MPS counts, either the library's built-in state_counts
// or a counts file of the user's own.
//
//     entropy-table [--format=text|csv|c] [COUNTS_FILE]
//
// A counts file holds one state per line, "STATE LPS MPS" in decimal,
// separated by blanks; blank lines and '#' comments are ignored, "-" means
// standard input, and states not given have no events.  Everything is read
// and checked before anything is printed.  Errors go to standard error in
// the style of err(3), with exit statuses from sysexits(3).
#include <gen-entropy-table.h>

#include <err.h>
#include <sysexits.h>

#include <array>
#include <cctype>
#include <cstdarg>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kRows = STATE_COUNT_ROWS;  // states 0 to 64
constexpr int kModelStates = 64;         // the standard's states, 0 to 63
constexpr const char* kUsage = "usage: entropy-table [--format=text|csv|c] [COUNTS_FILE]\n";

enum class Format { text, csv, c };

struct Counts {
    std::array<std::uint64_t, kRows> lps{}, mps{};
    std::string source = "built-in counts";
};

[[noreturn]] void usage_error(const char* what, const char* arg)
{
    warnx("%s: %s", what, arg);
    std::fputs(kUsage, stderr);
    std::exit(EX_USAGE);
}

// The counts of a file, checked line by line.
Counts read_counts(const char* path)
{
    Counts counts;
    std::FILE* f = stdin;
    const char* name = "stdin";
    if (std::strcmp(path, "-") != 0) {
        f = std::fopen(path, "r");
        if (f == nullptr) err(EX_NOINPUT, "%s", path);
        name = path;
    }
    counts.source = name;
    std::array<long, kRows> given_on{};  // line of each state's entry, 0 if none
    char* line = nullptr;
    std::size_t size;
    int end;
    long number = 0;
    long before = std::ftell(f);
    do {
        end = simple_getline(&line, &size, f);
        if (line == nullptr) err(EX_OSERR, "simple_getline");
        if (end == EOF && std::ferror(f)) err(EX_IOERR, "%s", name);
        ++number;
        if (end != '\n' && end != EOF)
            errx(EX_DATAERR, "%s:%ld: line longer than %d characters", name, number, LINESIZE - 1);
        // Where the stream is seekable, its position tells the line's true
        // length, so that a zero byte cannot hide the rest of the line.
        const long after = before < 0 ? -1 : std::ftell(f);
        if (after >= 0 && static_cast<std::size_t>(after - before - (end == '\n')) != std::strlen(line))
            errx(EX_DATAERR, "%s:%ld: line holds a zero byte", name, number);
        before = after;

        if (char* hash = std::strchr(line, '#')) *hash = '\0';
        std::vector<std::string> fields;
        for (char* field = std::strtok(line, " \t\r\v\f"); field != nullptr;
             field = std::strtok(nullptr, " \t\r\v\f"))
            fields.emplace_back(field);
        if (fields.empty()) continue;

        std::array<std::uint64_t, 3> value{};
        bool malformed = fields.size() != 3;
        for (std::size_t i = 0; i < fields.size() && !malformed; ++i) {
            for (const char ch : fields[i]) {
                malformed |= !std::isdigit(static_cast<unsigned char>(ch));
                if (value[i] <= UINT32_MAX) value[i] = value[i] * 10 + static_cast<unsigned>(ch - '0');
            }
        }
        if (malformed) errx(EX_DATAERR, "%s:%ld: malformed line (expected STATE LPS MPS)", name, number);
        if (value[0] >= kRows)
            errx(EX_DATAERR, "%s:%ld: state %s is outside 0 to %d", name, number, fields[0].c_str(), kRows - 1);
        for (int i = 1; i <= 2; ++i) {
            if (value[i] > UINT32_MAX)
                errx(EX_DATAERR, "%s:%ld: count %s does not fit in 32 bits", name, number, fields[i].c_str());
        }
        const auto state = static_cast<std::size_t>(value[0]);
        if (given_on[state] != 0)
            errx(EX_DATAERR, "%s:%ld: state %zu given twice (first on line %ld)", name, number, state,
                 given_on[state]);
        given_on[state] = number;
        counts.lps[state] = value[1];
        counts.mps[state] = value[2];
    } while (end != EOF);
    std::free(line);
    if (f != stdin) std::fclose(f);
    return counts;
}

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

struct Row {
    std::uint64_t lps, mps, total;
    std::optional<double> p_lps, p_model, bits_lps, bits_mps;
};

Row derive(const Counts& counts, int k)
{
    Row r{counts.lps[k], counts.mps[k], counts.lps[k] + counts.mps[k], {}, {}, {}, {}};
    if (k < kModelStates) r.p_model = model_probability(k);
    if (r.total == 0) return r;
    const double total = static_cast<double>(r.total);
    r.p_lps = static_cast<double>(r.lps) / total;
    if (r.lps != 0) r.bits_lps = bits(static_cast<double>(r.lps) / total);
    if (r.mps != 0) r.bits_mps = bits(static_cast<double>(r.mps) / total);
    return r;
}

[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...)
{
    va_list args, again;
    va_start(args, fmt);
    va_copy(again, args);
    std::string out(static_cast<std::size_t>(std::vsnprintf(nullptr, 0, fmt, args)), '\0');
    va_end(args);
    std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    va_end(again);
    return out;
}

// A figure with six decimals, or nothing if there is none.
std::string figure(const std::optional<double>& v)
{
    return v ? format("%.6f", *v) : "";
}

using Fields = std::array<std::string, 8>;

// A line of the table: fields right-aligned in columns, or separated by
// commas.
std::string join(const Fields& fields, bool aligned)
{
    static const int widths[] = {5, 10, 10, 10, 9, 9, 9, 9};
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (aligned)
            line += format("%s%*s", i ? " " : "", widths[i], fields[i].c_str());
        else
            line += (i ? "," : "") + fields[i];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + '\n';
}

// State k's line: the state, its counts and its figures.
std::string state_line(const Row& r, int k, bool aligned)
{
    return join({std::to_string(k), std::to_string(r.lps), std::to_string(r.mps),
                 std::to_string(r.total), figure(r.p_lps), figure(r.p_model), figure(r.bits_lps),
                 figure(r.bits_mps)},
                aligned);
}

std::string text_table(const Counts& counts)
{
    std::string out = "# " + counts.source + "\n" +
                      join({"state", "lps", "mps", "total", "p_lps", "p_model", "bits_lps", "bits_mps"}, true);
    double events = 0, observed = 0, coded = 0;
    for (int k = 0; k < kRows; ++k) {
        const Row r = derive(counts, k);
        out += state_line(r, k, true);
        if (r.total == 0) continue;
        const double lps = static_cast<double>(r.lps), mps = static_cast<double>(r.mps);
        events += lps + mps;
        const double own = lps * r.bits_lps.value_or(0) + mps * r.bits_mps.value_or(0);
        observed += own;
        // State 64 has no standard probability: its events keep their own.
        coded += r.p_model ? lps * bits(*r.p_model) + mps * bits(1 - *r.p_model) : own;
    }
    out += format("\n%-14s %.0f\n", "events", events);
    if (events == 0) return out + "entropy        none: no events\n";
    out += format("%-14s %.6f bits/symbol with the observed probabilities\n", "entropy", observed / events);
    out += format("%-14s %.6f bits/symbol with the standard's probabilities\n", "cross-entropy",
                  coded / events);
    if (counts.lps[kModelStates] + counts.mps[kModelStates] != 0)
        out += "               (state 64 has no standard probability: its own is used)\n";
    if (observed > 0) out += format("%-14s %+.2f %%\n", "overhead", (coded / observed - 1) * 100);
    return out;
}

std::string csv_table(const Counts& counts)
{
    std::string out = "state,lps,mps,total,p_lps,p_lps_model,bits_lps,bits_mps\n";
    for (int k = 0; k < kRows; ++k) out += state_line(derive(counts, k), k, false);
    return out;
}

// Costs in 1/32768 bit, rounded to nearest, as encoders' rate tables hold
// them.  A state without events, or without one of the two symbols, has no
// finite observed cost and takes the standard's probability.
std::string c_table(const Counts& counts)
{
    std::string rows, fallback;
    for (int k = 0; k < kModelStates; ++k) {
        const Row r = derive(counts, k);
        double lps_bits, mps_bits;
        if (r.bits_lps && r.bits_mps) {
            lps_bits = *r.bits_lps;
            mps_bits = *r.bits_mps;
        } else {
            lps_bits = bits(*r.p_model);
            mps_bits = bits(1 - *r.p_model);
            fallback += format("%s%d", fallback.empty() ? "" : ", ", k);
        }
        rows += format("    {%ld, %ld}, /* %d */\n", std::lround(lps_bits * 32768), std::lround(mps_bits * 32768), k);
    }
    std::string out = format(
        "/* Cost of coding an LPS and an MPS in each CABAC probability state, in\n"
        " * 1/32768 bit, rounded to nearest: -log2 of the symbol's observed\n"
        " * probability, from %s.\n",
        counts.source.c_str());
    if (!fallback.empty()) {
        const bool one = fallback.find(',') == std::string::npos;
        out += format(" * State%s %s lack%s events of one symbol or both and take%s the\n"
                      " * standard's probability, 0.5 * a^k with a = (0.01875 / 0.5)^(1/63).\n",
                      one ? "" : "s", fallback.c_str(), one ? "s" : "", one ? "s" : "");
    }
    return out + " */\n#include <stdint.h>\n\nstatic const uint32_t entropy_table[64][2] = {\n" + rows + "};\n";
}

}  // namespace

int main(int argc, char** argv)
{
    Format fmt = Format::text;
    const char* path = nullptr;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
            std::fputs(kUsage, stdout);
            return EX_OK;
        } else if (options && std::strncmp(arg, "--format=", 9) == 0) {
            const char* name = arg + 9;
            if (std::strcmp(name, "text") == 0) fmt = Format::text;
            else if (std::strcmp(name, "csv") == 0) fmt = Format::csv;
            else if (std::strcmp(name, "c") == 0) fmt = Format::c;
            else usage_error("unknown format", name);
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            usage_error("unknown option", arg);
        } else if (path != nullptr) {
            usage_error("more than one counts file", arg);
        } else {
            path = arg;
        }
    }

    Counts counts;
    if (path != nullptr) {
        counts = read_counts(path);
    } else {
        for (int k = 0; k < kRows; ++k) {
            counts.lps[k] = state_counts[k][0];
            counts.mps[k] = state_counts[k][1];
        }
    }
    const std::string out = fmt == Format::csv ? csv_table(counts)
                            : fmt == Format::c ? c_table(counts)
                                               : text_table(counts);
    // The table goes out whole or the run fails.
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        err(EX_IOERR, "stdout");
    return EX_OK;
}
