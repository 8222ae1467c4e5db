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
    explicit Reporter(const Progress& progress) : progress_(progress) {}
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

// Makes the pages of a fresh buffer on a second thread, from the back, while the caller fills it
// from the front. Each page of a fresh buffer costs a fault and a page of zeroes when it is first
// touched, more than copying the bytes into it; this way two threads share that work. The pages
// are ordinary ones, not huge pages: those need memory in large pieces, which is not always at
// hand. The helper only ever makes pages, never writes into them, and stops where the caller is.
class PageMaker {
public:
    PageMaker(const std::uint8_t* data, std::size_t size);
    PageMaker(const PageMaker&) = delete;
    PageMaker& operator=(const PageMaker&) = delete;
    ~PageMaker();

    // The caller has filled the first `size` bytes.
    void filled(std::size_t size) { filled_.store(size, std::memory_order_relaxed); }

private:
    void run() noexcept;

    // The helper makes pages in chunks of 4 MiB, each starting on a multiple of 4 MiB and so on
    // a page boundary, as madvise requires.
    static constexpr std::uintptr_t kChunk = std::uintptr_t{4} << 20;

    std::uintptr_t start_;
    std::uintptr_t first_;  // the whole chunks from first_ to last_ are the helper's to make
    std::uintptr_t last_;
    std::atomic<std::size_t> filled_{0};
    std::atomic<bool> stopping_{false};
    std::thread worker_;  // last, so that it starts once everything it uses exists
};

PageMaker::PageMaker(const std::uint8_t* data, std::size_t size)
    : start_(reinterpret_cast<std::uintptr_t>(data)),
      first_((start_ + kChunk - 1) & ~(kChunk - 1)),
      last_((start_ + size) & ~(kChunk - 1)) {
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
        stopping_ = true;
        worker_.join();
    }
}

void PageMaker::run() noexcept {
    for (std::uintptr_t end = last_; end > first_ && !stopping_;) {
        const std::uintptr_t begin = end - kChunk;
        // A chunk's room is left before the caller, who makes its own pages as it goes.
        if (begin < start_ + filled_.load(std::memory_order_relaxed) + kChunk) {
            return;
        }
        // A system that cannot leaves every page to the caller.
        if (!makepages(reinterpret_cast<void*>(begin), end - begin)) {
            return;
        }
        end = begin;
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

// A file of unknown size is read into pieces of fresh memory, the first of 1 MiB and each next
// one twice as large, up to 64 MiB.
constexpr std::size_t kFirstPiece = kBlockSize;
constexpr std::size_t kLargestPiece = std::size_t{64} << 20;

// Reads a file of unknown size until it ends, then moves the pieces into one buffer of the size
// found, each piece freed as soon as it is copied: no byte is zero-filled before it is written,
// and the memory held grows by at most one piece beyond the content. A second thread makes the
// pages of each large piece as the caller reads into it, as for a file of known size. Each
// piece's room is checked before it is taken.
// Reading one byte more than the largest document is enough to know that the file does not fit.
// The total is reported as unknown until the end is reached; an empty file reports only that it
// is done.
std::vector<std::uint8_t> readtoend(InputFile& file, const Progress& progress,
                                    const std::string& root) {
    struct Piece {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size;
    };
    std::vector<Piece> pieces;
    std::size_t done = 0;
    for (std::size_t room = kFirstPiece;; room = std::min(2 * room, kLargestPiece)) {
        const std::size_t capacity = std::min<std::size_t>(room, kMaxDocument + 1 - done);
        checkmemory(capacity, root);
        makeroom([&] {
            pieces.push_back({std::make_unique_for_overwrite<std::uint8_t[]>(capacity), 0});
        });
        Piece& piece = pieces.back();
        PageMaker pages(piece.data.get(), capacity);
        std::size_t n = 1;
        while (piece.size < capacity && n > 0) {
            n = file.read(piece.data.get() + piece.size,
                          std::min(kBlockSize, capacity - piece.size));
            if (done == 0 && n > 0) {
                report(progress, 0, kUnknownTotal);
            }
            piece.size += n;
            pages.filled(piece.size);
            done += n;
            if (done > static_cast<std::size_t>(kMaxDocument)) {
                throw RangeError();
            }
            if (n > 0) {
                report(progress, done, kUnknownTotal);
            }
        }
        if (n == 0) {
            break;
        }
    }

    std::vector<std::uint8_t> content;
    checkmemory(std::min(done, kLargestPiece), root);
    makeroom([&] { content.reserve(done); });
    for (Piece& piece : pieces) {
        content.insert(content.end(), piece.data.get(), piece.data.get() + piece.size);
        piece.data.reset();
    }
    report(progress, done, done);
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
    Reporter reporter(progress);
    const Progress tracked = reporter.callback();
    file.oninterrupt([&reporter] { reporter.again(); });

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
    Reporter reporter(caller);
    const Progress progress = reporter.callback();
    out.oninterrupt([&reporter] { reporter.again(); });
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
    Reporter reporter(caller);
    const Progress progress = reporter.callback();
    out.oninterrupt([&reporter] { reporter.again(); });
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
