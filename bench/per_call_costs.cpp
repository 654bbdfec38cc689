// SPDX-License-Identifier: BSD-2-Clause
// What the reader pays per call around its reads where the process has
// threads, compiled as the unit is (no exceptions): the stream lock alone,
// and the lock with the cleanup handler that unlocks a cancelled reader,
// popped without running and followed by the unlock, as the reader does.
#include <pthread.h>

#include <cstdio>

namespace {

void unlock_stream(void* stream)
{
    funlockfile(static_cast<std::FILE*>(stream));
}

}  // namespace

extern "C" {

int cost_lock(std::FILE* stream)
{
    flockfile(stream);
    funlockfile(stream);
    return 0;
}

int cost_lock_cleanup(std::FILE* stream)
{
    flockfile(stream);
    pthread_cleanup_push(unlock_stream, stream);
    pthread_cleanup_pop(0);
    funlockfile(stream);
    return 0;
}

}  // extern "C"
