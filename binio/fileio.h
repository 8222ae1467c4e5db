// The operating system's part of the document I/O: an owning file handle, the file a load reads
// from, the output file that appears whole or not at all, and the error codes the user sees.
// Declared once here; fileio_posix.cpp and fileio_win32.cpp each give one system's way of doing
// it, and CMake builds the one that fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <thread>

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

// A regular file open for reading. Anything else (a folder, a pipe, a device) is refused with
// code 5 without waiting on it; a failure to open throws the I/O error of the system's reason.
class InputFile {
public:
    explicit InputFile(const std::string& path);

    // The size the file system reports.
    std::int64_t size() const { return size_; }
    // Whether that size tells how much the file holds. It does not for a size of 0 (/proc/cpuinfo
    // reports it) nor on the file systems that make their files' content as they are read
    // (/sys/class/net/lo/address reports 4096 and holds 18 bytes): those are read to their end.
    bool sizeknown() const { return sizeknown_; }
    // One read of up to `size` bytes into `data`: the bytes read, 0 at the end of the file.
    std::size_t read(std::uint8_t* data, std::size_t size);
    // Runs `check` whenever a signal interrupts a read that waits, before the read is tried
    // again: it throws to give up. Without it, the read is simply tried again.
    void oninterrupt(std::function<void()> check) { interrupted_ = std::move(check); }
    // Closes the file, throwing the I/O error if the close fails.
    void close();

private:
    std::string path_;
    Handle file_;
    std::int64_t size_ = 0;
    bool sizeknown_ = true;
    std::function<void()> interrupted_;
};

// A new file being written under a name that does not exist yet. Until commit() has flushed it
// to the disk, it is not under that name, so that a failure or a stop leaves nothing behind; the
// commit never replaces a name that appeared meanwhile, and nothing that exists is ever followed.
//
// On Linux the file is unnamed (O_TMPFILE in the target's folder) and commit() links it; on file
// systems without O_TMPFILE, or when `allowunnamed` is false, the name itself is created
// exclusively and removed again unless commit() succeeds. On Windows it is a new hidden file in
// the target's folder that commit() moves to the name.
class OutputFile {
public:
    // Throws the I/O error: 80 when the name exists, 5 when it is a directory.
    explicit OutputFile(const std::string& path, bool allowunnamed = true);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Writes all `size` bytes, looping over short writes, and sets them on their way to the disk.
    void write(const std::uint8_t* data, std::size_t size);
    // As InputFile::oninterrupt, for a write that waits.
    void oninterrupt(std::function<void()> check) { interrupted_ = std::move(check); }
    // Flushes the bytes to disk and gives the file its name.
    void commit();
    // Whether the file is being written away from its name (false on the exclusive-create
    // fallback, and once commit() has named it).
    bool unnamed() const { return unnamed_; }

private:
    [[noreturn]] void fail(int err);

    std::string path_;
    Handle file_;
    bool unnamed_ = false;
    bool committed_ = false;
    std::function<void()> interrupted_;
#ifdef _WIN32
    std::wstring target_;  // the full wide path of the name
    std::wstring temp_;    // the hidden file written until the commit
#else
    // Hands the bytes written since `start` to the disk and lets go of older ones.
    void writebehind(std::int64_t start);

    std::string name_;
    Handle dir_;
    std::int64_t written_ = 0;
    std::int64_t settled_ = 0;  // the bytes before this are on the disk and out of the cache
#endif
};

// The code to raise when `path` exists already: 5 for a directory, 80 for anything else (a
// symbolic link, dangling or not, included); 0 when nothing of that name exists.
int existingcode(const std::string& path);

// Asks the system to make the `size` bytes of memory pages from `begin` on ready for writing,
// without writing them; false when it cannot, and the caller makes them as it writes.
bool makepages(void* begin, std::size_t size);

// Whether memory can be taken as address space far beyond what is used, its pages costing
// nothing until written: not when a limit on the process's address space or data counts all of
// it (RLIMIT_AS, RLIMIT_DATA), nor when the system charges all of it as it is taken (strict
// overcommit, 2 in proc/sys/vm/overcommit_memory under `root`, read as memoryavailable() reads
// its files), nor on Windows, which charges it too, nor with addresses of less than 64 bits.
bool canreserve(const std::string& root);

// Gives the memory of the whole pages in the `size` bytes from `begin` back to the system; they
// stay the caller's, and read as zeroes until written again.
void givepages(void* begin, std::size_t size);

// Makes a signal to a worker's thread interrupt the read or write it waits in (see Worker); the
// call then fails with EINTR. Nothing on systems where a signal cannot do that.
void prepareinterrupts();
void interruptthread(std::thread& thread);
// Names the calling thread, a worker's, as the system shows it.
void nameworker();

// What memoryavailable() returns when nothing tells how much memory there is.
inline constexpr std::uint64_t kMemoryUnknown = std::numeric_limits<std::uint64_t>::max();

// The bytes of memory the process may still take before the system, or a memory cgroup it is in,
// runs out, as binio.h tells how it is reckoned. The system's files are read under `root`, which
// is "/" but for a test that writes files of its own there.
std::uint64_t memoryavailable(const std::string& root);

}  // namespace binio
