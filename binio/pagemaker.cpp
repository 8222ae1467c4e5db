// The page helper of a load.
#include "binio/pagemaker.h"

#include <algorithm>
#include <system_error>

#include "binio/memory.h"

namespace binio {

PageMaker::PageMaker(const std::uint8_t* data, std::size_t size, std::size_t allowed,
                     std::stop_token stop)
    : start_(reinterpret_cast<std::uintptr_t>(data)),
      first_((start_ + kChunk - 1) & ~(kChunk - 1)),
      last_((start_ + size) & ~(kChunk - 1)),
      limit_(allowed) {
    if (first_ + 2 * kChunk <= last_) {
        try {
            worker_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // The caller makes every page itself.
            return;
        }
        onstop_.emplace(std::move(stop), GiveUp{this});
    }
}

PageMaker::~PageMaker() {
    if (worker_.joinable()) {
        allow(kStop);
        worker_.join();
    }
}

void PageMaker::run() noexcept {
    // The chunks below `done` are made, or left to the caller.
    std::uintptr_t done = first_;
    for (;;) {
        const std::uint32_t seen = changes_.load();
        if (givenup_) {
            // What was made past the caller is given back; what the caller writes meanwhile is
            // thrown away with the load.
            const std::uintptr_t filled = start_ + filled_.load(std::memory_order_relaxed);
            if (done > filled) {
                givepages(reinterpret_cast<void*>(filled), done - filled);
            }
            return;
        }
        const std::size_t limit = limit_;
        if (limit == kStop) {
            return;
        }
        const std::size_t ahead = filled_.load(std::memory_order_relaxed) + kAhead;
        const std::uintptr_t top =
            std::min(last_, (start_ + std::min(limit, ahead)) & ~(kChunk - 1));
        for (std::uintptr_t end = top; end > done; end -= kChunk) {
            const std::uintptr_t begin = end - kChunk;
            // A chunk's room is left before the caller. A system that cannot make pages leaves
            // every page to the caller.
            if (limit_ == kStop || givenup_ ||
                begin < start_ + filled_.load(std::memory_order_relaxed) + kChunk ||
                !makepages(reinterpret_cast<void*>(begin), kChunk)) {
                break;
            }
        }
        done = std::max(done, top);
        // Waits for the caller to go on, or for the end, even once all is made: a stop still
        // gives back what lies past the caller.
        changes_.wait(seen);
    }
}

}  // namespace binio
