// SPDX-License-Identifier: BSD-2-Clause
// entropy-table: reading and checking a counts file, in the program's own
// format ("STATE LPS MPS" per line, blanks between) or as the CSV that
// --format=csv writes.  Any fault ends the program with a message naming
// the file, the line and the field, before anything is printed.
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
constexpr std::uint64_t kLargestCount = UINT32_MAX;

struct Reader {
    std::string name;  // printable
    long line = 0;

    [[noreturn]] void fail(const std::string& what) const
    {
        errx(EX_DATAERR, "%s:%ld: %s", name.c_str(), line, what.c_str());
    }

    // A field's decimal value, capped just above the largest count.
    std::uint64_t number(const std::string& field, const char* what) const
    {
        if (field.empty()) fail(std::string(what) + " is empty");
        std::uint64_t value = 0;
        for (const char ch : field) {
            if (ch < '0' || ch > '9')
                fail(std::string(what) + " '" + visible(field) + "' is not a decimal number");
            if (value <= kLargestCount) value = value * 10 + static_cast<unsigned>(ch - '0');
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

Counts read_counts(const char* path)
{
    Counts counts;
    const bool from_stdin = std::strcmp(path, "-") == 0;
    counts.source = from_stdin ? "stdin" : path;
    Reader in{visible(counts.source)};
    std::FILE* f = stdin;
    if (!from_stdin) {
        f = std::fopen(path, "r");
        // A directory opens for reading on some systems and fails only at
        // the first read; it cannot be read as a file all the same.
        struct stat st {};
        if (f != nullptr && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::fclose(f);
            f = nullptr;
            errno = EISDIR;
        }
        if (f == nullptr) err(EX_NOINPUT, "%s: cannot be opened", in.name.c_str());
    }

    std::array<long, kRows> given_on{};  // line of each state's entry, 0 if none
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
        if (!any && !csv && line.compare(0, std::strlen(kCsvHeader), kCsvHeader) == 0) {
            csv = true;  // the header of our own CSV: comma-separated from here on
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
        if (lps > kLargestCount) in.fail("LPS count " + fields[1] + " does not fit in 32 bits");
        if (mps > kLargestCount) in.fail("MPS count " + fields[2] + " does not fit in 32 bits");
        if (given_on[state] != 0)
            in.fail("state " + std::to_string(state) + " given twice (first on line " +
                    std::to_string(given_on[state]) + ")");
        given_on[state] = in.line;
        counts.lps[state] = lps;
        counts.mps[state] = mps;
        any = true;
    } while (end != EOF);
    std::free(buffer);
    if (f != stdin) std::fclose(f);
    if (!any) errx(EX_DATAERR, "no counts in %s", in.name.c_str());
    return counts;
}

}  // namespace entropy_table
