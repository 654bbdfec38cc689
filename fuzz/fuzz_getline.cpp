// libFuzzer target: arbitrary bytes through simple_getline from an
// in-memory stream.  What the calls yield, with each newline put back where
// the result says the line ended at one, must equal the input; no line may
// exceed 999 characters, and only a full buffer may cut a line.
#include "gen-entropy-table.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_getline: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;  // fmemopen needs a non-empty buffer
    std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    check(f != nullptr, "fmemopen failed");

    std::string out;
    char* line = nullptr;
    std::size_t capacity = 0;
    long before = 0;
    for (std::size_t calls = 0;; ++calls) {
        check(calls <= size + 1, "the reader makes no progress");
        const int end = simple_getline(&line, &capacity, f);
        check(line != nullptr && capacity == LINESIZE, "no 1000-byte buffer");
        const long after = std::ftell(f);
        const long stored = after - before - (end == '\n' ? 1 : 0);
        check(stored >= 0 && stored <= LINESIZE - 1, "line longer than the buffer allows");
        check(line[stored] == '\0', "line not terminated where it ends");
        check(end == EOF || end == '\n' || stored == LINESIZE - 1,
              "a line was cut before the buffer was full");
        check(end >= EOF && end <= 255, "result out of range");
        out.append(line, static_cast<std::size_t>(stored));
        if (end == '\n') out += '\n';
        if (end == EOF) break;
        before = after;
    }
    check(out.size() == size && std::memcmp(out.data(), data, size) == 0,
          "the lines do not reproduce the input");
    std::free(line);
    std::fclose(f);
    return 0;
}
