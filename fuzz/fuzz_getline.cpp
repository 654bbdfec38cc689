// SPDX-License-Identifier: BSD-2-Clause
// libFuzzer target: arbitrary bytes through simple_getline, from an
// in-memory stream and from a stream whose reads return a few bytes at a
// time and now and then fail with EAGAIN.  Every call must keep the
// reader's contract (see read_back), and what the calls yield must
// reproduce the input.
#include "gen-entropy-table.h"
#include "read_back.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <algorithm>
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

// Reads of 1 to 61 bytes, sizes taken from the data, every fifth of which
// fails with EAGAIN.  The position can be asked for, so that read_back can
// take line lengths from it.
struct Trickle {
    const std::uint8_t* data;
    std::size_t size, pos = 0;
    unsigned reads = 0;
};

ssize_t trickle_read(void* cookie, char* buf, std::size_t n)
{
    auto* t = static_cast<Trickle*>(cookie);
    if (++t->reads % 5 == 0) {
        errno = EAGAIN;
        return -1;
    }
    std::size_t k = t->pos < t->size ? 1 + t->data[t->pos] % 61 : 0;
    k = std::min({k, n, t->size - t->pos});
    std::memcpy(buf, t->data + t->pos, k);
    t->pos += k;
    return static_cast<ssize_t>(k);
}

int trickle_seek(void* cookie, off64_t* offset, int whence)
{
    if (whence != SEEK_CUR || *offset != 0) return -1;
    *offset = static_cast<off64_t>(static_cast<Trickle*>(cookie)->pos);
    return 0;
}

void read_all(std::FILE* f, const std::uint8_t* data, std::size_t size)
{
    check(f != nullptr, "the stream could not be opened");
    std::string out;
    char* line = nullptr;
    std::size_t capacity = 0;
    const std::string failure = read_back(f, &line, &capacity, size, &out);
    check(failure.empty(), failure.c_str());
    check(out.size() == size && std::memcmp(out.data(), data, size) == 0,
          "the lines do not reproduce the input");
    std::free(line);
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;  // fmemopen needs a non-empty buffer
    read_all(fmemopen(const_cast<std::uint8_t*>(data), size, "r"), data, size);

    Trickle trickle{data, size};
    cookie_io_functions_t io{};
    io.read = trickle_read;
    io.seek = trickle_seek;
    read_all(fopencookie(&trickle, "r", io), data, size);
    return 0;
}
