// The request to stop one load or save.
#pragma once

#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

namespace binio {

// Shared, as std::stop_source is, by those who may ask a load or save to stop (the window's
// Cancel, a close request, the window giving up on a worker) and by the operation, which looks at
// it between blocks. One thing more than std::stop_source: a save has a point of no return, the
// moment its file is given its name. The request and that moment are decided under one lock, so
// both sides agree on which came first: a request before it stops the save, which then never
// makes its file; a request after it comes too late, and the save ends as if none had been made.
class Stop {
public:
    Stop() : state_(std::make_shared<State>()) {}

    // Requests the stop: true when it takes effect, false when the operation has passed its point
    // of no return.
    bool request() {
        const std::lock_guard lock(state_->mutex);
        if (state_->settled) {
            return false;
        }
        state_->source.request_stop();
        return true;
    }

    bool requested() const { return state_->source.stop_requested(); }

    // For a std::stop_callback that acts on the request.
    std::stop_token token() const { return state_->source.get_token(); }

    // Where the operation is in the file system: the path of the file it works on, every link
    // resolved, once it has opened it (empty before, and where the system does not tell). Whoever
    // gives up on an operation that still waits learns here which file system holds it.
    void setplace(std::string place) const {
        const std::lock_guard lock(state_->mutex);
        state_->place = std::move(place);
    }
    std::string place() const {
        const std::lock_guard lock(state_->mutex);
        return state_->place;
    }

    // The operation's point of no return: true when no stop was requested, and from then on none
    // takes effect; false when one was, and the operation must stop.
    bool settle() const {
        const std::lock_guard lock(state_->mutex);
        state_->settled = !state_->source.stop_requested();
        return state_->settled;
    }

private:
    struct State {
        std::mutex mutex;
        std::stop_source source;
        bool settled = false;
        std::string place;
    };
    std::shared_ptr<State> state_;
};

}  // namespace binio
