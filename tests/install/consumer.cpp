// SPDX-License-Identifier: BSD-2-Clause
// A C++ program built against an installed gen-entropy-table: prints the
// library's version and state 62's counts, then each line of standard input
// in brackets.
#include <gen-entropy-table.h>

#include <cstdio>
#include <cstdlib>

int main()
{
    std::printf("%s %u %u\n", GEN_ENTROPY_TABLE_VERSION, state_counts[62][0], state_counts[62][1]);
    char* line = nullptr;
    std::size_t size;
    int end;
    do {
        end = simple_getline(&line, &size, stdin);
        if (line == nullptr) return 1;
        if (end != EOF || line[0] != '\0') std::printf("[%s]\n", line);
    } while (end != EOF);
    std::free(line);
    return std::ferror(stdin) ? 1 : 0;
}
