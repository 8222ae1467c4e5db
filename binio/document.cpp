// Loading a whole file into the byte document and writing it back raw or as text.
// What is the same on every system lives here; the system's own calls are behind fileio.h.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "binio/binio.h"
#include "binio/fileio.h"
#include "binio/load.h"

namespace binio {

namespace {

// Files move in blocks of this size: large enough that the number of system calls does not
// matter, small enough that progress is reported often.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

constexpr std::int64_t kMaxDocument = std::numeric_limits<std::int32_t>::max();

void report(const Progress& progress, std::uint64_t done, std::uint64_t total) {
    if (progress && !progress(done, total)) {
        throw Cancelled();
    }
}

// The progress callback, remembering the figures it was last given: when a signal interrupts a
// read or write that waits, it is asked again with them whether to go on.
class Reporter {
public:
    // Reports to `progress`, and is asked again by `file` (an InputFile or OutputFile), which
    // must not read or write once the Reporter is gone.
    template <typename File>
    Reporter(const Progress& progress, File& file) : progress_(progress) {
        file.oninterrupt([this] { again(); });
    }
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    // The callback to report through; it forwards to the caller's.
    Progress callback() {
        if (!progress_) {
            return {};
        }
        return [this](std::uint64_t done, std::uint64_t total) {
            done_ = done;
            total_ = total;
            return progress_(done, total);
        };
    }
    // Throws Cancelled when the caller's callback says to stop.
    void again() const { report(progress_, done_, total_); }

private:
    const Progress& progress_;
    std::uint64_t done_ = 0;
    std::uint64_t total_ = kUnknownTotal;
};

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

// The spacing of the texts in the lookup table: the width rounded up to a power of two, so that
// a text of width 3 is copied as one 4-byte move.
constexpr std::size_t tablestride(std::size_t width) {
    return std::bit_ceil(width);
}

// Writes the text of each of the n bytes at `bytes` to `out`, copying it from `table`, which
// holds one text per byte value every tablestride(Width) characters. With a constant width each
// copy compiles to one load and one store instead of a call to memcpy per byte; it moves the
// whole stride, so up to stride - Width bytes past the last text are overwritten too.
template <std::size_t Width>
void encodewidth(const std::uint8_t* bytes, std::size_t n, const char* table, std::uint8_t* out) {
    constexpr std::size_t stride = tablestride(Width);
    for (const std::uint8_t* end = bytes + n; bytes != end; ++bytes) {
        std::memcpy(out, table + *bytes * stride, stride);
        out += Width;
    }
}

// The texts of one radix are 2 (hex), 3 (decimal) or 8 (binary) characters wide.
constexpr std::size_t kWidestText = 8;
static_assert(tablestride(kWidestText) == kWidestText);

void encode(const std::uint8_t* bytes, std::size_t n, const char* table, std::size_t width,
            std::uint8_t* out) {
    switch (width) {
        case 2:
            return encodewidth<2>(bytes, n, table, out);
        case 3:
            return encodewidth<3>(bytes, n, table, out);
        default:
            return encodewidth<kWidestText>(bytes, n, table, out);
    }
}

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

// What a load takes from memory for `bytes` of content, as binio.h reckons it.
constexpr std::uint64_t kMemorySlack = std::uint64_t{2} << 20;

std::uint64_t memoryneeded(std::uint64_t bytes) {
    return bytes + bytes / 256 + kMemorySlack;
}

// Refuses, as out of memory, to take room for `bytes` more of content that is not there.
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
                                    const std::string& root) {
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
    PageMaker pages(content.data(), size);
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
                  std::vector<std::uint8_t>& content) {
    std::vector<std::uint8_t> block;
    makeroom([&] { block.resize(kBlockSize); });
    std::size_t checked = 0;
    {
        PageMaker pages(content.data(), content.capacity(), 0);
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
                                     const std::string& root) {
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
        PageMaker pages(piece.data.get(), capacity);
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
                                    const std::string& root) {
    std::vector<std::uint8_t> content;
    if (canreserve(root)) {
        try {
            content.reserve(kMaxDocument + 1);
        } catch (const std::bad_alloc&) {
            // Read into pieces instead.
        }
    }
    if (content.capacity() > 0) {
        readreserved(file, progress, root, content);
    } else {
        content = readpieces(file, progress, root);
    }
    report(progress, content.size(), content.size());
    return content;
}

}  // namespace

std::string iomessage(int code) {
    switch (code) {
        case kFileNotFound:
            return "ファイルが見つかりません";
        case kPathNotFound:
            return "不正なファイル名です";
        case kTooManyOpenFiles:
            return "オープンしたファイルが多すぎます";
        case kAccessDenied:
            return "ファイルへのアクセスが拒否されました";
        case kReadPastEnd:
            return "ファイルの末尾以降を読み込みました";
        case kDiskFullShortWrite:
            return "ディスクがいっぱいです";
        default:
            return "I/O エラー (" + std::to_string(code) + ")";
    }
}

const char* OutOfMemoryError::what() const noexcept {
    return "メモリが足りません";
}

const char* RangeError::what() const noexcept {
    return "範囲チェックエラー";
}

const char* Cancelled::what() const noexcept {
    return "cancelled";
}

void loadfile(const std::string& path, std::vector<std::uint8_t>& document) {
    loadfile(path, document, Progress());
}

void loadfile(const std::string& path, std::vector<std::uint8_t>& document,
              const Progress& progress) {
    loadfile(path, document, progress, LoadSettings());
}

void loadfile(const std::string& path, std::vector<std::uint8_t>& document,
              const Progress& progress, const LoadSettings& settings) {
    InputFile file(path);
    if (file.size() > kMaxDocument) {
        throw RangeError();
    }
    Reporter reporter(progress, file);
    const Progress tracked = reporter.callback();

    // The new content goes into a buffer of its own and replaces the document only once it is
    // complete, so a failed load changes nothing.
    std::vector<std::uint8_t> content = file.sizeknown() && !settings.readtoend
                                            ? readsized(file, tracked, settings.systemroot)
                                            : readtoend(file, tracked, settings.systemroot);
    file.close();
    document.swap(content);
}

void savebin(const std::string& path, const std::vector<std::uint8_t>& document) {
    savebin(path, document, Progress());
}

void savebin(const std::string& path, const std::vector<std::uint8_t>& document,
             const Progress& caller) {
    OutputFile out(path);
    Reporter reporter(caller, out);
    const Progress progress = reporter.callback();
    const std::size_t size = document.size();
    report(progress, 0, size);
    for (std::size_t done = 0; done < size;) {
        std::size_t n = std::min(kBlockSize, size - done);
        out.write(document.data() + done, n);
        done += n;
        report(progress, done, size);
    }
    out.commit();
}

void savetext(const std::string& path, const std::vector<std::uint8_t>& document,
              std::uint8_t radix) {
    savetext(path, document, radix, Progress());
}

void savetext(const std::string& path, const std::vector<std::uint8_t>& document,
              std::uint8_t radix, const Progress& caller) {
    std::string (*label)(std::uint8_t) = nullptr;
    switch (radix) {
        case 16:
            label = bytetohex;
            break;
        case 2:
            label = bytetobin;
            break;
        case 10:
            label = [](std::uint8_t b) { return bytetodec(b); };
            break;
        default:
            break;
    }
    OutputFile out(path);
    Reporter reporter(caller, out);
    const Progress progress = reporter.callback();
    if (label == nullptr) {
        // An unknown radix still leaves an empty file, as a save in any mode leaves a file.
        out.commit();
        return;
    }

    // Every byte's text has the same width in one radix, so the texts are looked up in a table
    // and copied into a large buffer that is written whenever it is full.
    const std::size_t width = label(0).size();
    const std::size_t stride = tablestride(width);
    std::array<char, 256 * kWidestText> table{};
    for (int b = 0; b < 256; ++b) {
        std::memcpy(table.data() + b * stride, label(static_cast<std::uint8_t>(b)).data(), width);
    }
    // The spare bytes at the end take what the copy of the last text moves past it.
    const std::size_t perblock = kBlockSize / width;
    std::vector<std::uint8_t> buffer(perblock * width + (stride - width));

    const std::size_t size = document.size();
    report(progress, 0, size);
    for (std::size_t done = 0; done < size;) {
        std::size_t n = std::min(perblock, size - done);
        encode(document.data() + done, n, table.data(), width, buffer.data());
        out.write(buffer.data(), n * width);
        done += n;
        report(progress, done, size);
    }
    out.commit();
}

}  // namespace binio
