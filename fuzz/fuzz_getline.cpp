// libFuzzer target: arbitrary bytes through simple_getline from an
// in-memory stream.  Every call must keep the reader's contract (see
// read_back), and what the calls yield must reproduce the input.
#include "gen-entropy-table.h"
#include "read_back.h"

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
    const std::string failure = read_back(f, &line, &capacity, size, &out);
    check(failure.empty(), failure.c_str());
    check(out.size() == size && std::memcmp(out.data(), data, size) == 0,
          "the lines do not reproduce the input");
    std::free(line);
    std::fclose(f);
    return 0;
}
