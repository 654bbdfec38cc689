/* SPDX-License-Identifier: BSD-2-Clause */
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
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif

/* The line buffer's capacity, under the unit's own short name. */
#define LINESIZE GEN_ENTROPY_TABLE_LINESIZE

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

/* Releases the stream lock of a reader cancelled while it waits for input. */
static void unlock_stream(void *stream)
{
    funlockfile(static_cast<FILE *>(stream));
}

/*
 * Whether other threads may share a stream, so that a line needs the
 * stream lock.  The C library's own stdio asks the same: glibc 2.32 and
 * later keep __libc_single_threaded set until the process starts a second
 * thread, FreeBSD's libc sets __isthreaded when it does.  Only this thread
 * can start another, so the answer holds for the whole call.  Where neither
 * flag exists, every call locks.
 */
static bool may_share_streams(void)
{
#if __has_include(<sys/single_threaded.h>)
    return __libc_single_threaded == 0;
#elif defined(__FreeBSD__)
    return __isthreaded != 0;
#else
    return true;
#endif
}

/* fgets reads a line in at most two chunks: the first holds short lines
 * whole and keeps their fill small, the second the rest of the buffer. */
enum { FIRST_CHUNK = 128, SECOND_CHUNK = LINESIZE - (FIRST_CHUNK - 1) };

/* The second chunk's fill size, hidden from the optimiser: given the
 * constant, g++ inlines the fill as `rep stos`, much slower at this size
 * than the C library's memset, which both compilers then call. */
static const volatile size_t second_chunk_fill = SECOND_CHUNK;

/*
 * Where the characters that fgets(p, n, ...) stored end, given what it
 * returned: at the line's newline if it read one, otherwise at its
 * terminator (or, after a failed read, where it would go); NULL if the
 * chunk is full and the line goes on.  So when fgets returned the chunk,
 * the line ended at a newline exactly where the result points at one.
 *
 * fgets neither reports how much it stored nor stops at zero bytes, so the
 * chunk was filled with newlines before the call.  fgets stores a newline
 * only as the last character before its terminator and leaves the rest of
 * the fill alone.  Hence, when it returns the chunk:
 * - a zero byte last in the chunk is the terminator of a full chunk, or of
 *   a line whose newline is just before it;
 * - else the first zero byte, if a newline precedes it, ends the line (the
 *   usual case, unless the line holds zero bytes or input ended);
 * - else the first newline in the chunk is either the line's own, followed
 *   by the terminator, or the fill byte just after the terminator.
 * When fgets returns NULL (nothing read, or a read error) this C library
 * and FreeBSD's leave the characters read so far in the chunk, unterminated,
 * and write nothing else, so the first newline, which is fill, marks their
 * end.  On EAGAIN this C library returns the chunk terminated, FreeBSD's
 * returns NULL; both paths cover it.
 */
static char *chunk_end(char *p, size_t n, const char *got)
{
    if (got != nullptr) {
        if (p[n - 1] == '\0') {
            return p[n - 2] == '\n' ? p + n - 2 : nullptr;
        }
        const size_t len = strnlen(p, n);
        if (len != 0 && len < n && p[len - 1] == '\n') {
            return p + len - 1;
        }
    }
    /* The slow path: zero bytes in the line, end of input or an error. */
    char *const nl = static_cast<char *>(memchr(p, '\n', n));
    if (got == nullptr) {
        return nl != nullptr ? nl : p + n - 1;
    }
    if (nl == nullptr) {
        return p + n - 1; /* unreachable: the fill keeps a newline */
    }
    if (nl + 1 < p + n && nl[1] == '\0') {
        return nl;
    }
    return nl > p ? nl - 1 : p; /* the fill just after the terminator */
}

/* Reads the line into the buffer (*lineptr)[0..LINESIZE-1], returns the
 * number of characters stored and sets *end to the character that ended
 * the line.  The stream is the caller's alone for the call (locked, or no
 * other thread exists).  A cancelled read leaves this frame without
 * returning, by a long jump in glibc and by a forced unwind in FreeBSD's
 * libthr, so it keeps nothing in memory of its own (AddressSanitizer would
 * find its stack guards still armed after a long jump). */
static size_t read_line(char **lineptr, FILE *stream, int *end)
{
    char *const line = *lineptr;
    memset(line, '\n', FIRST_CHUNK);
    const char *got = fgets(line, FIRST_CHUNK, stream);
    char *p = chunk_end(line, FIRST_CHUNK, got);
    if (p == nullptr) {
        char *const rest = line + (FIRST_CHUNK - 1);
        memset(rest, '\n', second_chunk_fill);
        got = fgets(rest, SECOND_CHUNK, stream);
        p = chunk_end(rest, SECOND_CHUNK, got);
    }
    int c;
    if (p != nullptr) {
        c = got != nullptr && *p == '\n' ? '\n' : EOF;
    } else {
        /* 999 characters stored: only the terminator still fits.  The next
         * character decides: a newline or end of input ends the line whole;
         * anything else is pushed back (one character of push-back is
         * always available after a read) and begins the next call's line. */
        p = line + (LINESIZE - 1);
        c = getc_unlocked(stream);
        if (c != '\n' && c != EOF) {
            (void)ungetc(c, stream);
        }
    }
    assert(p - *lineptr < LINESIZE);
    *p = '\0';
    *end = c;
    return static_cast<size_t>(p - line);
}

/* Both entry points: checks the arguments, allocates the buffer on the
 * first call and reads one line, or returns -1 with errno set and nothing
 * touched. */
static ssize_t read_one_line(char **lineptr, size_t *capacity, FILE *stream, int *end)
{
    /* A caller's buffer whose stated capacity is too small would be
     * overrun; without a size variable the caller vouches for it. */
    if (lineptr == nullptr || stream == nullptr
        || (*lineptr == nullptr && capacity == nullptr)
        || (*lineptr != nullptr && capacity != nullptr && *capacity < LINESIZE)) {
        errno = EINVAL;
        return -1;
    }
    if (*lineptr == nullptr) {
        char *buffer = static_cast<char *>(malloc(LINESIZE));
        if (buffer == nullptr) {
            errno = ENOMEM;
            return -1;
        }
        *lineptr = buffer;
        *capacity = LINESIZE;
    }
    /* cppcheck does not evaluate __has_include and sees only the fallback. */
    /* cppcheck-suppress knownConditionTrueFalse */
    if (!may_share_streams()) {
        return static_cast<ssize_t>(read_line(lineptr, stream, end));
    }

    /* One lock for the whole line, so that threads sharing the stream get
     * whole lines.  The reads inside may be cancellation points: in glibc
     * they are; in FreeBSD's libc stdio reads through _read, which is not,
     * so only a stream whose own read function is one (funopen) can be
     * cancelled there.  If the thread is cancelled there, the handler
     * unlocks the stream, and the buffer is already the caller's.  On the
     * normal path the handler is popped without running and the stream
     * unlocked here: FreeBSD's libc, until libthr is loaded, ignores
     * pthread_cleanup_pop's request to run it. */
    size_t length;
    flockfile(stream);
    pthread_cleanup_push(unlock_stream, stream);
    length = read_line(lineptr, stream, end);
    pthread_cleanup_pop(0);
    funlockfile(stream);
    return static_cast<ssize_t>(length);
}

int simple_getline(char **lineptr, size_t *capacity, FILE *stream)
{
    int end;
    return read_one_line(lineptr, capacity, stream, &end) < 0 ? EOF : end;
}

ssize_t simple_getline_length(char **lineptr, size_t *capacity, FILE *stream, int *end)
{
    int c;
    const ssize_t length = read_one_line(lineptr, capacity, stream, &c);
    if (length >= 0 && end != nullptr) {
        *end = c;
    }
    return length;
}

/*
 * A run has no effect beyond its exit status: no argument, environment
 * variable or input is read and nothing is written.
 */
int main()
{
    return 0;
}
