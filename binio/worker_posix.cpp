// A worker's thread on POSIX systems: a signal interrupts the read or write it waits in.
#include <pthread.h>
#include <signal.h>

#include "binio/worker.h"

namespace binio {

namespace {

// The signal that interrupts a worker: one that does nothing where it has no handler, and that
// Qt and the C library leave alone.
constexpr int kInterruptSignal = SIGURG;

void oninterrupt(int) {}

}  // namespace

void Worker::prepareinterrupts() {
    struct sigaction action {};
    action.sa_handler = oninterrupt;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART: a read or write that the signal interrupts fails with EINTR instead of
    // waiting again.
    action.sa_flags = 0;
    ::sigaction(kInterruptSignal, &action, nullptr);
}

void Worker::interruptthread(std::thread& thread) {
    ::pthread_kill(thread.native_handle(), kInterruptSignal);
}

void Worker::nameworker() {
#if defined(__linux__)
    ::pthread_setname_np(::pthread_self(), "tessarin-file");
#endif
}

}  // namespace binio
