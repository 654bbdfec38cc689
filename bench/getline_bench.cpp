// SPDX-License-Identifier: BSD-2-Clause
// simple_getline side by side with POSIX getline and fgets, over the same
// data files, in two shapes: short lines (0 to 80 characters) and long
// lines (800 to 998), first in a process with one thread, then with a
// second thread alive, when the C library's readers and simple_getline lock
// the stream.  Prints throughput per reader, then the ratio of each
// reader's time to getline's in the same phase.  Also times what the reader
// pays per call around its reads with threads: the stream lock, and the
// lock with the cleanup handler that unlocks a cancelled reader.
//
// Usage: getline-bench [--size-mb=N] [Google Benchmark flags]
// (--benchmark_filter does not apply: each phase selects its own.)
// The data files go to $TMPDIR (or /tmp) and are removed afterwards.
#include "gen-entropy-table.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Shape {
    const char* name;
    int min_len, max_len;
    std::string path;
};

// Writes `bytes` (or a little more) of printable lines of the shape's
// lengths to a new temporary file.
std::string make_file(const Shape& shape, std::size_t bytes)
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/getline-bench-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) {
        std::perror("mkstemp");
        std::exit(1);
    }
    std::FILE* f = fdopen(fd, "w");
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<int> len(shape.min_len, shape.max_len);
    std::string alphabet;
    for (char c = ' '; c <= '~'; ++c) alphabet += c;
    std::string line;
    for (std::size_t written = 0; written < bytes;) {
        const int n = len(rng);
        line.clear();
        for (int i = 0; i < n; ++i) line += alphabet[rng() % alphabet.size()];
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), f);
        written += line.size();
    }
    std::fclose(f);
    return path;
}

std::size_t file_size(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const long n = std::ftell(f);
    std::fclose(f);
    return static_cast<std::size_t>(n);
}

// Each reader consumes the whole file and returns the number of lines and
// the sum of their first bytes, so that no reader can skip work.
struct Tally {
    std::size_t lines = 0, sum = 0;
};

Tally read_simple_getline(std::FILE* f)
{
    Tally t;
    char* line = nullptr;
    std::size_t size;
    while (simple_getline(&line, &size, f) != EOF || line[0] != '\0') {
        ++t.lines;
        t.sum += static_cast<unsigned char>(line[0]);
    }
    std::free(line);
    return t;
}

Tally read_getline(std::FILE* f)
{
    Tally t;
    char* line = nullptr;
    std::size_t size = 0;
    while (getline(&line, &size, f) != -1) {
        ++t.lines;
        t.sum += static_cast<unsigned char>(line[0] == '\n' ? '\0' : line[0]);
    }
    std::free(line);
    return t;
}

// The floor for a reader built on fgets: a bare wrapper that takes the
// length with strlen, with no lock of its own, no zero-byte handling and no
// cut of long lines.
Tally read_fgets(std::FILE* f)
{
    Tally t;
    char line[GEN_ENTROPY_TABLE_LINESIZE];
    while (std::fgets(line, sizeof line, f)) {
        const std::size_t n = std::strlen(line);
        ++t.lines;
        t.sum += static_cast<unsigned char>(line[0] == '\n' ? '\0' : line[0]) + (n & 1);
    }
    return t;
}

extern "C" int cost_lock(std::FILE*);
extern "C" int cost_lock_cleanup(std::FILE*);

void per_call_cost(benchmark::State& state, int (*cost)(std::FILE*))
{
    std::FILE* f = std::tmpfile();
    for (auto _ : state) benchmark::DoNotOptimize(cost(f));
    std::fclose(f);
}

struct Reader {
    const char* name;
    Tally (*read)(std::FILE*);
};
const Reader kReaders[] = {
    {"simple_getline", read_simple_getline},
    {"getline", read_getline},
    {"fgets+strlen", read_fgets},
};

void run_reader(benchmark::State& state, const Reader* reader, const Shape* shape,
                std::size_t bytes)
{
    Tally t;
    for (auto _ : state) {
        std::FILE* f = std::fopen(shape->path.c_str(), "r");
        t = reader->read(f);
        std::fclose(f);
        benchmark::DoNotOptimize(t);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["lines"] = static_cast<double>(t.lines);
}

// Console output as usual, and the median and best time of every benchmark
// kept for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> median, best;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Aggregate) continue;
            if (r.aggregate_name == "median") median[r.run_name.function_name] = r.GetAdjustedRealTime();
            if (r.aggregate_name == "min") best[r.run_name.function_name] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    std::size_t size_mb = 100;
    // Repetitions of different benchmarks run interleaved, so that a slow
    // spell of the machine does not fall on one reader alone.
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args{argv[0], interleave};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--size-mb=", 10) == 0)
            size_mb = std::strtoul(argv[i] + 10, nullptr, 10);
        else
            args.push_back(argv[i]);
    }
    int nargs = static_cast<int>(args.size());
    benchmark::Initialize(&nargs, args.data());

    // One thread, then two: the C library never goes back to its
    // single-thread mode, so the phases run in this order.
    const char* const phases[] = {"1-thread", "2-threads"};
    Shape shapes[] = {{"short", 0, 80, {}}, {"long", 800, 998, {}}};
    std::map<std::string, std::size_t> bytes;
    for (Shape& s : shapes) {
        s.path = make_file(s, size_mb << 20);
        bytes[s.name] = file_size(s.path);
        for (const char* phase : phases) {
            for (const Reader& r : kReaders) {
                benchmark::RegisterBenchmark(
                    (std::string(phase) + "/" + s.name + "/" + r.name).c_str(), run_reader, &r,
                    &s, bytes[s.name])
                    ->Unit(benchmark::kMillisecond)
                    ->Repetitions(9)
                    ->ComputeStatistics("min",
                                        [](const std::vector<double>& v) {
                                            return *std::min_element(v.begin(), v.end());
                                        })
                    ->ReportAggregatesOnly(true)
                    ->UseRealTime();
            }
        }
    }
    benchmark::RegisterBenchmark("2-threads/per-call/lock", per_call_cost, cost_lock);
    benchmark::RegisterBenchmark("2-threads/per-call/lock+cleanup-handler", per_call_cost,
                                 cost_lock_cleanup);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter, "^1-thread/");
    std::promise<void> done;
    std::thread idle([d = done.get_future()] { d.wait(); });
    benchmark::RunSpecifiedBenchmarks(&reporter, "^2-threads/");
    done.set_value();
    idle.join();
    for (const Shape& s : shapes) std::remove(s.path.c_str());

    // Time relative to getline's, from the median and from the best of the
    // repetitions (the best is the steadier figure on a busy machine).
#if defined(__clang__)
    const char* compiler = "clang++ " __clang_version__;
#elif defined(__GNUC__)
    const char* compiler = "g++ " __VERSION__;
#else
    const char* compiler = "an unknown compiler";
#endif
    std::printf("\nTime relative to getline (lower is faster), %zu MB per file, unit built by %s:\n",
                size_mb, compiler);
    std::printf("  %-9s %-6s %-15s %8s %8s %12s\n", "phase", "shape", "reader", "median", "best",
                "median MB/s");
    for (const char* phase : phases) {
        for (const Shape& s : shapes) {
            const std::string prefix = std::string(phase) + "/" + s.name + "/";
            const std::string base = prefix + "getline";
            if (!reporter.median.count(base) || !reporter.best.count(base)) continue;
            for (const Reader& r : kReaders) {
                const std::string name = prefix + r.name;
                if (!reporter.median.count(name) || !reporter.best.count(name)) continue;
                const double median_ms = reporter.median[name];
                std::printf("  %-9s %-6s %-15s %7.2fx %7.2fx %12.0f\n", phase, s.name, r.name,
                            median_ms / reporter.median[base],
                            reporter.best[name] / reporter.best[base],
                            static_cast<double>(bytes[s.name]) / (1 << 20) / (median_ms / 1e3));
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
