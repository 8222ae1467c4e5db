// A load or save run on a thread of its own, so that the thread that started it goes on while the
// file system keeps a read or write waiting, and can stop it.
#pragma once

#include <functional>
#include <future>
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

    // Interrupts the read or write the worker waits in, where the system can: the call returns
    // early, and the file layer looks at the operation's stop request before it tries again.
    // Nothing on a system that cannot interrupt a waiting call.
    void interrupt();

    // Once finished: rethrows what the work threw, if anything.
    void rethrow() const;

private:
    // The system's part (worker_posix.cpp, worker_win32.cpp): what makes a thread interruptible,
    // the interruption itself, and the name the system shows for the worker's thread.
    static void prepareinterrupts();
    static void interruptthread(std::thread& thread);
    static void nameworker();

    std::shared_future<void> done_;
    std::thread thread_;
};

}  // namespace binio
