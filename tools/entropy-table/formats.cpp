// SPDX-License-Identifier: BSD-2-Clause
// entropy-table: the three outputs.  The text table and the summary, the
// CSV (one line per state, the text table's columns), and a C array of
// fixed-point costs shaped for an encoder's rate table.
#include "entropy_table.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace entropy_table {

namespace {

// printf into a string; the formats here are the program's own, so
// vsnprintf cannot fail on them, and an empty string stands for failure.
[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    if (n <= 0) return "";
    std::string out(static_cast<std::size_t>(n), '\0');
    va_start(args, fmt);
    std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    va_end(args);
    return out;
}

// A figure with six decimals, or nothing if there is none.
std::string figure(const std::optional<double>& v)
{
    return v ? format("%.6f", *v) : "";
}

using Fields = std::array<std::string, 11>;
const Fields kColumns = {"state",    "lps",      "mps",             "total",           "p_lps", "p_lps_model",
                         "bits_lps", "bits_mps", "bits_lps_engine", "bits_mps_engine", "loss"};

// A line of the table: fields right-aligned in columns, or separated by
// commas.
std::string join(const Fields& fields, bool aligned)
{
    static const int widths[] = {5, 10, 10, 10, 9, 11, 9, 9, 15, 15, 9};
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
std::string state_line(const Counts& counts, int k, Smoothing smoothing, bool aligned)
{
    const Row r = derive(counts, k, smoothing);
    return join({std::to_string(k), std::to_string(r.lps), std::to_string(r.mps),
                 std::to_string(r.total), figure(r.p_lps), figure(r.p_model), figure(r.bits_lps),
                 figure(r.bits_mps), figure(r.engine_lps), figure(r.engine_mps), figure(r.loss)},
                aligned);
}

// `text` as comment lines of at most 80 columns, each begun by `lead`
// (" * " in C), broken at spaces; a word too long for a line is broken
// wherever the line ends.
std::string wrapped(const std::string& text, const std::string& lead)
{
    constexpr std::size_t kWidth = 80;
    const std::size_t room = kWidth - lead.size();
    std::string out, line;
    for (std::size_t at = 0; at < text.size();) {
        const auto space = text.find(' ', at);
        std::string word = text.substr(at, space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        while (!word.empty()) {
            if (!line.empty() && line.size() + 1 + word.size() <= room) {
                line += ' ' + word;
                word.clear();
            } else if (line.empty()) {
                // A line never ends in a backslash, which would join the
                // next line to it.
                std::size_t cut = std::min(room, word.size());
                while (cut > 1 && word[cut - 1] == '\\') --cut;
                line = word.substr(0, cut);
                word.erase(0, cut);
            } else {
                out += lead + line + '\n';
                line.clear();
            }
        }
    }
    return line.empty() ? out : out + lead + line + '\n';
}

}  // namespace

// The bytes of a file name, or any text from outside, safe to print on a
// line of its own, in a comment of C or of the text table: printable ASCII
// stays as it is, a backslash is doubled, "*/" is written "*\/" and "/*"
// "/\*", the second "?" of "??" "?\077", and any other byte (control
// bytes, newlines, DEL, bytes of 0x80 and above) becomes a backslash and
// three octal digits.  Nothing written can end or open a comment, form a
// trigraph, begin a line or carry a control byte.
std::string visible(const std::string& bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto ch = static_cast<unsigned char>(bytes[i]);
        const char before = i > 0 ? bytes[i - 1] : '\0';
        if (ch == '\\')
            out += "\\\\";
        else if ((ch == '/' && before == '*') || (ch == '*' && before == '/'))
            out += {'\\', static_cast<char>(ch)};
        else if (ch >= 0x20 && ch < 0x7f && !(ch == '?' && before == '?'))
            out += static_cast<char>(ch);
        else
            out += format("\\%03o", ch);
    }
    return out;
}

std::string sources(const Counts& counts)
{
    std::string out;
    for (const std::string& source : counts.sources) out += (out.empty() ? "" : ", ") + visible(source);
    return out.empty() ? "built-in counts" : out;
}

std::string text_table(const Counts& counts, Smoothing smoothing)
{
    std::string out = "# " + sources(counts) + "\n";
    if (smoothing == Smoothing::kt)
        out += "# smoothed: p = (count + 1/2) / (total + 1); the loss and the summary use the raw counts\n";
    out += join(kColumns, true);
    for (int k = 0; k < kRows; ++k) out += state_line(counts, k, smoothing, true);

    const Summary s = summarize(counts);
    out += format("\n%-10s %.0f\n", "events", s.events);
    if (s.events == 0) return out + "entropy    none: no events\n";
    out += format("%-10s %.6f bits/symbol with the observed probabilities\n", "entropy", s.observed / s.events);
    out += format("%-10s %.6f bits/symbol as the arithmetic coder spends them\n", "coded", s.coded / s.events);
    if (s.observed > 0)
        out += format("%-10s %+.2f %% coded over entropy\n", "overhead", (s.coded / s.observed - 1) * 100);
    out += format("%-10s %.6f bits/symbol with the idealised model 0.5 * a^k (not what the coder spends)\n",
                  "idealised", s.idealised / s.events);
    if (counts.lps[kModelStates] + counts.mps[kModelStates] != 0)
        out += "           (state 64 is none of the standard's: its own probability is used)\n";
    return out;
}

std::string csv_table(const Counts& counts, Smoothing smoothing)
{
    std::string out;
    for (std::size_t i = 0; i < kColumns.size(); ++i) out += (i ? "," : "") + kColumns[i];
    out += '\n';
    for (int k = 0; k < kRows; ++k) out += state_line(counts, k, smoothing, false);
    return out;
}

// Costs in 1/scale bit, rounded to nearest: the engine's, or -log2 of the
// observed probabilities, where a state without a finite cost of its own
// for both symbols takes the idealised model's probability.  The array
// comes with an include guard, and with external linkage, with C linkage
// from C++ too, so that it can define an encoder's `extern const` table.
std::string c_table(const Counts& counts, Smoothing smoothing, const CLayout& layout)
{
    std::vector<long> lps_cost, mps_cost;
    std::string fallback;
    long largest = 0;
    const auto fixed = [&](double bits) { return std::lround(bits * static_cast<double>(layout.scale)); };
    for (int k = 0; k < kModelStates; ++k) {
        const Row r = derive(counts, k, smoothing);
        Costs c = {*r.engine_lps, *r.engine_mps};
        if (layout.observed && r.bits_lps && r.bits_mps) {
            c = {*r.bits_lps, *r.bits_mps};
        } else if (layout.observed) {
            c = {bits(*r.p_model), bits(1 - *r.p_model)};
            fallback += format("%s%d", fallback.empty() ? "" : ", ", k);
        }
        lps_cost.push_back(fixed(c.lps));
        mps_cost.push_back(fixed(c.mps));
        largest = std::max({largest, lps_cost.back(), mps_cost.back()});
    }

    std::string text = format("Cost of coding an LPS and an MPS in each CABAC probability state, in 1/%ld bit, "
                              "rounded to nearest: ",
                              layout.scale);
    if (!layout.observed) {
        text += "the arithmetic coder's expected cost under the standard's LPS range table, the mean of "
                "log2(R / r) over the coder's range R from 256 to 510 weighted by 1/R, r being the sub-range "
                "that coding the symbol leaves. State 63 is the terminating bin's, whose LPS range is 2.";
    } else {
        text += "-log2 of the symbol's ";
        text += smoothing == Smoothing::kt ? "Krichevsky-Trofimov estimate (count + 1/2) / (total + 1),"
                                           : "observed probability,";
        text += " from " + sources(counts) + ".";
    }
    std::string out = "/*" + wrapped(text, " * ").substr(2);
    if (!fallback.empty()) {
        const bool one = fallback.find(',') == std::string::npos;
        out += wrapped(format("State%s %s lack%s events%s and take%s the idealised model's probability, "
                              "0.5 * a^k with a = (0.01875 / 0.5)^(1/63).",
                              one ? "" : "s", fallback.c_str(), one ? "s" : "",
                              smoothing == Smoothing::kt ? "" : " of one symbol or both", one ? "s" : ""),
                       " * ");
    }
    out += wrapped(layout.flat ? "Entry 2k is state k's MPS cost, entry 2k + 1 its LPS cost."
                               : "Row k is state k: its LPS cost, then its MPS cost.",
                   " * ");

    std::string guard;
    for (const char ch : layout.name) guard += static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
    guard += "_COSTS_H";
    const std::string declarator = format("const %s %s%s", largest <= UINT16_MAX ? "uint16_t" : "uint32_t",
                                          layout.name.c_str(), layout.flat ? "[128]" : "[64][2]");
    out += " */\n#ifndef " + guard + "\n#define " + guard + "\n\n#include <stdint.h>\n\n";
    if (layout.external)
        out += "#ifdef __cplusplus\nextern \"C\" {\n#endif\nextern " + declarator + ";\n" + declarator + " = {\n";
    else  // a table left unused draws no warning
        out += "#ifdef __GNUC__\n__attribute__((unused))\n#endif\nstatic " + declarator + " = {\n";
    for (int k = 0; k < kModelStates; ++k) {
        const auto i = static_cast<std::size_t>(k);
        out += layout.flat ? format("    %ld, %ld, /* %d */\n", mps_cost[i], lps_cost[i], k)
                           : format("    {%ld, %ld}, /* %d */\n", lps_cost[i], mps_cost[i], k);
    }
    out += "};\n";
    if (layout.external) out += "#ifdef __cplusplus\n}\n#endif\n";
    return out + "\n#endif\n";
}

}  // namespace entropy_table
