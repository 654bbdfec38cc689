// SPDX-License-Identifier: BSD-2-Clause
// entropy-table: the entropy table of the CABAC probability states, derived
// from per-state LPS/MPS counts, either the library's built-in state_counts
// or a counts file of the user's own.  This file takes the options and
// writes the result; see entropy_table.h for the other parts.
//
// Everything is read and checked before anything is printed, and every
// write is checked.  Errors go to standard error in the style of err(3),
// with exit statuses from sysexits(3).
#include "entropy_table.h"

#include <err.h>
#include <getopt.h>
#include <sysexits.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <cstring>
#include <string>

namespace {

using namespace entropy_table;

constexpr const char* kUsage =
    "usage: entropy-table [-f text|csv|c] [-n IDENT] [-s N] [-l pairs|flat]\n"
    "                     [--smoothing=none|kt] [COUNTS_FILE]\n"
    "       entropy-table -h | -V\n";
constexpr const char* kOptions =
    "  -f, --format=FORMAT     text (the default), csv, or c (a C array of costs)\n"
    "  -n, --name=IDENT        the C array's name (default entropy_table)\n"
    "  -s, --scale=N           C costs in 1/N bit, N from 1 to 16777216 (default 32768)\n"
    "  -l, --layout=LAYOUT     C array: pairs, [64][2] LPS then MPS (default), or\n"
    "                          flat, [128] with MPS at 2k and LPS at 2k + 1\n"
    "      --smoothing=METHOD  none (default), or kt: (count + 1/2) / (total + 1)\n"
    "  -h, --help              print this help\n"
    "  -V, --version           print the program's and the library's version\n"
    "COUNTS_FILE holds \"STATE LPS MPS\" per line, or is a CSV that --format=csv\n"
    "wrote; - is standard input.  Without it the library's counts are used.\n";
constexpr long kLargestScale = 1L << 24;

// Writes `text` to standard output whole, or ends the run.
void emit(const std::string& text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        err(EX_IOERR, "stdout");
}

[[noreturn]] void usage_error(const std::string& what)
{
    warnx("%s", what.c_str());
    std::fputs(kUsage, stderr);
    std::exit(EX_USAGE);
}

bool is_c_identifier(const std::string& s)
{
    static const char* const keywords[] = {
        "auto", "break", "case", "char", "const", "continue", "default", "do", "double", "else",
        "enum", "extern", "float", "for", "goto", "if", "inline", "int", "long", "register",
        "restrict", "return", "short", "signed", "sizeof", "static", "struct", "switch",
        "typedef", "union", "unsigned", "void", "volatile", "while", "alignas", "alignof", "bool",
        "constexpr", "false", "nullptr", "static_assert", "thread_local", "true", "typeof",
        "typeof_unqual"};
    if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
    for (const char ch : s) {
        if (!(ch == '_' || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')))
            return false;
    }
    if (s[0] == '_') return false;  // reserved to the implementation when it begins a file-scope name
    for (const char* k : keywords) {
        if (s == k) return false;
    }
    return true;
}

// One of `names`, by its position; a usage error otherwise.
int choice(const char* option, const char* value, std::initializer_list<const char*> names)
{
    int i = 0;
    for (const char* n : names) {
        if (std::strcmp(value, n) == 0) return i;
        ++i;
    }
    usage_error(std::string("unknown ") + option + ": " + visible(value));
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kSmoothing = 256 };
    static const option longs[] = {
        {"format", required_argument, nullptr, 'f'}, {"name", required_argument, nullptr, 'n'},
        {"scale", required_argument, nullptr, 's'},  {"layout", required_argument, nullptr, 'l'},
        {"smoothing", required_argument, nullptr, kSmoothing},
        {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0}};
    int format = 0;  // text, csv, c
    Smoothing smoothing = Smoothing::none;
    CLayout layout;
    bool shaped = false;  // a C-only option was given
    opterr = 0;
    for (int opt; (opt = getopt_long(argc, argv, ":f:n:s:l:hV", longs, nullptr)) != -1;) {
        switch (opt) {
        case 'f': format = choice("format", optarg, {"text", "csv", "c"}); break;
        case 'l': layout.flat = choice("layout", optarg, {"pairs", "flat"}) == 1, shaped = true; break;
        case kSmoothing:
            smoothing = choice("smoothing", optarg, {"none", "kt"}) == 1 ? Smoothing::kt : Smoothing::none;
            break;
        case 'n':
            if (!is_c_identifier(optarg)) usage_error("not a C identifier: " + visible(optarg));
            layout.name = optarg;
            shaped = true;
            break;
        case 's': {
            char* end = nullptr;
            errno = 0;
            const long scale = std::strtol(optarg, &end, 10);
            if (optarg[0] < '0' || optarg[0] > '9' || *end != '\0' || errno != 0 || scale < 1 || scale > kLargestScale)
                usage_error("scale must be a whole number from 1 to " + std::to_string(kLargestScale) + ": " +
                            visible(optarg));
            layout.scale = scale;
            shaped = true;
            break;
        }
        case 'h': emit(std::string(kUsage) + kOptions); return EX_OK;
        case 'V': emit("entropy-table (gen-entropy-table) " GEN_ENTROPY_TABLE_VERSION "\n"); return EX_OK;
        case ':': usage_error("option needs a value: " + visible(argv[optind - 1]));
        default:
            usage_error("unknown option: " +
                        visible(optopt != 0 ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1]));
        }
    }
    if (argc - optind > 1) usage_error("more than one counts file: " + visible(argv[optind + 1]));
    if (shaped && format != 2) usage_error("--name, --scale and --layout shape the C output: add --format=c");

    const Counts counts = optind < argc ? read_counts(argv[optind]) : builtin_counts();
    emit(format == 1 ? csv_table(counts, smoothing)
         : format == 2 ? c_table(counts, smoothing, layout)
                       : text_table(counts, smoothing));
    return EX_OK;
}
