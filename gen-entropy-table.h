/*
 * gen-entropy-table: symbol statistics of the 64 probability states of the
 * H.265/HEVC CABAC engine, and a bounded line reader.
 *
 * Usable from C and C++: every name below has C linkage, so its symbol is
 * exactly its name.
 */
#ifndef GEN_ENTROPY_TABLE_H
#define GEN_ENTROPY_TABLE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

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
 * place from load; the tool itself never reads or changes it.
 *
 * Observed LPS probability of state k:
 *     (double)state_counts[k][0] / (state_counts[k][0] + state_counts[k][1])
 * (the sum of a row fits in 32 bits; rows 63 and 64 have a zero total).
 */
#define STATE_COUNT_ROWS 65
extern uint32_t state_counts[STATE_COUNT_ROWS][2];

#ifdef __cplusplus
}
#endif

#endif /* GEN_ENTROPY_TABLE_H */
