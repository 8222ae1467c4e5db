// A helper thread that makes the memory pages of a fresh buffer while a load fills it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <thread>

namespace binio {

// Makes the pages of a fresh buffer on a second thread while the caller fills it from the front.
// Each page of a fresh buffer costs a fault and a page of zeroes when it is first touched, more
// than copying the bytes into it; this way two threads share that work. The pages are ordinary
// ones, not huge pages: those need memory in large pieces, which is not always at hand. The
// helper only ever makes pages, never writes into them.
// The helper may make the pages up to where the caller allows, all of the buffer unless told
// otherwise. It works from there back towards the caller and stops where it meets the caller,
// who makes its own pages as it goes; when the caller allows more, it does the same from the new
// end back to the old one.
class PageMaker {
public:
    PageMaker(const std::uint8_t* data, std::size_t size) : PageMaker(data, size, size) {}
    PageMaker(const std::uint8_t* data, std::size_t size, std::size_t allowed);
    PageMaker(const PageMaker&) = delete;
    PageMaker& operator=(const PageMaker&) = delete;
    ~PageMaker();

    // The caller has filled the first `size` bytes.
    void filled(std::size_t size) { filled_.store(size, std::memory_order_relaxed); }
    // The helper may make the pages of the first `size` bytes.
    void allow(std::size_t size) {
        limit_.store(size);
        limit_.notify_one();
    }

private:
    void run() noexcept;

    // The helper makes pages in chunks of 4 MiB, each starting on a multiple of 4 MiB and so on
    // a page boundary, as madvise requires.
    static constexpr std::uintptr_t kChunk = std::uintptr_t{4} << 20;
    // The limit that tells the helper to stop.
    static constexpr std::size_t kStop = std::numeric_limits<std::size_t>::max();

    std::uintptr_t start_;
    std::uintptr_t first_;  // the whole chunks from first_ to last_ are the helper's to make
    std::uintptr_t last_;
    std::atomic<std::size_t> filled_{0};
    std::atomic<std::size_t> limit_;
    std::thread worker_;  // last, so that it starts once everything it uses exists
};

}  // namespace binio
