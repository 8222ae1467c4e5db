// Byte texts and byte document I/O.
//
// The byte texts turn one byte (or one offset) into what the user sees for it in each display
// mode; the grid, the byte editor, the status bar and the text export all use them, so a byte
// reads the same everywhere. The document I/O reads a whole file into memory and writes it back
// raw or as a text of fixed-width numbers. Failures are thrown, never returned.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace binio {

// Labels: 0-31 and 127 get bracketed mnemonics ("[NUL]"), 32 is "space", every other byte is the
// one-character text holding that byte, 128-255 included (no code-page translation).
std::string bytetoascii(std::uint8_t b);
// Two upper-case hex digits: 10 -> "0A".
std::string bytetohex(std::uint8_t b);
// Eight binary digits, most significant bit first: 5 -> "00000101".
std::string bytetobin(std::uint8_t b);
// Decimal, zero-padded to at least three digits: 7 -> "007"; a longer value keeps all its digits.
std::string bytetodec(std::int32_t value);
// Upper-case hex without padding: 0 -> "0", 31 -> "1F"; a negative offset gives "".
std::string addrtohex(std::int32_t offset);

// Progress of a long load or save: bytes done so far and the total. Returning false asks the
// operation to stop; it then throws Cancelled and leaves everything as it was. It is called on
// the thread that runs the operation, after every block, and again with the same figures when a
// signal interrupts a read or write that waits (see Worker), so that a stop is not held up by a
// file system that does not answer.
using Progress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// The total a load reports while the file's size cannot be known before its end is read.
inline constexpr std::uint64_t kUnknownTotal = std::numeric_limits<std::uint64_t>::max();

// Reads the whole regular file at `path` into `document`. All or nothing: on any failure the
// document is left exactly as it was. A file that reports a size of 0 is read to its end, since
// pseudo-files such as those in /proc report no size but have content.
// For a large file, a helper thread may prepare the memory pages of the new content while the
// caller reads into it; it never writes data, and it is joined before loadfile returns or throws.
// `progress` is always called on the caller's thread.
//
// A file read to its end is read, where the system allows it, into a document whose capacity is
// reserved for the largest document, 2^31 bytes: for the document's life that is address space,
// not memory, beyond its content (the pages past the content are given back when the load ends).
// Where a limit on the address space or data of the process is set, or the system charges
// address space as memory (strict overcommit; Windows), such a file is read into pieces and
// copied into a document of its own size instead. Either way the load holds at most 64 MiB more
// than the content at its peak: pages made ahead of the reading, or the last piece.
//
// Memory is checked before it is taken, so that a load that would not fit fails with
// OutOfMemoryError instead of getting the program killed by the system (as a memory cgroup's
// limit does) with the document lost. A load of n bytes needs n + n/256 + 2 MiB: beside the
// content, its page tables (n/512 on 4 KiB pages, doubled for the allocator and the page-table
// levels above) and 2 MiB for the block being read and the helper thread's stack. What is there
// is the least of the system's MemAvailable plus its free swap, and, for each memory cgroup from
// the process's own up to the top (cgroup v2 or v1), its limit less its use, plus the page cache
// it holds (which the kernel drops before it kills: counting it as free refuses nothing that
// fits; only dirty cache is a little slower to drop), plus, on v2, its swap still free. A cgroup
// without a limit, and a system that tells none of this, refuse nothing; nor does Windows, which
// refuses an allocation it cannot back when it is made rather than killing the program later. A
// file read to its end is checked a step at a time, before each step of up to 64 MiB is taken, so
// near the limit such a file may be refused up to 64 MiB early.
void loadfile(const std::string& path, std::vector<std::uint8_t>& document);
void loadfile(const std::string& path, std::vector<std::uint8_t>& document,
              const Progress& progress);

// Write the document under a name that must not exist yet: raw bytes, or a text of fixed-width
// numbers in radix 16, 2 or 10 (any other radix writes an empty file). The output appears whole
// or not at all and never replaces anything; an existing name fails with code 80 (5 for a
// directory).
void savebin(const std::string& path, const std::vector<std::uint8_t>& document);
void savebin(const std::string& path, const std::vector<std::uint8_t>& document,
             const Progress& progress);
void savetext(const std::string& path, const std::vector<std::uint8_t>& document,
              std::uint8_t radix);
void savetext(const std::string& path, const std::vector<std::uint8_t>& document,
              std::uint8_t radix, const Progress& progress);

// Codes of the I/O error beside the platform's own numbers.
enum : int {
    kFileNotFound = 2,
    kPathNotFound = 3,
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kWriteFault = 29,
    kReadFault = 30,
    kFileExists = 80,
    kReadPastEnd = 100,
    kDiskFullShortWrite = 101,
    kDiskFull = 112,
};

// The message the user sees for an I/O error code.
std::string iomessage(int code);

class IOError : public std::exception {
public:
    explicit IOError(int code) : code_(code), message_(iomessage(code)) {}
    int code() const { return code_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int code_;
    std::string message_;
};

// Not enough memory to hold a file being loaded.
class OutOfMemoryError : public std::exception {
public:
    const char* what() const noexcept override;
};

// A file too large for the document (2^31 bytes or more).
class RangeError : public std::exception {
public:
    const char* what() const noexcept override;
};

// The progress callback asked a load or save to stop.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override;
};

}  // namespace binio
