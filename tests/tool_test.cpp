// SPDX-License-Identifier: BSD-2-Clause
// The built tool as a user meets it: run as a process, and as a binary
// whose symbols and library dependencies callers rely on.
#include "run_program.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::vector<std::vector<std::string>> kArgumentSets = {
    {},
    {"--help"},
    {"-h", "-v", "--version", "-x", "--no-such-option=1"},
    {"-", "--", "/nonexistent/file", "input.txt"},
    {"", "two words", "\xff\xfe", "-1", "999999999999999999999"},
};

TEST(Tool, ExitsZeroSilentlyWhateverTheArguments)
{
    const int devnull = open("/dev/null", O_RDONLY);
    ASSERT_GE(devnull, 0);
    for (const auto& args : kArgumentSets) {
        SCOPED_TRACE(testing::PrintToString(args));
        const ProgramRun r = run_program(TOOL_PATH, args, devnull);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
    close(devnull);
}

TEST(Tool, LeavesWaitingStandardInputForTheNextReader)
{
    const std::string data = "first line\nsecond line\n";
    // A file: the shared offset must not move.
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(f);
    std::fputs(data.c_str(), f);
    std::fflush(f);
    ASSERT_EQ(lseek(fileno(f), 0, SEEK_SET), 0);
    for (const auto& args : kArgumentSets) {
        SCOPED_TRACE(testing::PrintToString(args));
        const ProgramRun r = run_program(TOOL_PATH, args, fileno(f));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(lseek(fileno(f), 0, SEEK_CUR), 0);
    }
    std::fclose(f);

    // A pipe: the data must still be in it afterwards.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
    const ProgramRun r = run_program(TOOL_PATH, {"-"}, fds[0]);
    EXPECT_EQ(r.status, 0);
    close(fds[1]);
    std::string left(data.size() + 1, '\0');
    EXPECT_EQ(read(fds[0], left.data(), left.size()), static_cast<ssize_t>(data.size()));
    left.resize(data.size());
    EXPECT_EQ(left, data);
    close(fds[0]);
}

std::vector<std::string> command_lines(const std::string& command)
{
    std::vector<std::string> lines;
    std::FILE* p = popen(command.c_str(), "r");
    EXPECT_TRUE(p) << command;
    if (!p) return lines;
    std::string line;
    for (int c; (c = std::fgetc(p)) != EOF;) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    EXPECT_EQ(pclose(p), 0) << command;
    return lines;
}

TEST(ToolBinary, DependsOnTheCLibraryAlone)
{
    if (SANITIZED_BUILD) GTEST_SKIP() << "sanitizer runtimes are linked in";
    std::vector<std::string> needed;
    for (const auto& l : command_lines(std::string(READELF_PATH) + " -dW " + TOOL_PATH)) {
        const auto at = l.find("Shared library: [");
        if (at != std::string::npos) needed.push_back(l.substr(at + 17, l.find(']', at) - at - 17));
    }
    // The platform's C library, whatever its version: libc.so.6 here,
    // libc.so.7 on FreeBSD.  Never the C++ runtime.
    ASSERT_EQ(needed.size(), 1u) << testing::PrintToString(needed);
    EXPECT_TRUE(std::regex_match(needed[0], std::regex(R"(libc\.so\.[0-9]+)"))) << needed[0];
}

TEST(ToolBinary, UnitNeedsNothingFromTheCxxRuntimeAndAddsNoConstructors)
{
    for (const auto& l : command_lines(std::string(NM_PATH) + " -u " + UNIT_OBJECT)) {
        EXPECT_EQ(l.find("_Z"), std::string::npos) << l;
        EXPECT_EQ(l.find("__cxa_"), std::string::npos) << l;
        EXPECT_EQ(l.find("__gxx_"), std::string::npos) << l;
    }
    if (SANITIZED_BUILD) return;  // instrumentation adds module constructors
    for (const auto& l : command_lines(std::string(READELF_PATH) + " -SW " + UNIT_OBJECT)) {
        EXPECT_EQ(l.find(".init_array"), std::string::npos) << l;
        EXPECT_EQ(l.find(".ctors"), std::string::npos) << l;
        EXPECT_EQ(l.find(".fini_array"), std::string::npos) << l;
    }
}

TEST(ToolBinary, ExportsTheTableAsA520ByteDataSymbol)
{
    bool found = false;
    for (const auto& l : command_lines(std::string(NM_PATH) + " -S " + TOOL_PATH)) {
        std::istringstream in(l);
        std::string addr, size, type, name;
        if (!(in >> addr >> size >> type >> name) || name != "state_counts") continue;
        found = true;
        EXPECT_EQ(std::strtoul(size.c_str(), nullptr, 16), 520u);
        EXPECT_EQ(type, "D") << "a writable, initialised, global data symbol";
    }
    EXPECT_TRUE(found);
}

}  // namespace

namespace {

// The line reader's assertion survives every build type, Release included:
// the build never defines NDEBUG.  g++ cannot prove the reader's invariant
// and keeps the check, diagnostic text and all, in the optimised binary
// (clang++ proves it and drops the call as dead code).
#ifdef NDEBUG
#error "assertions must stay active in every build type"
#endif
TEST(ToolBinary, KeepsTheLineReadersAssertion)
{
#if defined(__clang__) || !defined(__GNUC__)
    GTEST_SKIP() << "only g++ is known to keep the provably-true check";
#endif
    std::FILE* f = std::fopen(TOOL_PATH, "rb");
    ASSERT_TRUE(f);
    const std::string image = slurp(f);
    std::fclose(f);
    EXPECT_NE(image.find("p - *lineptr < LINESIZE"), std::string::npos);
    EXPECT_NE(image.find("simple_getline"), std::string::npos);
    EXPECT_NE(image.find("gen-entropy-table.cpp"), std::string::npos);
}

}  // namespace
