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

using Fields = std::array<std::string, 8>;
const Fields kColumns = {"state", "lps", "mps", "total", "p_lps", "p_lps_model", "bits_lps", "bits_mps"};

// A line of the table: fields right-aligned in columns, or separated by
// commas.
std::string join(const Fields& fields, bool aligned)
{
    static const int widths[] = {5, 10, 10, 10, 9, 11, 9, 9};
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
                 figure(r.bits_mps)},
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
                line = word.substr(0, room);
                word.erase(0, room);
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
// "/\*", and any other byte (control bytes, newlines, bytes of 0x80 and
// above) becomes a backslash and three octal digits.  Nothing written can
// end or open a comment, begin a line or carry a control byte.
std::string visible(const std::string& bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto ch = static_cast<unsigned char>(bytes[i]);
        if (ch == '\\')
            out += "\\\\";
        else if ((ch == '/' && i > 0 && bytes[i - 1] == '*') || (ch == '*' && i > 0 && bytes[i - 1] == '/'))
            out += {'\\', static_cast<char>(ch)};
        else if (ch >= 0x20 && ch < 0x7f)
            out += static_cast<char>(ch);
        else
            out += format("\\%03o", ch);
    }
    return out;
}

std::string text_table(const Counts& counts, Smoothing smoothing)
{
    std::string out = "# " + visible(counts.source) + "\n";
    if (smoothing == Smoothing::kt)
        out += "# smoothed: p = (count + 1/2) / (total + 1); the summary uses the raw counts\n";
    out += join(kColumns, true);
    for (int k = 0; k < kRows; ++k) out += state_line(counts, k, smoothing, true);

    const Summary s = summarize(counts);
    out += format("\n%-14s %.0f\n", "events", s.events);
    if (s.events == 0) return out + "entropy        none: no events\n";
    out += format("%-14s %.6f bits/symbol with the observed probabilities\n", "entropy",
                  s.observed / s.events);
    out += format("%-14s %.6f bits/symbol with the standard's probabilities\n", "cross-entropy",
                  s.coded / s.events);
    if (counts.lps[kModelStates] + counts.mps[kModelStates] != 0)
        out += "               (state 64 has no standard probability: its own is used)\n";
    if (s.observed > 0) out += format("%-14s %+.2f %%\n", "overhead", (s.coded / s.observed - 1) * 100);
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

// Costs in 1/scale bit, rounded to nearest.  A state without a finite cost
// of its own for both symbols takes the standard's probability.
std::string c_table(const Counts& counts, Smoothing smoothing, const CLayout& layout)
{
    std::vector<long> lps_cost, mps_cost;
    std::string fallback;
    long largest = 0;
    for (int k = 0; k < kModelStates; ++k) {
        const Row r = derive(counts, k, smoothing);
        const bool own = r.bits_lps && r.bits_mps;
        if (!own) fallback += format("%s%d", fallback.empty() ? "" : ", ", k);
        lps_cost.push_back(std::lround((own ? *r.bits_lps : bits(*r.p_model)) * static_cast<double>(layout.scale)));
        mps_cost.push_back(std::lround((own ? *r.bits_mps : bits(1 - *r.p_model)) * static_cast<double>(layout.scale)));
        largest = std::max({largest, lps_cost.back(), mps_cost.back()});
    }

    std::string text = format("Cost of coding an LPS and an MPS in each CABAC probability state, in 1/%ld bit, "
                              "rounded to nearest: -log2 of the symbol's ",
                              layout.scale);
    text += smoothing == Smoothing::kt
                ? "Krichevsky-Trofimov estimate (count + 1/2) / (total + 1),"
                : "observed probability,";
    text += " from " + visible(counts.source) + ".";
    std::string out = "/*" + wrapped(text, " * ").substr(2);
    if (!fallback.empty()) {
        const bool one = fallback.find(',') == std::string::npos;
        out += wrapped(format("State%s %s lack%s events%s and take%s the standard's probability, "
                              "0.5 * a^k with a = (0.01875 / 0.5)^(1/63).",
                              one ? "" : "s", fallback.c_str(), one ? "s" : "",
                              smoothing == Smoothing::kt ? "" : " of one symbol or both", one ? "s" : ""),
                       " * ");
    }
    out += wrapped(layout.flat ? "Entry 2k is state k's MPS cost, entry 2k + 1 its LPS cost."
                               : "Row k is state k: its LPS cost, then its MPS cost.",
                   " * ");
    const char* type = largest <= UINT16_MAX ? "uint16_t" : "uint32_t";
    out += " */\n#include <stdint.h>\n\n";
    out += format("static const %s %s%s = {\n", type, layout.name.c_str(), layout.flat ? "[128]" : "[64][2]");
    for (int k = 0; k < kModelStates; ++k) {
        const auto i = static_cast<std::size_t>(k);
        out += layout.flat ? format("    %ld, %ld, /* %d */\n", mps_cost[i], lps_cost[i], k)
                           : format("    {%ld, %ld}, /* %d */\n", lps_cost[i], mps_cost[i], k);
    }
    return out + "};\n";
}

}  // namespace entropy_table
