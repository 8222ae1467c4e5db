// The file-system layer under the document I/O: an owning file descriptor, the mapping from
// errno to the I/O error codes the user sees, and the output file that appears whole or not at
// all.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace binio {

// Owns one file descriptor and closes it when it goes out of scope. Code that must know whether
// the close succeeded calls close() itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    ~Fd();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    // Closes now and returns close()'s errno, or 0 on success.
    int close();

private:
    int fd_ = -1;
};

enum class Direction { reading, writing };

// The I/O error code for an errno met on `path`. ENOENT becomes 3 rather than 2 when a folder on
// the path is missing; errno values that would collide with one of the program's own codes are
// moved clear of them.
int errnotocode(int err, const std::string& path, Direction direction);

[[noreturn]] void throwerrno(int err, const std::string& path, Direction direction);

// The folder part and the name part of a path, as the output file needs them ("a/b" -> "a",
// "b"; "b" -> ".", "b"; "/b" -> "/", "b").
std::string dirpart(const std::string& path);
std::string namepart(const std::string& path);

// A new file being written under a name that does not exist yet. It is unnamed (O_TMPFILE in the
// target's folder) until commit() has flushed it and linked it under its name, so that a failure
// leaves nothing behind; on file systems without O_TMPFILE the name is created exclusively and
// removed again unless commit() succeeds. Nothing that exists is ever replaced or followed.
class OutputFile {
public:
    // Throws the I/O error: 80 when the name exists, 5 when it is a directory.
    explicit OutputFile(const std::string& path, bool allowunnamed = true);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Writes all `size` bytes, looping over short writes, and sets them on their way to the disk.
    void write(const std::uint8_t* data, std::size_t size);
    // Flushes the bytes to disk and gives the file its name.
    void commit();
    // Whether the file is written unnamed (false on the exclusive-create fallback).
    bool unnamed() const { return unnamed_; }

private:
    [[noreturn]] void fail(int err);
    // Hands the bytes written since `start` to the disk and lets go of older ones.
    void writebehind(off_t start);

    std::string path_;
    std::string name_;
    Fd dir_;
    Fd file_;
    off_t written_ = 0;
    off_t settled_ = 0;  // the bytes before this are on the disk and out of the page cache
    bool unnamed_ = false;
    bool committed_ = false;
};

// The code to raise when `path` exists already: 5 for a directory, 80 for anything else (a
// symbolic link, dangling or not, included); 0 when nothing of that name exists.
int existingcode(const std::string& path);

}  // namespace binio
