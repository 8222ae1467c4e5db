// A worker's thread on POSIX systems: a signal interrupts the read or write it waits in.
#include <pthread.h>
#include <signal.h>

#include <memory>

#include "binio/worker.h"

namespace binio {

namespace {

// The signal that interrupts a worker: one that does nothing where it has no handler, and that
// Qt and the C library leave alone.
constexpr int kInterruptSignal = SIGURG;

void oninterrupt(int) {}

}  // namespace

struct Worker::Self {
    pthread_t thread{};
};

void Worker::prepareinterrupts() {
    struct sigaction action {};
    action.sa_handler = oninterrupt;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART: a read or write that the signal interrupts fails with EINTR instead of
    // waiting again.
    action.sa_flags = 0;
    ::sigaction(kInterruptSignal, &action, nullptr);
}

std::shared_ptr<Worker::Self> Worker::makeself() {
    return std::make_shared<Self>();
}

void Worker::startthread(Self& self) {
    self.thread = ::pthread_self();
#if defined(__linux__)
    ::pthread_setname_np(self.thread, "tessarin-file");
#endif
}

void Worker::interruptthread(const Self& self) {
    // The thread is neither joined nor detached while it is interrupted (see ~Worker), so it can be
    // signalled even once it has ended: the signal then reaches nobody.
    ::pthread_kill(self.thread, kInterruptSignal);
}

}  // namespace binio
