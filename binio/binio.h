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

#include "binio/stop.h"

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

// Progress of a long load or save: bytes done so far and the total. It is called on the thread
// that runs the operation, with nothing done before the first block and again after every block.
// A load that reads its file to its end knows of a first block only once it has read it, and makes
// the first call then: an empty file reports only that it is done. A text save in a radix it does
// not know reports nothing.
using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// The total a load reports while the file's size cannot be known before its end is read.
inline constexpr std::uint64_t kUnknownTotal = std::numeric_limits<std::uint64_t>::max();

// Loads and saves stop with Cancelled once a stop is requested through `stop`: between blocks,
// when a read or write that waits is interrupted (see Worker), and, for a save, up to the moment
// its file is given its name. A stopped operation leaves everything as it was.

// Reads the whole regular file at `path` into `document`. All or nothing: on any failure the
// document is left exactly as it was. A file whose size says nothing of its content (a size of 0,
// as /proc/cpuinfo reports, or any file of the file systems that make their content as it is
// read, such as sysfs) is read to its end.
//
// A file that would not fit in the memory left (memory.h tells how that is reckoned) is refused
// with OutOfMemoryError before its content is taken, so that the system does not kill the program
// with the document lost; a file read to its end is checked a step of up to 64 MiB at a time, and
// may be refused up to 64 MiB early. A load holds at most 64 MiB more than the content at its
// peak; a helper thread may prepare the memory pages of the new content ahead of the reading, and
// is joined before loadfile returns or throws.
void loadfile(const std::string& path, std::vector<std::uint8_t>& document,
              const Progress& progress = {}, const Stop& stop = {});

// Write the document under a name that must not exist yet: raw bytes, or a text of fixed-width
// numbers in radix 16, 2 or 10 (any other radix writes an empty file). The output appears whole
// or not at all and never replaces anything; an existing name fails with code 80 (5 for a
// directory).
void savebin(const std::string& path, const std::vector<std::uint8_t>& document,
             const Progress& progress = {}, const Stop& stop = {});
void savetext(const std::string& path, const std::vector<std::uint8_t>& document,
              std::uint8_t radix, const Progress& progress = {}, const Stop& stop = {});

// The code a save to `path` is refused with because the name exists already: 5 for a directory,
// 80 for anything else (a symbolic link, dangling or not, included); 0 when nothing of that name
// exists.
int existingcode(const std::string& path);

// Returns once the file system that holds `path` has answered a question that only it can answer
// (no cache holds the answer): on one that stopped answering, not before it answers again.
void askfilesystem(const std::string& path);

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

// A load or save stopped because a stop was requested.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override;
};

}  // namespace binio
