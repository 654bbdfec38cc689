// SPDX-License-Identifier: BSD-2-Clause
// The line reader, through both entry points: allocation, line contents,
// results and lengths, the cut of over-long lines, read errors, bad
// arguments and heap failure, locking, cancellation, and a round trip of
// systematic and random input.
#include "gen-entropy-table.h"
#include "read_back.h"

#include <gtest/gtest.h>

#include <pthread.h>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

// The unit's calls to malloc arrive here (the test copy of its object has
// the symbol renamed).
namespace heap {
enum class Mode { pass, guard, fail };
Mode mode = Mode::pass;
int calls = 0;
std::size_t last_size = 0;
}  // namespace heap

extern "C" void* gen_entropy_table_malloc(std::size_t n)
{
    ++heap::calls;
    heap::last_size = n;
    switch (heap::mode) {
    case heap::Mode::fail:
        return nullptr;
    case heap::Mode::guard: {
        // n bytes that end exactly where an inaccessible page begins: any
        // byte written past the block faults at once.
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t span = (n + page - 1) / page * page;
        void* m = mmap(nullptr, span + page, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return nullptr;
        char* base = static_cast<char*>(m);
        if (mprotect(base + span, page, PROT_NONE) != 0) return nullptr;
        return base + span - n;
    }
    case heap::Mode::pass:
        break;
    }
    return std::malloc(n);
}

// And its stream locks.
std::atomic<int> locks_taken{0}, locks_released{0};
extern "C" void gen_entropy_table_flockfile(std::FILE* f)
{
    ++locks_taken;
    flockfile(f);
}
extern "C" void gen_entropy_table_funlockfile(std::FILE* f)
{
    ++locks_released;
    funlockfile(f);
}

namespace {

// A guarded buffer obtained through the reader's own first call.
struct GuardedLine {
    char* line = nullptr;
    std::size_t size = 0;
    GuardedLine() { heap::mode = heap::Mode::guard; }
    ~GuardedLine()
    {
        heap::mode = heap::Mode::pass;
        if (!line) return;
        const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        auto* base = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(line) / page * page);
        munmap(base, 2 * page);
    }
};

std::FILE* file_with(const std::string& data)
{
    std::FILE* f = std::tmpfile();
    std::fwrite(data.data(), 1, data.size(), f);
    std::rewind(f);
    return f;
}

// A pipe whose writer end is fed by a thread, as from another process.
struct PipeSource {
    std::FILE* stream = nullptr;
    std::thread writer;
    explicit PipeSource(const std::string& data)
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        stream = fdopen(fds[0], "r");
        writer = std::thread([fd = fds[1], data] {
            for (std::size_t at = 0; at < data.size();) {
                const ssize_t n = write(fd, data.data() + at, data.size() - at);
                if (n <= 0) break;
                at += static_cast<std::size_t>(n);
            }
            close(fd);
        });
    }
    ~PipeSource()
    {
        writer.join();
        if (stream) std::fclose(stream);
    }
};

// A stream whose reads deliver `reads` one element per read; an element
// equal to kFail fails that read with `error` instead.
const std::string kFail = "<read fails>";
struct FailingSource {
    std::vector<std::string> reads;
    int error;
    std::size_t next = 0;
    std::FILE* stream = nullptr;
    FailingSource(std::vector<std::string> r, int e) : reads(std::move(r)), error(e)
    {
        cookie_io_functions_t io{};
        io.read = [](void* cookie, char* buf, std::size_t size) -> ssize_t {
            auto* self = static_cast<FailingSource*>(cookie);
            if (self->next == self->reads.size()) return 0;
            const std::string& r = self->reads[self->next++];
            if (r == kFail) {
                errno = self->error;
                return -1;
            }
            EXPECT_LE(r.size(), size);
            std::memcpy(buf, r.data(), r.size());
            return static_cast<ssize_t>(r.size());
        };
        stream = fopencookie(this, "r", io);
    }
    ~FailingSource() { std::fclose(stream); }
};

struct Piece {
    std::string text;
    int end;
    bool failed = false;  // EOF from a failed read: the error indicator is set
};

const std::string k999(999, 'x');

std::string numbered(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

// The character at offset 999 of numbered(n), where lines are cut, and what
// follows it.
const int cut_char = static_cast<unsigned char>(numbered(1000)[999]);
std::string tail(std::size_t n) { return numbered(n).substr(999); }

struct LineCase {
    const char* name;
    std::string input;
    std::vector<Piece> pieces;  // every call until the first empty EOF line
};

const std::vector<LineCase> kLineCases = {
    {"two lines", "abc\ndef\n", {{"abc", '\n'}, {"def", '\n'}, {"", EOF}}},
    {"empty input", "", {{"", EOF}}},
    {"lone newline", "\n", {{"", '\n'}, {"", EOF}}},
    {"blank lines", "\n\na\n\n", {{"", '\n'}, {"", '\n'}, {"a", '\n'}, {"", '\n'}, {"", EOF}}},
    {"no final newline", "abc\nlast", {{"abc", '\n'}, {"last", EOF}, {"", EOF}}},
    {"carriage return kept", "crlf\r\n\r\n", {{"crlf\r", '\n'}, {"\r", '\n'}, {"", EOF}}},
    {"zero bytes kept", std::string("a\0b\n\0\n", 6),
     {{std::string("a\0b", 3), '\n'}, {std::string(1, '\0'), '\n'}, {"", EOF}}},
    {"tabs and high bytes", "\t\x80\xff\xfe\x7f\n", {{"\t\x80\xff\xfe\x7f", '\n'}, {"", EOF}}},
    {"999 characters", k999 + "\n", {{k999, '\n'}, {"", EOF}}},
    {"999 characters at the end", k999, {{k999, EOF}, {"", EOF}}},
    {"1000 characters", numbered(1000) + "\nz\n",
     {{numbered(999), cut_char}, {tail(1000), '\n'}, {"z", '\n'}, {"", EOF}}},
    {"1000 characters at the end", numbered(1000),
     {{numbered(999), cut_char}, {tail(1000), EOF}, {"", EOF}}},
    {"1001 characters", numbered(1001) + "\n",
     {{numbered(999), cut_char}, {tail(1001), '\n'}, {"", EOF}}},
    {"cut before a newline byte value", k999 + "\xff\n", {{k999, 0xff}, {"\xff", '\n'}, {"", EOF}}},
    {"cut before a zero byte", k999 + std::string(1, '\0'),
     {{k999, 0}, {std::string(1, '\0'), EOF}, {"", EOF}}},
    {"zero bytes at the chunk boundaries", numbered(126) + std::string("\0\0x\n", 4) + numbered(126) + std::string("\0\n", 2),
     {{numbered(126) + std::string(2, '\0') + "x", '\n'}, {numbered(126) + '\0', '\n'}, {"", EOF}}},
    {"zero byte last of 999", std::string(998, 'x') + '\0' + "\n",
     {{std::string(998, 'x') + '\0', '\n'}, {"", EOF}}},
    {"several thousand characters", numbered(2500) + "\n",
     {{numbered(999), cut_char},
      {tail(1998), numbered(1999)[1998]},
      {numbered(2500).substr(1998), '\n'},
      {"", EOF}}},
};

// Reads `stream` through a guarded buffer, with simple_getline_length if
// `length` is set, otherwise simple_getline, and checks every call's result
// and buffer against `expected`; after a failed read the caller clears the
// error and reads on.
void expect_pieces(std::FILE* stream, const std::vector<Piece>& expected, bool length = false)
{
    GuardedLine buf;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i));
        const Piece& want = expected[i];
        int end = -2;
        if (length) {
            ASSERT_EQ(simple_getline_length(&buf.line, &buf.size, stream, &end),
                      static_cast<ssize_t>(want.text.size()));
        } else {
            end = simple_getline(&buf.line, &buf.size, stream);
        }
        ASSERT_EQ(end, want.end);
        ASSERT_NE(buf.line, nullptr);
        EXPECT_EQ(std::string(buf.line, want.text.size()), want.text);
        EXPECT_EQ(buf.line[want.text.size()], '\0');
        EXPECT_EQ(std::ferror(stream) != 0, want.failed);
        if (want.failed) std::clearerr(stream);
    }
    EXPECT_TRUE(std::feof(stream));
    EXPECT_FALSE(std::ferror(stream));
}

TEST(SimpleGetline, LinesFromAFile)
{
    for (const bool length : {false, true}) {
        for (const auto& c : kLineCases) {
            SCOPED_TRACE(std::string(c.name) + (length ? ", with length" : ""));
            std::FILE* f = file_with(c.input);
            expect_pieces(f, c.pieces, length);
            std::fclose(f);
        }
    }
}

TEST(SimpleGetline, LinesFromAPipe)
{
    for (const bool length : {false, true}) {
        for (const auto& c : kLineCases) {
            SCOPED_TRACE(std::string(c.name) + (length ? ", with length" : ""));
            PipeSource src(c.input);
            ASSERT_TRUE(src.stream);
            expect_pieces(src.stream, c.pieces, length);
        }
    }
}

// A read that fails mid-line, with EIO or EAGAIN, ends the call with what
// was read so far; after clearerr the next call goes on with the following
// bytes, nothing lost or repeated.
TEST(SimpleGetline, ReadErrorsEndTheLineAndLoseNothing)
{
    const std::string k500 = numbered(500);
    const std::string z = std::string(1, '\0');
    const std::vector<LineCase> cases = {
        {"mid-line", "abc|def\nghi\n", {{"abc", EOF, true}, {"def", '\n'}, {"ghi", '\n'}, {"", EOF}}},
        {"at a line start", "a\n|b\n", {{"a", '\n'}, {"", EOF, true}, {"b", '\n'}, {"", EOF}}},
        {"around zero bytes", "a" + z + "b|" + z + "c\n",
         {{"a" + z + "b", EOF, true}, {z + "c", '\n'}, {"", EOF}}},
        {"after 127 characters", numbered(127) + "|x\n",
         {{numbered(127), EOF, true}, {"x", '\n'}, {"", EOF}}},
        {"after 500 characters", k500 + "|yz\n", {{k500, EOF, true}, {"yz", '\n'}, {"", EOF}}},
        {"after 999 characters", k999 + "|\n", {{k999, EOF, true}, {"", '\n'}, {"", EOF}}},
    };
    for (const int error : {EIO, EAGAIN}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (error == EIO ? ", EIO" : ", EAGAIN"));
            const auto bar = c.input.find('|');
            FailingSource src({c.input.substr(0, bar), kFail, c.input.substr(bar + 1)}, error);
            ASSERT_TRUE(src.stream);
            expect_pieces(src.stream, c.pieces);
        }
    }
}

TEST(SimpleGetline, AllocatesOnceAndNeverTouchesTheSizeAgain)
{
    std::FILE* f = file_with("one\ntwo\n");
    char* line = nullptr;
    std::size_t size = 0;
    heap::calls = 0;
    EXPECT_EQ(simple_getline(&line, &size, f), '\n');
    EXPECT_EQ(heap::calls, 1);
    EXPECT_EQ(heap::last_size, static_cast<std::size_t>(GEN_ENTROPY_TABLE_LINESIZE));
    EXPECT_EQ(size, 1000u);
    ASSERT_NE(line, nullptr);
    char* const first = line;

    size = 12345;  // the caller's to change; the reader must leave it alone
    EXPECT_EQ(simple_getline(&line, &size, f), '\n');
    EXPECT_STREQ(line, "two");
    EXPECT_EQ(simple_getline(&line, nullptr, f), EOF);  // no size needed now
    EXPECT_EQ(heap::calls, 1);
    EXPECT_EQ(size, 12345u);
    EXPECT_EQ(line, first);
    std::free(line);
    std::fclose(f);
}

TEST(SimpleGetline, BadArgumentsAndHeapFailureTouchNothing)
{
    std::FILE* f = file_with("abc\n");
    char* line = nullptr;
    std::size_t size = 7;
    // A caller's buffer that says it is one byte short.
    std::string own(GEN_ENTROPY_TABLE_LINESIZE, 'x');
    char* own_line = own.data();
    std::size_t own_size = GEN_ENTROPY_TABLE_LINESIZE - 1;
    struct Case {
        const char* name;
        char** lineptr;
        std::size_t* capacity;
        std::FILE* stream;
        heap::Mode heap_mode;
        int error;
    };
    for (const Case& c : {Case{"null lineptr", nullptr, &size, f, heap::Mode::pass, EINVAL},
                          Case{"null buffer and size", &line, nullptr, f, heap::Mode::pass, EINVAL},
                          Case{"null stream", &line, &size, nullptr, heap::Mode::pass, EINVAL},
                          Case{"buffer too small", &own_line, &own_size, f, heap::Mode::pass, EINVAL},
                          Case{"heap exhausted", &line, &size, f, heap::Mode::fail, ENOMEM}}) {
        for (const bool length : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (length ? ", with length" : ""));
            heap::mode = c.heap_mode;
            heap::calls = 0;
            errno = 0;
            int end = -2;
            if (length) {
                EXPECT_EQ(simple_getline_length(c.lineptr, c.capacity, c.stream, &end), -1);
                EXPECT_EQ(end, -2);
            } else {
                EXPECT_EQ(simple_getline(c.lineptr, c.capacity, c.stream), EOF);
            }
            heap::mode = heap::Mode::pass;
            EXPECT_EQ(errno, c.error);
            EXPECT_EQ(heap::calls, c.error == ENOMEM ? 1 : 0);
            EXPECT_EQ(line, nullptr);
            EXPECT_EQ(size, 7u);
            EXPECT_EQ(own, std::string(GEN_ENTROPY_TABLE_LINESIZE, 'x'));
            EXPECT_EQ(own_size, GEN_ENTROPY_TABLE_LINESIZE - 1u);
            EXPECT_EQ(std::ftell(f), 0) << "nothing may be read";
            EXPECT_FALSE(std::feof(f) || std::ferror(f));
        }
    }
    // After a heap failure a later call simply tries again.
    EXPECT_EQ(simple_getline(&line, &size, f), '\n');
    EXPECT_STREQ(line, "abc");
    EXPECT_EQ(size, 1000u);
    std::free(line);
    std::fclose(f);
}

// What the calls yield, newlines put back where the result says so,
// reproduces the input exactly: first every line length from 1001 down to
// 0, so that the buffer always holds a longer earlier line, plain, with a
// zero byte last (a zero byte at every offset) and all zero bytes; then
// random short, borderline and very long lines with zero bytes, carriage
// returns and high bytes.
TEST(SimpleGetline, RoundTripsSystematicAndRandomInput)
{
    std::vector<std::string> inputs(3);
    for (std::size_t len = 1002; len-- > 0;) {
        inputs[0] += numbered(len) + '\n';
        inputs[1] += numbered(len).substr(0, len ? len - 1 : 0) + std::string(len ? 1 : 0, '\0') + '\n';
        inputs[2] += std::string(len, '\0') + '\n';
    }
    std::mt19937 rng(20261209);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char specials[] = {'\0', '\r', '\t', '\x80', '\xff', ' '};
    for (int round = 0; round < 200; ++round) {
        std::string input;
        for (int lines = pick(0, 12); lines > 0; --lines) {
            int len;
            switch (pick(0, 3)) {
            case 0: len = pick(0, 20); break;
            case 1: len = pick(997, 1002); break;
            case 2: len = pick(1990, 2001); break;
            default: len = pick(0, 5000); break;
            }
            for (int i = 0; i < len; ++i) {
                input += pick(0, 9) == 0 ? specials[pick(0, 5)]
                                         : static_cast<char>(pick(0x20, 0x7e));
            }
            if (lines > 1 || pick(0, 1)) input += '\n';
        }
        inputs.push_back(input);
    }
    GuardedLine buf;
    for (std::size_t round = 0; round < inputs.size(); ++round) {
        const std::string& input = inputs[round];
        SCOPED_TRACE("input " + std::to_string(round));
        std::FILE* f = file_with(input);
        std::string output;
        ASSERT_EQ(read_back(f, &buf.line, &buf.size, input.size(), &output), "");
        ASSERT_EQ(output, input);
        std::fclose(f);
    }
}

// A process with one thread takes no stream lock; once a second thread is
// alive, every call locks the stream once and unlocks it.  ctest runs each
// case in a process of its own, so the first call meets one thread.
TEST(SimpleGetline, LocksTheStreamOnlyWhereThreadsMayShareIt)
{
    std::FILE* f = file_with("one\ntwo\n");
    char* line = nullptr;
    std::size_t size;
#if __has_include(<sys/single_threaded.h>)
    const int single = __libc_single_threaded ? 0 : 1;  // locks expected
#else
    const int single = 1;
#endif
    std::promise<void> done;
    std::thread second;
    for (const int expected : {single, 1}) {
        locks_taken = locks_released = 0;
        EXPECT_EQ(simple_getline(&line, &size, f), '\n');
        EXPECT_EQ(locks_taken, expected);
        EXPECT_EQ(locks_released, expected);
        if (!second.joinable()) second = std::thread([d = done.get_future()] { d.wait(); });
    }
    done.set_value();
    second.join();
    std::free(line);
    std::fclose(f);
}

// A reader cancelled while it waits for input leaves the stream unlocked
// and the buffer it allocated in the caller's variable.
TEST(SimpleGetline, CancelledReaderUnlocksTheStream)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::FILE* f = fdopen(fds[0], "r");
    ASSERT_TRUE(f);
    // The thread that reads afterwards exists before the reader does, so it
    // cannot inherit the cancelled reader's identity (and with it a lock
    // left held).  A stream left locked would block its read for good: the
    // wait is limited, and on failure the stream and that thread are left
    // behind.
    auto go = std::make_shared<std::promise<void>>();
    auto read = std::make_shared<std::promise<int>>();
    std::thread([f, started = go->get_future().share(), read] {
        started.wait();
        read->set_value(std::fgetc(f));
    }).detach();

    struct Call {
        std::FILE* f;
        char* line = nullptr;
        std::size_t size = 0;
    } call{f};
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, nullptr, [](void* arg) -> void* {
        auto* c = static_cast<Call*>(arg);
        simple_getline(&c->line, &c->size, c->f);
        return arg;
    }, &call), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(pthread_cancel(t), 0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(t, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    ASSERT_NE(call.line, nullptr);
    std::free(call.line);

    ASSERT_EQ(write(fds[1], "x\n", 2), 2);
    go->set_value();
    auto got = read->get_future();
    if (got.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the stream is still locked";
        return;
    }
    EXPECT_EQ(got.get(), 'x');
    std::fclose(f);
    close(fds[1]);
}

// Two threads reading one stream get whole lines, never a mix of two, and
// every line once between them (which thread gets which is the scheduler's).
TEST(SimpleGetline, ThreadsSharingAStreamGetWholeLines)
{
    constexpr int kLines = 300000;
    auto make_line = [](int i) {
        const std::string id = std::to_string(i);
        return id + ':' + std::string(static_cast<std::size_t>(i % 40), static_cast<char>('a' + i % 26)) + ':' + id;
    };
    std::string input;
    for (int i = 0; i < kLines; ++i) input += make_line(i) + '\n';
    std::FILE* f = file_with(input);

    std::vector<std::string> got[2];
    std::atomic<int> ready{0};
    auto reader = [f, &ready](std::vector<std::string>* out) {
        // Both threads start reading together.
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        char* line = nullptr;
        std::size_t size;
        while (simple_getline(&line, &size, f) == '\n') out->emplace_back(line);
        std::free(line);
    };
    std::thread a(reader, &got[0]), b(reader, &got[1]);
    a.join();
    b.join();
    std::fclose(f);

    std::set<int> seen;
    int torn = 0;
    for (const auto& lines : got) {
        for (const auto& l : lines) {
            const int i = std::atoi(l.c_str());
            if (i < 0 || i >= kLines || l != make_line(i) || !seen.insert(i).second) ++torn;
        }
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kLines));
}

}  // namespace
