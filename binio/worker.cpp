// The worker thread of a load or save.
#include "binio/worker.h"

#include <utility>

#include "binio/fileio.h"

namespace binio {

Worker::Worker(std::function<void()> work, std::function<void()> onfinished)
    : state_(std::make_shared<State>()) {
    prepareinterrupts();
    thread_ =
        std::thread([state = state_, work = std::move(work), onfinished = std::move(onfinished)] {
            nameworker();
            std::exception_ptr error;
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
            {
                const std::lock_guard lock(state->mutex);
                state->error = error;
                state->finished = true;
            }
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
    const std::lock_guard lock(state_->mutex);
    return state_->finished;
}

void Worker::interrupt() {
    // Under the lock the thread cannot have ended: it takes the lock to say it has finished.
    const std::lock_guard lock(state_->mutex);
    if (!state_->finished) {
        interruptthread(thread_);
    }
}

void Worker::rethrow() const {
    const std::lock_guard lock(state_->mutex);
    if (state_->error) {
        std::rethrow_exception(state_->error);
    }
}

}  // namespace binio
