// A helper thread that makes the memory pages of a fresh buffer while a load fills it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>

namespace binio {

// Makes the pages of a fresh buffer on a second thread while the caller fills it from the front.
// Each page of a fresh buffer costs a fault and a page of zeroes when it is first touched, more
// than copying the bytes into it; this way two threads share that work. The pages are ordinary
// ones, not huge pages: those need memory in large pieces, which is not always at hand. The
// helper only ever makes pages, never writes into them.
// The helper may make the pages up to where the caller allows, all of the buffer unless told
// otherwise, but never more than kAhead past what the caller has filled: a read that stalls
// holds no more than it has read and that much. It works from its end back towards the caller
// and stops where it meets the caller, who makes its own pages as it goes; when its end moves
// on, it does the same from the new end back to the old one.
// Once the load's stop is requested, the helper stops and gives back the pages past what the
// caller has filled, even while the caller still waits in a read: a load given up holds only
// what it has read.
class PageMaker {
public:
    // How far ahead of the caller the helper may make pages: enough for it to keep ahead of any
    // disk, a small part of a large document.
    static constexpr std::size_t kAhead = std::size_t{64} << 20;

    PageMaker(const std::uint8_t* data, std::size_t size, std::stop_token stop)
        : PageMaker(data, size, size, std::move(stop)) {}
    PageMaker(const std::uint8_t* data, std::size_t size, std::size_t allowed,
              std::stop_token stop);
    PageMaker(const PageMaker&) = delete;
    PageMaker& operator=(const PageMaker&) = delete;
    ~PageMaker();

    // The caller has filled the first `size` bytes.
    void filled(std::size_t size) {
        // The helper's end moves a chunk at a time, so it is woken only when that happens.
        if (filled_.exchange(size, std::memory_order_relaxed) / kChunk != size / kChunk) {
            wake();
        }
    }
    // The helper may make the pages of the first `size` bytes.
    void allow(std::size_t size) {
        limit_.store(size);
        wake();
    }

private:
    void run() noexcept;
    // What the stop callback does on the thread that requests the stop.
    struct GiveUp {
        PageMaker* maker;
        void operator()() const {
            maker->givenup_.store(true);
            maker->wake();
        }
    };
    void wake() {
        changes_.fetch_add(1);
        changes_.notify_one();
    }

    // The helper makes pages in chunks of 4 MiB, each starting on a multiple of 4 MiB and so on
    // a page boundary, as madvise requires.
    static constexpr std::uintptr_t kChunk = std::uintptr_t{4} << 20;
    static_assert(kAhead % kChunk == 0);
    // The limit that tells the helper to end.
    static constexpr std::size_t kStop = std::numeric_limits<std::size_t>::max();

    std::uintptr_t start_;
    std::uintptr_t first_;  // the whole chunks from first_ to last_ are the helper's to make
    std::uintptr_t last_;
    std::atomic<std::size_t> filled_{0};
    std::atomic<std::size_t> limit_;
    std::atomic<bool> givenup_{false};
    std::atomic<std::uint32_t> changes_{0};  // counts what the helper is woken for
    std::thread worker_;  // after what it uses, so that it starts once that exists
    // Destroyed first, so that a request that comes later finds nothing of the helper's.
    std::optional<std::stop_callback<GiveUp>> onstop_;
};

}  // namespace binio
