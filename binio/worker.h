// A load or save run on a thread of its own, so that the thread that started it goes on while the
// file system keeps a read or write waiting, and can stop it.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace binio {

class Worker {
public:
    // Starts `work` on a new thread, and calls `onfinished` there once it has finished. Since the
    // worker may outlive the Worker (see the destructor), both must own everything they touch.
    Worker(std::function<void()> work, std::function<void()> onfinished);
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    // Waits for a worker that has finished. One that is still running is left to finish on its
    // own: what it does is thrown away, and its files are closed when it returns.
    ~Worker();

    bool finished() const;

    // Interrupts a read or write that the worker waits in, where the system can: on POSIX systems
    // a signal to its thread makes the call fail with EINTR, and the file layer then asks the
    // operation's progress callback whether to go on. A signal that comes just before the call
    // starts to wait is lost, so it is sent again for as long as the worker should stop and runs.
    void interrupt();

    // Once finished: rethrows what the work threw, if anything.
    void rethrow() const;

private:
    struct State {
        mutable std::mutex mutex;
        bool finished = false;
        std::exception_ptr error;
    };
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace binio
