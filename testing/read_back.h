// SPDX-License-Identifier: BSD-2-Clause
// Reading a whole stream back through simple_getline, checking the reader's
// contract call by call.  Shared by the test suite and the fuzz target.
#ifndef GEN_ENTROPY_TABLE_TESTING_READ_BACK_H
#define GEN_ENTROPY_TABLE_TESTING_READ_BACK_H

#include "gen-entropy-table.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

// Reads `f`, holding `input_size` bytes, to its end with simple_getline
// into *line.  Appends to *out what the calls yield, with a newline put back
// wherever the result says the line ended at one, so that *out reproduces
// the input.  Each line's length comes from the stream position, since
// lines may hold zero bytes; every other call is made through
// simple_getline_length, whose result must agree.  A call that ends at a
// failed read is followed, as a caller would, by clearerr and the next
// call.  Returns an empty string if every call kept the contract,
// otherwise what went wrong.
inline std::string read_back(std::FILE* f, char** line, std::size_t* capacity,
                             std::size_t input_size, std::string* out)
{
    long before = std::ftell(f);
    for (std::size_t calls = 0;; ++calls) {
        if (calls > 2 * input_size + 8) return "the reader makes no progress";
        int end = EOF;
        const ssize_t length = calls % 2 ? simple_getline_length(line, capacity, f, &end)
                                         : (end = simple_getline(line, capacity, f), -2);
        if (*line == nullptr || *capacity != GEN_ENTROPY_TABLE_LINESIZE) return "no 1000-byte buffer";
        if (end < EOF || end > 255) return "result out of range";
        const long after = std::ftell(f);
        const long stored = after - before - (end == '\n' ? 1 : 0);
        if (stored < 0 || stored > GEN_ENTROPY_TABLE_LINESIZE - 1) return "line longer than the buffer allows";
        if (length != -2 && length != stored) return "simple_getline_length misreports the length";
        if ((*line)[stored] != '\0') return "line not terminated where it ends";
        if (std::memchr(*line, '\n', static_cast<std::size_t>(stored)) != nullptr)
            return "a newline inside the line";
        out->append(*line, static_cast<std::size_t>(stored));
        if (end == '\n') *out += '\n';
        if (end == EOF) {
            if (!std::ferror(f)) return "";
            std::clearerr(f);
        } else if (end != '\n') {
            if (stored != GEN_ENTROPY_TABLE_LINESIZE - 1) return "a line was cut before the buffer was full";
            if (std::fgetc(f) != end || std::ungetc(end, f) != end)
                return "the cut character does not come next";
        }
        before = after;
    }
}

#endif
