// The file layer of the document I/O: an owning file handle, the file a load reads from and the
// output file that appears whole or not at all, each failing with the error code the user sees
// and stopping when the operation is asked to stop. Declared once here; the _posix and _win32
// sources each give one system's way of doing it, and CMake builds the one that fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "binio/binio.h"

namespace binio {

#ifdef _WIN32
using NativeHandle = void*;  // a HANDLE
#else
using NativeHandle = int;  // a file descriptor
#endif

// Owns one file descriptor or handle and closes it when it goes out of scope. Code that must
// know whether the close succeeded calls close() itself.
class Handle {
public:
    Handle() = default;
    // Takes what an open call returned; its failure value makes an empty Handle.
    explicit Handle(NativeHandle handle);
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.release();
        }
        return *this;
    }
    ~Handle() { close(); }

    NativeHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != kNone; }
    NativeHandle release() {
        NativeHandle handle = handle_;
        handle_ = kNone;
        return handle;
    }
    // Closes now and returns the system's error for the close, or 0 on success. The one part,
    // with the constructor, that each system does its own way.
    int close();

private:
#ifdef _WIN32
    static constexpr NativeHandle kNone = nullptr;
#else
    static constexpr NativeHandle kNone = -1;
#endif
    NativeHandle handle_ = kNone;
};

// Files move in blocks of this size: large enough that the number of system calls does not
// matter, small enough that progress is reported and a stop request is seen often.
inline constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// Reports progress to a caller that asked for it.
inline void report(const Progress& progress, std::uint64_t done, std::uint64_t total) {
    if (progress) {
        progress(done, total);
    }
}

// Throws Cancelled once a stop has been requested through `stop`. The file layer asks before
// each read or write, so between blocks and again when a read or write that waits is
// interrupted (see Worker::interrupt); the load and the save ask once more before their end.
inline void throwifstopped(const Stop& stop) {
    if (stop.requested()) {
        throw Cancelled();
    }
}

// The hidden name a save's file is written under until it is named, in the target's folder: a
// file being written is nothing the user should see or open, and the id of the `process` keeps two
// programs' saves apart. Leftovers of earlier runs under the same id are stepped over, up to
// kHiddenAttempts of them, `attempt` counting them.
inline std::string hiddenname(unsigned long process, int attempt) {
    return ".tessarin-" + std::to_string(process) + "-" + std::to_string(attempt) + ".tmp";
}
inline constexpr int kHiddenAttempts = 1000;

// A regular file open for reading. Anything else (a folder, a pipe, a device) is refused with
// code 5 without waiting on it; a failure to open throws the I/O error of the system's reason.
class InputFile {
public:
    explicit InputFile(const std::string& path, const Stop& stop = {});

    // The size the file system reports.
    std::int64_t size() const { return size_; }
    // Whether that size tells how much the file holds. It does not for a size of 0 (/proc/cpuinfo
    // reports it) nor on the file systems that make their files' content as they are read
    // (/sys/class/net/lo/address reports 4096 and holds 18 bytes): those are read to their end.
    bool sizeknown() const { return sizeknown_; }
    // One read of up to `size` bytes into `data`: the bytes read, 0 at the end of the file.
    // Throws Cancelled instead once a stop is requested.
    std::size_t read(std::uint8_t* data, std::size_t size);
    // Closes the file, throwing the I/O error if the close fails.
    void close();

private:
    std::string path_;
    Handle file_;
    std::int64_t size_ = 0;
    bool sizeknown_ = true;
    Stop stop_;
};

// A new file being written under a name that does not exist yet. Until commit() has flushed it
// to the disk, it is not under that name, so that a failure, a stop or a crash leaves nothing
// under it; the commit never replaces a name that appeared meanwhile, and nothing that exists is
// ever followed.
//
// On Linux the file is unnamed (O_TMPFILE in the target's folder) and commit() links it. On file
// systems without O_TMPFILE (FUSE, NFS, SMB), or when `allowunnamed` is false, it is a new hidden
// file in the target's folder that commit() renames without replacing (RENAME_NOREPLACE) or, where
// the file system cannot, links to the name and unlinks; only where it can do neither is the name
// itself created exclusively and removed again unless commit() succeeds. On Windows it is a new
// hidden file in the target's folder that commit() moves to the name.
class OutputFile {
public:
    // Throws the I/O error: 80 when the name exists, 5 when it is a directory.
    explicit OutputFile(const std::string& path, const Stop& stop = {}, bool allowunnamed = true);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Writes all `size` bytes, looping over short writes, and sets them on their way to the disk.
    // Throws Cancelled instead once a stop is requested.
    void write(const std::uint8_t* data, std::size_t size);
    // Flushes the bytes to disk and gives the file its name.
    void commit();
    // Whether the file is being written away from its name (false where the name itself is
    // written, and once commit() has named it).
    bool unnamed() const { return unnamed_; }

private:
    [[noreturn]] void fail(int err);

    std::string path_;
    Handle file_;
    bool unnamed_ = false;
    bool committed_ = false;
    Stop stop_;
#ifdef _WIN32
    std::wstring target_;  // the full wide path of the name
    std::wstring temp_;    // the hidden file written until the commit
#else
    // Hands the bytes written since `start` to the disk and lets go of older ones.
    void writebehind(std::int64_t start);
    // Makes the file under a new hidden name and finds how commit() can name it; false, leaving
    // nothing behind, where the file system can neither rename without replacing nor link.
    bool makehidden();
    // Gives the file its name without replacing one: 0, or the errno (EEXIST: the name exists).
    int givename();
    // Keeps the removal of the file `name` in the stop request (see Stop::keep).
    void keepfile(const std::string& name);

    std::string name_;
    std::string temp_;      // the hidden name the file is written under, if it has one
    bool renames_ = false;  // commit() renames temp_ to the name, rather than linking it
    // The target's folder, shared with the removal kept in the stop request, which may outlive
    // this file.
    std::shared_ptr<const Handle> dir_;
    std::int64_t written_ = 0;
    std::int64_t settled_ = 0;  // the bytes before this are on the disk and out of the cache
#endif
};

}  // namespace binio
