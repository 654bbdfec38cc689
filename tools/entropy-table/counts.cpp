// SPDX-License-Identifier: BSD-2-Clause
// entropy-table: reading and checking counts files, in the program's own
// format ("STATE LPS MPS" per line, blanks between) or as the CSV that
// --format=csv writes, and summing them: a state given more than once, in
// one file or in several, adds up its counts.  Any fault ends the program
// with a message naming the file, the line and the field, before anything
// is printed.
#include "entropy_table.h"

#include <err.h>
#include <sys/stat.h>
#include <sysexits.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace entropy_table {

Counts builtin_counts()
{
    Counts counts;
    for (int k = 0; k < kRows; ++k) {
        counts.lps[k] = state_counts[k][0];
        counts.mps[k] = state_counts[k][1];
    }
    return counts;
}

namespace {

constexpr const char* kBlanks = " \t\r\v\f";
constexpr const char* kCsvHeader = "state,lps,mps";

struct Reader {
    std::string name;  // printable
    long line = 0;

    [[noreturn]] void fail(const std::string& what) const
    {
        errx(EX_DATAERR, "%s:%ld: %s", name.c_str(), line, what.c_str());
    }

    // A field's decimal value, which must fit in 64 bits.
    std::uint64_t number(const std::string& field, const char* what) const
    {
        if (field.empty()) fail(std::string(what) + " is empty");
        std::uint64_t value = 0;
        for (const char ch : field) {
            if (ch < '0' || ch > '9')
                fail(std::string(what) + " '" + visible(field) + "' is not a decimal number");
            const auto digit = static_cast<unsigned>(ch - '0');
            if (value > (UINT64_MAX - digit) / 10) fail(std::string(what) + " " + field + " does not fit in 64 bits");
            value = value * 10 + digit;
        }
        return value;
    }
};

std::string trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// The fields of a line: separated by blanks, or by commas in CSV.
std::vector<std::string> fields_of(const std::string& line, bool csv)
{
    std::vector<std::string> fields;
    if (csv) {
        for (std::size_t at = 0;;) {
            const auto comma = line.find(',', at);
            fields.push_back(trimmed(line.substr(at, comma - at)));
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
        return fields;
    }
    for (std::size_t at = line.find_first_not_of(kBlanks); at != std::string::npos;
         at = line.find_first_not_of(kBlanks, at)) {
        const auto end = line.find_first_of(kBlanks, at);
        fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

}  // namespace

void add_counts(Counts& counts, const char* path)
{
    const bool from_stdin = std::strcmp(path, "-") == 0;
    counts.sources.emplace_back(from_stdin ? "stdin" : path);
    Reader in{visible(counts.sources.back())};
    std::FILE* f = from_stdin ? stdin : std::fopen(path, "r");
    // A directory opens for reading on some systems and fails only at the
    // first read; it cannot be read as a file all the same.
    struct stat st {};
    if (f != nullptr && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (f != stdin) std::fclose(f);
        f = nullptr;
        errno = EISDIR;
    }
    if (f == nullptr) err(EX_NOINPUT, "%s: cannot be opened", in.name.c_str());

    bool csv = false, any = false;
    char* buffer = nullptr;
    std::size_t size;
    int end;
    do {
        const ssize_t n = simple_getline_length(&buffer, &size, f, &end);
        if (n < 0) err(EX_OSERR, "simple_getline_length");
        if (end == EOF && std::ferror(f)) err(EX_IOERR, "%s", in.name.c_str());
        ++in.line;
        if (end != '\n' && end != EOF) in.fail("line longer than " + std::to_string(GEN_ENTROPY_TABLE_LINESIZE - 1) + " characters");
        std::string line(buffer, static_cast<std::size_t>(n));
        if (line.find('\0') != std::string::npos) in.fail("line holds a zero byte");
        line = line.substr(0, line.find('#'));
        if (trimmed(line).empty()) continue;
        if (!any && !csv && line.find(',') != std::string::npos) {
            // The header of our own CSV: comma-separated from here on.
            if (line.compare(0, std::strlen(kCsvHeader), kCsvHeader) != 0)
                in.fail(std::string("a CSV must begin with the header ") + kCsvHeader + ", not '" +
                        visible(trimmed(line).substr(0, 40)) + "'");
            csv = true;
            continue;
        }

        const std::vector<std::string> fields = fields_of(line, csv);
        if (csv ? fields.size() < 3 : fields.size() != 3)
            in.fail(std::string(csv ? "expected STATE,LPS,MPS" : "expected STATE LPS MPS") + ", found " +
                    std::to_string(fields.size()) + (fields.size() == 1 ? " field" : " fields"));
        const std::uint64_t state = in.number(fields[0], "state");
        const std::uint64_t lps = in.number(fields[1], "LPS count");
        const std::uint64_t mps = in.number(fields[2], "MPS count");
        if (state >= kRows) in.fail("state " + visible(fields[0]) + " is outside 0 to " + std::to_string(kRows - 1));
        // The sums, and the state's total, must fit in 64 bits.
        std::uint64_t& lps_sum = counts.lps[state];
        std::uint64_t& mps_sum = counts.mps[state];
        if (lps > UINT64_MAX - lps_sum || mps > UINT64_MAX - mps_sum ||
            lps_sum + lps > UINT64_MAX - (mps_sum + mps))
            in.fail("the counts of state " + std::to_string(state) + " add up to more than 64 bits hold");
        lps_sum += lps;
        mps_sum += mps;
        any = true;
    } while (end != EOF);
    std::free(buffer);
    if (f != stdin) std::fclose(f);
    if (!any) errx(EX_DATAERR, "no counts in %s", in.name.c_str());
}

}  // namespace entropy_table
