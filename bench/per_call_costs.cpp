// What the reader pays per call around its reads, compiled as the unit is
// (no exceptions): the stream lock alone, the lock with the cleanup handler
// that unlocks a cancelled reader (the reader's choice), and the lock with
// cancellation turned off for the call instead (the alternative).
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
    pthread_cleanup_pop(1);
    return 0;
}

int cost_lock_cancel_off(std::FILE* stream)
{
    int state;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    flockfile(stream);
    funlockfile(stream);
    pthread_setcancelstate(state, &state);
    return 0;
}

}  // extern "C"
