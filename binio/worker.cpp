// The worker thread of a load or save.
#include "binio/worker.h"

#include <chrono>
#include <utility>

namespace binio {

Worker::Worker(std::function<void()> work, std::function<void()> onfinished) {
    prepareinterrupts();
    std::packaged_task<void()> task(std::move(work));
    done_ = task.get_future().share();
    thread_ = std::thread([task = std::move(task), onfinished = std::move(onfinished)]() mutable {
        nameworker();
        task();
        onfinished();
    });
}

Worker::~Worker() {
    if (finished()) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

bool Worker::finished() const {
    return done_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

void Worker::interrupt() {
    // The thread is neither joined nor detached while the Worker lives, so it can be signalled
    // even once it has ended: the signal then reaches nobody.
    if (!finished()) {
        interruptthread(thread_);
    }
}

void Worker::rethrow() const {
    done_.get();
}

}  // namespace binio
