/*
 * gen-entropy-table: the tool's entry routine, its built-in data and its
 * line reader.
 *
 * The tool does nothing when run; callers link against state_counts (the
 * per-state LPS/MPS counts of the CABAC probability states) and
 * simple_getline (a line reader with a fixed 1000-byte buffer).
 */
#include "gen-entropy-table.h"

#include <assert.h>
#include <errno.h>
#include <stdlib.h>

/* Row k: {LPS count, MPS count} in probability state k. */
uint32_t state_counts[STATE_COUNT_ROWS][2] = {
    {1537234, 1602970}, /* 0 */
    {1608644, 1815493}, /* 1 */
    {1822246, 2245961}, /* 2 */
    {916773, 1329391}, /* 3 */
    {1337504, 1930659}, /* 4 */
    {1063692, 1707588}, /* 5 */
    {868294, 1532108}, /* 6 */
    {842934, 1555538}, /* 7 */
    {689043, 1396941}, /* 8 */
    {860184, 1789964}, /* 9 */
    {534165, 1258482}, /* 10 */
    {672508, 1598821}, /* 11 */
    {578782, 1476240}, /* 12 */
    {602247, 1613140}, /* 13 */
    {409393, 1206638}, /* 14 */
    {459294, 1356779}, /* 15 */
    {430124, 1359893}, /* 16 */
    {308326, 1050647}, /* 17 */
    {313100, 1099956}, /* 18 */
    {293887, 1088978}, /* 19 */
    {220901, 869582}, /* 20 */
    {214967, 881695}, /* 21 */
    {197226, 856990}, /* 22 */
    {166131, 767761}, /* 23 */
    {152514, 737406}, /* 24 */
    {128332, 663998}, /* 25 */
    {117638, 632653}, /* 26 */
    {106178, 595539}, /* 27 */
    {90898, 539506}, /* 28 */
    {83437, 509231}, /* 29 */
    {76511, 492801}, /* 30 */
    {64915, 443096}, /* 31 */
    {57847, 409809}, /* 32 */
    {52730, 385395}, /* 33 */
    {45707, 354059}, /* 34 */
    {42018, 333028}, /* 35 */
    {37086, 308073}, /* 36 */
    {33256, 284497}, /* 37 */
    {36130, 299172}, /* 38 */
    {28831, 270716}, /* 39 */
    {25365, 244840}, /* 40 */
    {22850, 221896}, /* 41 */
    {19732, 201462}, /* 42 */
    {17268, 183729}, /* 43 */
    {15252, 168106}, /* 44 */
    {13787, 153979}, /* 45 */
    {12187, 141455}, /* 46 */
    {10821, 130337}, /* 47 */
    {9896, 120165}, /* 48 */
    {8626, 112273}, /* 49 */
    {8162, 103886}, /* 50 */
    {7201, 96441}, /* 51 */
    {6413, 89805}, /* 52 */
    {5886, 83733}, /* 53 */
    {5447, 78084}, /* 54 */
    {4568, 73356}, /* 55 */
    {4388, 68831}, /* 56 */
    {3959, 64688}, /* 57 */
    {3750, 60804}, /* 58 */
    {3407, 57271}, /* 59 */
    {3109, 54024}, /* 60 */
    {2820, 51099}, /* 61 */
    {48569, 1451987}, /* 62 */
    {0, 0}, /* 63 */
    {0, 0}, /* 64 */
};

int simple_getline(char **lineptr, size_t *capacity, FILE *stream)
{
    if (lineptr == nullptr || stream == nullptr
        || (*lineptr == nullptr && capacity == nullptr)) {
        errno = EINVAL;
        return EOF;
    }
    if (*lineptr == nullptr) {
        char *buffer = static_cast<char *>(malloc(LINESIZE));
        if (buffer == nullptr) {
            errno = ENOMEM;
            return EOF;
        }
        *lineptr = buffer;
        *capacity = LINESIZE;
    }

    /* From here on *lineptr reads a local copy of the caller's buffer
     * pointer: no store into the line can change it, so it need not be
     * reloaded after every character. */
    char *line = *lineptr;
    lineptr = &line;

    /* One lock for the whole line, so that threads sharing the stream get
     * whole lines; inside it, one unlocked library read per character, so
     * the stream's own buffer is the only read-ahead. */
    char *const last = line + (LINESIZE - 1); /* the latest terminator slot */
    char *p = line;
    int c;
    flockfile(stream);
    while ((c = getc_unlocked(stream)) != '\n' && c != EOF) {
        if (p == last) {
            /* Only the terminator still fits: cut the line here.  One
             * character of push-back is always available after a read, so
             * c begins the next call's line and nothing is lost. */
            (void)ungetc(c, stream);
            break;
        }
        *p++ = static_cast<char>(c);
        assert(p - *lineptr < LINESIZE);
    }
    *p = '\0';
    funlockfile(stream);
    return c;
}

/*
 * A run has no effect beyond its exit status: no argument, environment
 * variable or input is read and nothing is written.
 */
int main()
{
    return 0;
}
