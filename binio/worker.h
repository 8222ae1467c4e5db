// A load or save run on a thread of its own, so that the thread that started it goes on while the
// file system keeps a read or write waiting, and can stop it.
#pragma once

#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "binio/stop.h"

namespace binio {

class Worker {
public:
    // Starts `work` on a new thread, and calls `onfinished` there once it has finished. Since the
    // worker may outlive the Worker (see the destructor), both must own everything they touch.
    //
    // Once a stop is requested through `stop`, the worker's thread is interrupted in the read or
    // write it waits in, where the system can: the call returns early, and the file layer looks at
    // the stop request before it tries again. An interruption that comes just before the call
    // starts to wait is lost, so it is made again and again, from a thread of the Worker's own,
    // until the work has finished or the worker is stuck.
    Worker(std::function<void()> work, std::function<void()> onfinished, const Stop& stop);
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    // Waits for a worker that has finished. One that is still running is left to finish on its
    // own: what it does is thrown away, and its files are closed when it returns.
    ~Worker();

    bool finished() const;
    // Whether the worker has not finished although a stop was requested and its thread was
    // interrupted as often and as long as it is: it waits in a call that the interruption does
    // not end (or that the system cannot interrupt), and is best left to finish on its own.
    bool stuck() const;

    // Once finished: rethrows what the work threw, if anything.
    void rethrow() const;

private:
    // The system's part (worker_posix.cpp, worker_win32.cpp): what makes a thread interruptible,
    // the thread as the system interrupts it, which the thread takes itself as it starts, and the
    // interruption itself.
    struct Self;
    static void prepareinterrupts();
    static std::shared_ptr<Self> makeself();
    // On the worker's thread as it starts: takes the thread into `self`, and gives it the name the
    // system shows for it.
    static void startthread(Self& self);
    static void interruptthread(const Self& self);

    // Interrupts the worker's thread until the work has finished, the Worker ends or the worker
    // is found stuck; on a thread of its own, which the stop request starts.
    void interrupt();
    // What the stop callback does on the thread that requests the stop.
    struct OnStop {
        Worker* worker;
        void operator()() const;
    };

    std::shared_future<void> done_;
    std::shared_ptr<Self> self_;
    std::shared_future<void> started_;  // once the thread has taken itself into self_
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool ending_ = false;
    bool stuck_ = false;
    std::thread interrupter_;
    // Destroyed first, so that a request that comes later starts no interrupter.
    std::optional<std::stop_callback<OnStop>> onstop_;
};

}  // namespace binio
