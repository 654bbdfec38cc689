/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * gen-entropy-table: symbol statistics of the 64 probability states of the
 * H.265/HEVC CABAC engine, and a bounded line reader.
 *
 * Usable from C and C++: every name below has C linkage, so its symbol is
 * exactly its name.
 */
#ifndef GEN_ENTROPY_TABLE_H
#define GEN_ENTROPY_TABLE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version; the CMake package and pkg-config carry the same. */
#define GEN_ENTROPY_TABLE_VERSION_MAJOR 1
#define GEN_ENTROPY_TABLE_VERSION_MINOR 2
#define GEN_ENTROPY_TABLE_VERSION_PATCH 0
#define GEN_ENTROPY_TABLE_VERSION "1.2.0"

/*
 * Per-state symbol counts.
 *
 * state_counts[k][0] is the number of LPS (less probable symbol) events and
 * state_counts[k][1] the number of MPS (more probable symbol) events coded
 * while a context model stood in probability state k (pStateIdx).  Rows
 * 0..63 are the standard's states, state 0 being even odds; row 64 lies
 * beyond them.  Rows 63 and 64 are zero: adaptation never enters state 63.
 *
 * 65 rows of two counts, stored row after row without padding (520 bytes).
 * The counts are unsigned 32-bit; every value fits in 31 bits, so reading
 * them as int32_t gives the same numbers.  The table is writable data, in
 * place from load; nothing in the library reads or changes it.
 *
 * Observed LPS probability of state k (the sum of a row fits in 32 bits;
 * rows 63 and 64 have no events, so check the total first):
 *     uint32_t total = state_counts[k][0] + state_counts[k][1];
 *     double p = total ? (double)state_counts[k][0] / total : -1.0;
 */
#define STATE_COUNT_ROWS 65
extern uint32_t state_counts[STATE_COUNT_ROWS][2];

/* Capacity in bytes of simple_getline's line buffer: 999 characters and
 * the terminating zero.  (Before 1.1.0 this was LINESIZE.) */
#define GEN_ENTROPY_TABLE_LINESIZE 1000

/*
 * Reads one line from `stream` into a buffer of GEN_ENTROPY_TABLE_LINESIZE
 * (1000) bytes.
 *
 * lineptr   address of the caller's buffer pointer.  If *lineptr is NULL the
 *           reader allocates the buffer, exactly 1000 bytes, with malloc();
 *           otherwise *lineptr must be a buffer of at least 1000 bytes.  The
 *           caller owns the buffer, passes it back on every call and frees
 *           it when done; the reader never frees, grows or moves it.
 * capacity  address of the caller's size variable.  1000 is stored into it
 *           when, and only when, the reader allocates.  With a buffer in
 *           *lineptr it is read: a size under 1000 is refused (EINVAL,
 *           below).  It may be NULL when *lineptr is not; the caller then
 *           vouches that the buffer holds 1000 bytes.
 * stream    the stream to read, open for reading.
 *
 * A buffer of your own, or one that POSIX getline allocated, is refused
 * when its size variable says less than 1000.  Given no size variable, the
 * reader cannot check, and a buffer under 1000 bytes is overrun.  Start
 * with *lineptr set to NULL.
 *
 * The line's bytes, without the newline, are stored followed by one zero
 * byte.  Every byte but the newline is kept unchanged (carriage returns,
 * zero bytes, bytes of 0x80 and above).  The newline is consumed, not
 * stored.  Nothing is read beyond the character that ends the line, and the
 * stream's own buffer is the only buffering.  Where the process has more
 * than one thread the stream is locked once per call (flockfile), so
 * threads sharing a stream each get whole lines; the pieces of a cut line
 * (below) may go to different threads.
 *
 * Like fgets, the reader may be a cancellation point where it waits for
 * input: always with the GNU C library; on FreeBSD, whose stdio reads
 * are not cancellation points, only for a stream whose own read function
 * is one (funopen, fopencookie).  A thread cancelled there leaves the
 * stream unlocked and the buffer in *lineptr (free it in the caller's own
 * cleanup handler).  What the
 * cancelled call had already taken from the stream is lost, as with
 * getline: part of a line, or 999 characters if it was cancelled while
 * deciding whether to cut.  A reader waiting for the lock of a stream that
 * another reader holds while it waits for input cannot be cancelled until
 * that reader returns.
 *
 * Returns the character that ended the line:
 *   '\n'   the line ended at a newline.
 *   EOF    input ended or a read error happened (feof/ferror tell which);
 *          the buffer holds what was read before, possibly nothing.  Also
 *          returned, with errno set and nothing read or changed, for bad
 *          arguments (EINVAL: lineptr or stream NULL, or *lineptr and
 *          capacity both NULL, or *capacity under 1000 with a buffer in
 *          *lineptr) and when the buffer cannot be allocated
 *          (ENOMEM: *lineptr stays NULL, the size variable is not written;
 *          call again later).
 *   other  (0 to 255, never '\n') the line was cut at 999 characters;
 *          this is the first character that did not fit.  It is
 *          pushed back onto the stream and begins the next call's piece of
 *          the line, so nothing is lost and memory stays bounded whatever
 *          the input.  The pushed-back character exists only inside the
 *          FILE: code that reads the file descriptor directly misses it.
 *
 * Reading a whole stream, every piece handed on, the last one (end == EOF)
 * too, which may be empty:
 *
 *     char *line = NULL;
 *     size_t size;
 *     int end;
 *     do {
 *         end = simple_getline(&line, &size, stream);
 *         if (line == NULL) ...;         (no buffer: errno says why)
 *         handle(line, end);
 *     } while (end != EOF);
 *     if (ferror(stream)) ...;           (a read error ended the input)
 *     free(line);
 *
 * A read error ends the loop wherever it falls.  If errno is EAGAIN (a
 * non-blocking stream) or EINTR (a signal) and you want to go on, clearerr
 * the stream and read on: the piece you were handed is the part of the
 * line read before the error, the next call continues that line, and
 * nothing is lost or read twice.
 *
 * The reader reports no length: a line holding zero bytes looks shorter to
 * strlen, and an empty last piece looks like one that starts with a zero
 * byte.  simple_getline_length, below, reads the same way and reports it.
 *
 * On a stream oriented to wide characters (fwide) the GNU C library reads
 * nothing and the call returns EOF with neither indicator set; FreeBSD's
 * fgets ignores the orientation and reads the bytes.
 */
int simple_getline(char **lineptr, size_t *capacity, FILE *stream);

/*
 * Reads one line exactly as simple_getline does (the same buffer, cut and
 * errors) and returns the number of characters stored, 0 to 999, zero
 * bytes included; the terminating zero follows them.  Where `end` is not
 * NULL, the character simple_getline would have returned is stored there:
 * '\n', EOF, or the first character of a cut line's next piece.  At the end
 * of input with nothing read the result is 0 (and *end EOF); feof and
 * ferror tell end of input from a read error, as with simple_getline.
 *
 * Returns -1 with errno set, touching nothing (*end included), for bad
 * arguments (EINVAL) and when the buffer cannot be allocated (ENOMEM).
 *
 *     char *line = NULL;
 *     size_t size;
 *     ssize_t n;
 *     int end;
 *     do {
 *         n = simple_getline_length(&line, &size, stream, &end);
 *         if (n < 0) ...;               (errno says why)
 *         handle(line, (size_t)n, end);
 *     } while (end != EOF);
 */
ssize_t simple_getline_length(char **lineptr, size_t *capacity, FILE *stream,
                              int *end);

#ifdef __cplusplus
}
#endif

#endif /* GEN_ENTROPY_TABLE_H */
