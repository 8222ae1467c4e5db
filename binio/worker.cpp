// The worker thread of a load or save, and its interruption once it is asked to stop.
#include "binio/worker.h"

#include <chrono>
#include <system_error>
#include <utility>

namespace binio {

namespace {

// How often a worker asked to stop is interrupted, and for how long before it counts as stuck:
// whoever waits for it goes on within a tenth of a second of the request.
constexpr std::chrono::milliseconds kInterval{10};
constexpr std::chrono::milliseconds kBound{60};
// The interruptions made before it counts as stuck, however late the interrupting thread runs:
// one can be lost.
constexpr int kLeastInterrupts = 3;

}  // namespace

Worker::Worker(std::function<void()> work, std::function<void()> onfinished, const Stop& stop)
    : self_(makeself()) {
    prepareinterrupts();
    std::packaged_task<void()> task(std::move(work));
    std::promise<void> started;
    done_ = task.get_future().share();
    started_ = started.get_future().share();
    thread_ = std::thread([task = std::move(task), onfinished = std::move(onfinished), self = self_,
                           started = std::move(started)]() mutable {
        startthread(*self);
        started.set_value();
        task();
        onfinished();
    });
    onstop_.emplace(stop.token(), OnStop{this});
}

Worker::~Worker() {
    onstop_.reset();
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    if (interrupter_.joinable()) {
        interrupter_.join();
    }
    if (finished()) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

bool Worker::finished() const {
    return done_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

bool Worker::stuck() const {
    const std::lock_guard lock(mutex_);
    return stuck_ && !finished();
}

void Worker::rethrow() const {
    done_.get();
}

void Worker::OnStop::operator()() const {
    const std::lock_guard lock(worker->mutex_);
    try {
        worker->interrupter_ = std::thread(&Worker::interrupt, worker);
    } catch (const std::system_error&) {
        // No thread to interrupt from: the worker is left to finish on its own.
        worker->stuck_ = true;
    }
}

void Worker::interrupt() {
    const auto until = std::chrono::steady_clock::now() + kBound;
    std::unique_lock lock(mutex_);
    for (int sent = 0; !ending_ && !finished();) {
        if (sent >= kLeastInterrupts && std::chrono::steady_clock::now() >= until) {
            stuck_ = true;
            return;
        }
        // A thread that has not taken itself yet waits in nothing.
        if (started_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            interruptthread(*self_);
            ++sent;
        }
        wake_.wait_for(lock, kInterval, [this] { return ending_; });
    }
}

}  // namespace binio
