// The request to stop one load or save.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <utility>

namespace binio {

// Shared, as std::stop_source is, by those who may ask a load or save to stop (the window's
// Cancel, a close request, the window giving up on a worker) and by the operation, which looks at
// it between blocks. One thing more than std::stop_source: a save has a point of no return, the
// moment its file is given its name. The request and that moment are decided under one lock, so
// both sides agree on which came first: a request before it stops the save, which then never
// makes its file; a request after it comes too late, and the save ends as if none had been made.
//
// One more thing shared: the file the operation must not leave behind, a save's file from its
// making until it has its name, held as the way to remove it. Whoever takes it removes it: the
// operation, as it ends without naming its file, or the window, which at its end removes the
// files of the saves it gave up on while they still waited (an operation left waiting does not
// outlive the program, and would leave its file).
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

    // Keeps `remove` as the way to remove the operation's file; an empty one once it has its name.
    void keep(std::function<void()> remove) const {
        const std::lock_guard lock(state_->filemutex);
        state_->remove = std::move(remove);
    }

    // Removes the file kept, if any, and keeps nothing. The removal is made under the lock, so that
    // a file is removed once, and a removal that comes while another is made waits for it.
    void removefile() const {
        const std::lock_guard lock(state_->filemutex);
        if (const auto remove = std::exchange(state_->remove, {})) {
            remove();
        }
    }

private:
    struct State {
        std::mutex mutex;
        std::stop_source source;
        bool settled = false;
        std::string place;
        // Apart from `mutex`, which the window takes, so that a removal that waits on the file
        // system never holds up the window's stop requests.
        std::mutex filemutex;
        std::function<void()> remove;
    };
    std::shared_ptr<State> state_;
};

}  // namespace binio
