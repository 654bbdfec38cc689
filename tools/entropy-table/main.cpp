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
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>

namespace {

using namespace entropy_table;

constexpr const char* kUsage =
    "usage: entropy-table [-f text|csv] [--smoothing=none|kt] [COUNTS_FILE ...]\n"
    "       entropy-table -f c [-n IDENT] [-s N] [-l pairs|flat] [--linkage=static|extern]\n"
    "                     [--costs=engine | --costs=observed [--smoothing=none|kt] [COUNTS_FILE ...]]\n"
    "       entropy-table -h | -V\n";
constexpr const char* kOptions =
    "  -f, --format=FORMAT     text (the default), csv, or c (a C array of costs)\n"
    "      --costs=COSTS       C costs: engine (the default), what the arithmetic coder\n"
    "                          spends, or observed, -log2 of the counts' probabilities\n"
    "  -n, --name=IDENT        the C array's name (default entropy_table)\n"
    "  -s, --scale=N           C costs in 1/N bit, N from 1 to 16777216 (default 32768)\n"
    "  -l, --layout=LAYOUT     C array: pairs, [64][2] LPS then MPS (default), or\n"
    "                          flat, [128] with MPS at 2k and LPS at 2k + 1\n"
    "      --linkage=LINKAGE   C array: static (default), or extern, a definition\n"
    "                          with external linkage\n"
    "      --smoothing=METHOD  none (default), or kt: (count + 1/2) / (total + 1)\n"
    "  -h, --help              print this help\n"
    "  -V, --version           print the program's and the library's version\n"
    "A COUNTS_FILE holds \"STATE LPS MPS\" per line, or is a CSV that --format=csv\n"
    "wrote; - is standard input.  Several files, and a state given more than once,\n"
    "add up.  Without one the library's counts are used.\n";
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

// The position of `value` among `names`, or -1.
int position(const std::string& value, std::initializer_list<const char*> names)
{
    int i = 0;
    for (const char* n : names) {
        if (value == n) return i;
        ++i;
    }
    return -1;
}

bool one_of(const std::string& s, std::initializer_list<const char*> names)
{
    return position(s, names) >= 0;
}

bool ends_with(const std::string& s, const char* end)
{
    const std::size_t n = std::strlen(end);
    return s.size() >= n && s.compare(s.size() - n, n, end) == 0;
}

// Why `s` cannot name the C array, or nothing if it can: the output must
// compile as C and as C++, beside <stdint.h> and whatever the including
// unit declares of the C library.
std::string name_fault(const std::string& s)
{
    if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return "is not a C identifier";
    for (const char ch : s) {
        if (!(ch == '_' || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')))
            return "is not a C identifier";
    }
    if (s[0] == '_') return "begins with an underscore, reserved to the implementation";
    if (ends_with(s, "_t")) return "ends in _t, reserved by POSIX for types";
    if (one_of(s, {"alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break",
                   "case", "catch", "char", "class", "compl", "concept", "const", "consteval", "constexpr",
                   "constinit", "const_cast", "continue", "co_await", "co_return", "co_yield", "decltype",
                   "default", "delete", "do", "double", "dynamic_cast", "else", "enum", "explicit", "export",
                   "extern", "false", "float", "for", "friend", "goto", "if", "inline", "int", "long",
                   "mutable", "namespace", "new", "noexcept", "not", "not_eq", "nullptr", "operator", "or",
                   "or_eq", "private", "protected", "public", "register", "reinterpret_cast", "requires",
                   "restrict", "return", "short", "signed", "sizeof", "static", "static_assert",
                   "static_cast", "struct", "switch", "template", "this", "thread_local", "throw", "true",
                   "try", "typedef", "typeid", "typename", "typeof", "typeof_unqual", "union", "unsigned",
                   "using", "virtual", "void", "volatile", "while", "xor", "xor_eq"}))
        return "is a C or C++ keyword";
    const bool limit = ends_with(s, "_MAX") || ends_with(s, "_MIN") || ends_with(s, "_WIDTH");
    const bool integer = s.rfind("INT", 0) == 0 || s.rfind("UINT", 0) == 0;
    bool other = false;
    for (const char* prefix : {"PTRDIFF_", "SIG_ATOMIC_", "SIZE_", "WCHAR_", "WINT_"}) other |= s.rfind(prefix, 0) == 0;
    if ((integer && (limit || ends_with(s, "_C"))) || (other && limit)) return "is reserved for the macros of <stdint.h>";
    if (s == "main") return "is the program's entry point";
    // The C library's functions that compilers know as built-ins (in
    // <math.h> also with the suffixes f and l), and its macros.
    std::string base = s;
    if (ends_with(s, "f") || ends_with(s, "l")) base.pop_back();
    for (const std::string& name : {s, base}) {
        if (one_of(name, {"acos", "acosh", "asin", "asinh", "atan", "atan2", "atanh", "cbrt", "ceil",
                          "copysign", "cos", "cosh", "erf", "erfc", "exp", "exp2", "expm1", "fabs", "fdim",
                          "floor", "fma", "fmax", "fmin", "fmod", "frexp", "hypot", "ilogb", "ldexp",
                          "lgamma", "llrint", "llround", "log", "log10", "log1p", "log2", "logb", "lrint",
                          "lround", "modf", "nan", "nearbyint", "nextafter", "nexttoward", "pow",
                          "remainder", "remquo", "rint", "round", "scalbln", "scalbn", "sin", "sinh", "sqrt",
                          "tan", "tanh", "tgamma", "trunc", "cabs", "cacos", "carg", "ccos", "cexp", "cimag",
                          "clog", "conj", "cpow", "creal", "csin", "csqrt", "ctan"}))
            return "is a C library function that compilers treat as a built-in";
    }
    if (one_of(s, {"abort", "abs", "alloca", "bcmp", "bzero", "calloc", "exit", "ffs", "fprintf", "fputc",
                   "fputs", "free", "fscanf", "fwrite", "imaxabs", "index", "isalnum", "isalpha", "isascii",
                   "isblank", "iscntrl", "isdigit", "isgraph", "islower", "isprint", "ispunct", "isspace",
                   "isupper", "isxdigit", "labs", "llabs", "malloc", "memchr", "memcmp", "memcpy", "memmove",
                   "mempcpy", "memset", "printf", "putc", "putchar", "puts", "realloc", "rindex", "scanf",
                   "snprintf", "sprintf", "sscanf", "stpcpy", "stpncpy", "strcat", "strchr", "strcmp",
                   "strcpy", "strcspn", "strdup", "strlen", "strncat", "strncmp", "strncpy", "strndup",
                   "strnlen", "strpbrk", "strrchr", "strspn", "strstr", "toascii", "tolower", "toupper",
                   "vfprintf", "vfscanf", "vprintf", "vscanf", "vsnprintf", "vsprintf", "vsscanf"}))
        return "is a C library function that compilers treat as a built-in";
    if (one_of(s, {"assert", "errno", "offsetof", "setjmp", "stderr", "stdin", "stdout", "va_arg", "va_copy",
                   "va_end", "va_start", "EOF", "NULL"}))
        return "is a macro of the C library";
    return "";
}

// One of `names`, by its position; a usage error otherwise.
int choice(const char* option, const char* value, std::initializer_list<const char*> names)
{
    const int i = position(value, names);
    if (i < 0) usage_error(std::string("unknown ") + option + ": " + visible(value));
    return i;
}

}  // namespace

int main(int argc, char** argv)
try {
    enum { kSmoothing = 256, kCosts, kLinkage };
    static const option longs[] = {
        {"format", required_argument, nullptr, 'f'}, {"name", required_argument, nullptr, 'n'},
        {"scale", required_argument, nullptr, 's'},  {"layout", required_argument, nullptr, 'l'},
        {"smoothing", required_argument, nullptr, kSmoothing},
        {"costs", required_argument, nullptr, kCosts},
        {"linkage", required_argument, nullptr, kLinkage},
        {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0}};
    int format = 0;  // text, csv, c
    Smoothing smoothing = Smoothing::none;
    CLayout layout;
    bool shaped = false, smoothed = false;  // a C-only option, --smoothing, was given
    opterr = 0;
    for (int at = optind, opt; (opt = getopt_long(argc, argv, ":f:n:s:l:hV", longs, nullptr)) != -1; at = optind) {
        switch (opt) {
        case 'f': format = choice("format", optarg, {"text", "csv", "c"}); break;
        case 'l': layout.flat = choice("layout", optarg, {"pairs", "flat"}) == 1, shaped = true; break;
        case kCosts: layout.observed = choice("costs", optarg, {"engine", "observed"}) == 1, shaped = true; break;
        case kLinkage: layout.external = choice("linkage", optarg, {"static", "extern"}) == 1, shaped = true; break;
        case kSmoothing:
            smoothing = choice("smoothing", optarg, {"none", "kt"}) == 1 ? Smoothing::kt : Smoothing::none;
            smoothed = true;
            break;
        case 'n': {
            const std::string fault = name_fault(optarg);
            if (!fault.empty()) usage_error("name " + visible(optarg) + " " + fault);
            layout.name = optarg;
            shaped = true;
            break;
        }
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
        default: {
            // A long option names itself as typed (--help=x); a short one
            // is the character in its cluster that getopt stopped at.
            const std::string typed = at < argc ? argv[at] : "";
            if (typed.rfind("--", 0) == 0) {
                const bool valued = typed.find('=') != std::string::npos;
                usage_error((valued && optopt != 0 ? "option takes no value: " : "unknown option: ") + visible(typed));
            }
            usage_error("unknown option: " + visible(std::string("-") + static_cast<char>(optopt)));
        }
        }
    }
    const bool c = format == 2;
    if (shaped && !c) usage_error("--name, --scale, --layout, --linkage and --costs shape the C output: add --format=c");
    if (c && !layout.observed && optind < argc)
        usage_error("a counts file gives observed costs, but the C output's default is the engine's, which need "
                    "no counts: add --costs=observed");
    if (c && !layout.observed && smoothed) usage_error("--smoothing shapes observed costs: add --costs=observed");

    Counts counts;
    for (int i = optind; i < argc; ++i) add_counts(counts, argv[i]);
    if (optind == argc) counts = builtin_counts();
    emit(format == 1 ? csv_table(counts, smoothing)
         : c         ? c_table(counts, smoothing, layout)
                     : text_table(counts, smoothing));
    return EX_OK;
} catch (const std::bad_alloc&) {
    errx(EX_OSERR, "out of memory");
}
