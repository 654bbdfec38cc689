// SPDX-License-Identifier: BSD-2-Clause
// Running a built program as a user does: arguments, standard input, and
// what it writes to standard output and standard error.
#ifndef GEN_ENTROPY_TABLE_TESTS_RUN_PROGRAM_H
#define GEN_ENTROPY_TABLE_TESTS_RUN_PROGRAM_H

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

struct ProgramRun {
    int status = -1;  // exit status, or -1 if the process did not exit normally
    std::string out, err;
};

inline std::string slurp(std::FILE* f)
{
    std::string s;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
}

// Runs `path` with `args` and `stdin_fd` as its standard input; its
// standard output goes to `out_path` if given, otherwise, like its
// standard error, to a temporary file.
inline ProgramRun run_program(const char* path, const std::vector<std::string>& args, int stdin_fd,
                              const char* out_path = nullptr)
{
    std::FILE* out = out_path ? std::fopen(out_path, "w") : std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_TRUE(out && err);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, stdin_fd, 0);
    posix_spawn_file_actions_adddup2(&fa, fileno(out), 1);
    posix_spawn_file_actions_adddup2(&fa, fileno(err), 2);
    std::vector<char*> argv{const_cast<char*>(path)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    ProgramRun r;
    EXPECT_EQ(posix_spawn(&pid, path, &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    int ws = 0;
    EXPECT_EQ(waitpid(pid, &ws, 0), pid);
    if (WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
    r.out = out_path ? "" : slurp(out);
    r.err = slurp(err);
    std::fclose(out);
    std::fclose(err);
    return r;
}

// The same, with `input` as standard input, from a file, or through a pipe
// if `pipe_input` is set (the input must then fit in the pipe).
inline ProgramRun run_program(const char* path, const std::vector<std::string>& args,
                              const std::string& input, bool pipe_input = false,
                              const char* out_path = nullptr)
{
    if (pipe_input) {
        int fds[2] = {-1, -1};
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        close(fds[1]);
        ProgramRun r = run_program(path, args, fds[0], out_path);
        close(fds[0]);
        return r;
    }
    std::FILE* in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::fflush(in);
    lseek(fileno(in), 0, SEEK_SET);
    ProgramRun r = run_program(path, args, fileno(in), out_path);
    std::fclose(in);
    return r;
}

#endif
