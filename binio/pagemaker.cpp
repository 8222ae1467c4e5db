// The page helper of a load.
#include "binio/pagemaker.h"

#include <algorithm>
#include <system_error>

#include "binio/memory.h"

namespace binio {

PageMaker::PageMaker(const std::uint8_t* data, std::size_t size, std::size_t allowed)
    : start_(reinterpret_cast<std::uintptr_t>(data)),
      first_((start_ + kChunk - 1) & ~(kChunk - 1)),
      last_((start_ + size) & ~(kChunk - 1)),
      limit_(allowed) {
    if (first_ + 2 * kChunk <= last_) {
        try {
            worker_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // The caller makes every page itself.
        }
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
    for (std::uintptr_t done = first_; done < last_;) {
        const std::size_t limit = limit_;
        if (limit == kStop) {
            return;
        }
        const std::uintptr_t top = std::min(last_, (start_ + limit) & ~(kChunk - 1));
        for (std::uintptr_t end = top; end > done; end -= kChunk) {
            const std::uintptr_t begin = end - kChunk;
            // A chunk's room is left before the caller. A system that cannot make pages leaves
            // every page to the caller.
            if (limit_ == kStop ||
                begin < start_ + filled_.load(std::memory_order_relaxed) + kChunk ||
                !makepages(reinterpret_cast<void*>(begin), kChunk)) {
                break;
            }
        }
        done = std::max(done, top);
        limit_.wait(limit);
    }
}

}  // namespace binio
