/* SPDX-License-Identifier: BSD-2-Clause */
/* A C99 program built against an installed gen-entropy-table: prints the
 * library's version and state 62's counts, then each line of standard
 * input in brackets, read with its length. */
#include <gen-entropy-table.h>

#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    char *line = NULL;
    size_t size;
    ssize_t n;
    int end;

    printf("%s %lu %lu\n", GEN_ENTROPY_TABLE_VERSION, (unsigned long)state_counts[62][0],
           (unsigned long)state_counts[62][1]);
    do {
        n = simple_getline_length(&line, &size, stdin, &end);
        if (n < 0) {
            return 1;
        }
        if (end != EOF || n != 0) {
            printf("[%.*s]\n", (int)n, line);
        }
    } while (end != EOF);
    free(line);
    return ferror(stdin) ? 1 : 0;
}
