// Loading a whole file into the byte document, all or nothing, in as little memory as the content
// needs.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "binio/load.h"
#include "binio/memory.h"
#include "binio/pagemaker.h"

namespace binio {

namespace {

constexpr std::int64_t kMaxDocument = std::numeric_limits<std::int32_t>::max();

// Runs `grow`, which makes room in a buffer, reporting a failure as the out-of-memory error.
template <typename Grow>
void makeroom(Grow&& grow) {
    try {
        grow();
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryError();
    } catch (const std::length_error&) {
        throw OutOfMemoryError();
    }
}

// What a load takes from memory for `bytes` of content: beside the content, its page tables
// (n/512 on 4 KiB pages, doubled for the allocator and the page-table levels above) and 2 MiB for
// the block being read and the helper thread's stack.
constexpr std::uint64_t kMemorySlack = std::uint64_t{2} << 20;

std::uint64_t memoryneeded(std::uint64_t bytes) {
    return bytes + bytes / 256 + kMemorySlack;
}

// Refuses, as out of memory, to take room for `bytes` more of content that is not there: a load
// that would not fit fails here instead of getting the program killed by the system (as a memory
// cgroup's limit does) with the document lost.
void checkmemory(std::uint64_t bytes, const std::string& root) {
    if (memoryneeded(bytes) > memoryavailable(root)) {
        throw OutOfMemoryError();
    }
}

// Reads the `size` bytes the file had when the load began; bytes added since are not read, and a
// file that ends before is an error. Each block is read into a small buffer and appended, so
// that the content's pages are written once, by the append: sized up front, they would be
// zero-filled first and then overwritten by the read.
std::vector<std::uint8_t> readsized(InputFile& file, const Progress& progress,
                                    const std::string& root, const Stop& stop) {
    const auto size = static_cast<std::size_t>(file.size());
    checkmemory(size, root);
    std::vector<std::uint8_t> content;
    std::vector<std::uint8_t> block;
    makeroom([&] {
        content.reserve(size);
        block.resize(std::min(kBlockSize, size));
    });
    // Declared after `content`, so that it is destroyed first: its thread is joined before the
    // buffer it works in is freed, on return and on a throw alike.
    PageMaker pages(content.data(), size, stop.token());
    report(progress, 0, size);
    while (content.size() < size) {
        std::size_t n = file.read(block.data(), std::min(block.size(), size - content.size()));
        if (n == 0) {
            throw IOError(kReadPastEnd);
        }
        content.insert(content.end(), block.data(), block.data() + n);
        pages.filled(content.size());
        report(progress, content.size(), size);
    }
    return content;
}

// A file of unknown size is read in steps, the first of 1 MiB and each next one twice as large,
// up to 64 MiB. The room for each step is checked before it is taken.
constexpr std::size_t kFirstStep = kBlockSize;
constexpr std::size_t kLargestStep = std::size_t{64} << 20;

// The room of the step after `size` bytes and one of `room`: one byte more than the largest
// document at most, which is enough to know that a file does not fit.
std::size_t steproom(std::size_t size, std::size_t room) {
    return std::min<std::size_t>(room, kMaxDocument + 1 - size);
}

// Counts `n` more bytes read from a file of unknown size after `size` bytes. The total is
// reported as unknown until the end is reached.
void readmore(std::size_t size, std::size_t n, const Progress& progress) {
    if (n == 0) {
        return;
    }
    if (size == 0) {
        report(progress, 0, kUnknownTotal);
    }
    if (size + n > static_cast<std::size_t>(kMaxDocument)) {
        throw RangeError();
    }
    report(progress, size + n, kUnknownTotal);
}

// Reads a file of unknown size until it ends straight into `content`, as a file of known size is
// read, into room that holds the largest document and one byte more: the content never moves,
// and each byte is copied once. That room is address space whose pages cost nothing until they
// are written. A second thread makes them ahead of the caller, as far as the steps checked allow;
// those made past the end of the file are given back.
void readreserved(InputFile& file, const Progress& progress, const std::string& root,
                  const Stop& stop, std::vector<std::uint8_t>& content) {
    std::vector<std::uint8_t> block;
    makeroom([&] { block.resize(kBlockSize); });
    std::size_t checked = 0;
    {
        PageMaker pages(content.data(), content.capacity(), 0, stop.token());
        for (std::size_t room = kFirstStep, n = 1; n > 0; room = std::min(2 * room, kLargestStep)) {
            const std::size_t step = steproom(checked, room);
            checkmemory(step, root);
            checked += step;
            pages.allow(checked);
            while (content.size() < checked &&
                   (n = file.read(block.data(), std::min(kBlockSize, checked - content.size())))) {
                readmore(content.size(), n, progress);
                content.insert(content.end(), block.data(), block.data() + n);
                pages.filled(content.size());
            }
        }
    }
    givepages(content.data() + content.size(), checked - content.size());
}

// Reads a file of unknown size until it ends into pieces of fresh memory, one a step, then moves
// them into one buffer of the size found, each piece freed as soon as it is copied: no byte is
// zero-filled before it is written, and the memory held grows by at most one piece beyond the
// content. A second thread makes the pages of each large piece as the caller reads into it, as
// for a file of known size.
std::vector<std::uint8_t> readpieces(InputFile& file, const Progress& progress,
                                     const std::string& root, const Stop& stop) {
    struct Piece {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size;
    };
    std::vector<Piece> pieces;
    std::size_t done = 0;
    for (std::size_t room = kFirstStep, n = 1; n > 0; room = std::min(2 * room, kLargestStep)) {
        const std::size_t capacity = steproom(done, room);
        checkmemory(capacity, root);
        makeroom([&] {
            pieces.push_back({std::make_unique_for_overwrite<std::uint8_t[]>(capacity), 0});
        });
        Piece& piece = pieces.back();
        PageMaker pages(piece.data.get(), capacity, stop.token());
        while (piece.size < capacity &&
               (n = file.read(piece.data.get() + piece.size,
                              std::min(kBlockSize, capacity - piece.size)))) {
            readmore(done, n, progress);
            piece.size += n;
            pages.filled(piece.size);
            done += n;
        }
    }

    std::vector<std::uint8_t> content;
    checkmemory(std::min(done, kLargestStep), root);
    makeroom([&] { content.reserve(done); });
    for (Piece& piece : pieces) {
        content.insert(content.end(), piece.data.get(), piece.data.get() + piece.size);
        piece.data.reset();
    }
    return content;
}

// Reads a file of unknown size until it ends: into room reserved for the largest document where
// the system lets address space be taken without charging it, else into pieces. An empty file
// reports only that it is done.
std::vector<std::uint8_t> readtoend(InputFile& file, const Progress& progress,
                                    const std::string& root, const Stop& stop) {
    std::vector<std::uint8_t> content;
    if (canreserve(root)) {
        try {
            content.reserve(kMaxDocument + 1);
        } catch (const std::bad_alloc&) {
            // Read into pieces instead.
        }
    }
    if (content.capacity() > 0) {
        readreserved(file, progress, root, stop, content);
    } else {
        content = readpieces(file, progress, root, stop);
    }
    report(progress, content.size(), content.size());
    return content;
}

}  // namespace

void loadfile(const std::string& path, std::vector<std::uint8_t>& document,
              const Progress& progress, const Stop& stop) {
    loadfile(path, document, progress, LoadSettings(), stop);
}

void loadfile(const std::string& path, std::vector<std::uint8_t>& document,
              const Progress& progress, const LoadSettings& settings, const Stop& stop) {
    InputFile file(path, stop);
    if (file.size() > kMaxDocument) {
        throw RangeError();
    }

    // The new content goes into a buffer of its own and replaces the document only once it is
    // complete, so a failed load changes nothing.
    std::vector<std::uint8_t> content = file.sizeknown() && !settings.readtoend
                                            ? readsized(file, progress, settings.systemroot, stop)
                                            : readtoend(file, progress, settings.systemroot, stop);
    file.close();
    throwifstopped(stop);
    document.swap(content);
}

}  // namespace binio
