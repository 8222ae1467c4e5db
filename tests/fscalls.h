// The file work's system calls, replaced through binio's table (binio/syscalls.h) to wait as on a
// file system that does not answer, or to fail, on Linux and Windows alike.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "binio/fileio.h"
#include "binio/syscalls.h"

namespace fscalls {

using binio::SystemCalls;

// The system's own calls, for a replacement to pass a call on to.
extern const SystemCalls real;

// Each system's way: the entries of the file work's steps (a read, a write, a flush, the look-up
// of a name), and the calling thread's error.
#ifdef _WIN32
inline constexpr auto kRead = &SystemCalls::ReadFile;
inline constexpr auto kWrite = &SystemCalls::WriteFile;
inline constexpr auto kFlush = &SystemCalls::FlushFileBuffers;
inline constexpr auto kLookup = &SystemCalls::GetFileAttributesW;
using Error = DWORD;
#else
inline constexpr auto kRead = &SystemCalls::read;
inline constexpr auto kWrite = &SystemCalls::write;
inline constexpr auto kFlush = &SystemCalls::fdatasync;
inline constexpr auto kLookup = &SystemCalls::lstat;
using Error = int;
#endif

// The calling thread's error (errno, GetLastError()), which a replacement sets as the system would.
struct System {
    static Error error();
    static void seterror(Error error);
};

// An entry's replacement.
template <auto Entry>
using Replacing = decltype(binio::Replaced(Entry, nullptr));

// The steps of the file work that the stall can hold: a read of a load or a write of a save, a
// save's flush, the call that gives a save's file its name; none holds no later call.
enum class Step { io, flush, link, none };
inline constexpr int kStallBoundMs = 20000;

// The file work waits in the system, as on a file system that does not answer: while armed, the
// calls of one step first make a real read of a pipe that nobody writes. The wait ends when the
// test lets the call go or moves the stall on, or with the n-th interruption of the worker (its
// signal without SA_RESTART, Windows's CancelSynchronousIo): the call fails as interrupted, as on a
// stalled network file system; with n = 0 it waits again after each. Reads wait once `after` bytes
// went through. After kStallBoundMs the stall lets every call go, with a warning, so that a fault
// (a Cancel that never reaches the work) fails its row in seconds, not at CTest's timeout.
class Stall {
public:
    ~Stall();

    bool arm(int interrupts, Step at = Step::io, std::int64_t after = 0);
    // Moves the stall on to the step `at`, letting the call that waits go on.
    void moveto(Step at);
    // Lets every waiting call and every later one go on.
    void release();
    // Waits, as the thread that calls it, until a call waits (for the bound at most); whether one
    // does.
    bool waitforcall() const;

    std::atomic<Step> step{Step::io};
    std::atomic<int> waiting{0};  // calls waiting now
    std::atomic<int> entered{0};  // calls that have waited, or wait now

private:
    struct Calls;  // the replaced entries while armed
    // Waits in a call of `at`; false when interrupted, and the call is to fail as interrupted.
    bool wait(Step at);
    // Closes the pipe's writing end: every call that waits, and every later one, reads its end.
    void letgo();

    std::mutex mutex_;
    std::atomic<bool> armed_{false};
    int signalsneeded_ = 1;
    std::int64_t after_ = 0;
    std::atomic<std::int64_t> read_{0};  // the bytes the stall's reads gave (and its writes took)
    binio::Handle readend_;
    binio::Handle writeend_;
    std::jthread bound_;
    std::unique_ptr<Calls> calls_;
};
extern Stall stall;

// While it lives, a disk with room for `room` bytes in each file of a save (-1: any number), whose
// writes past that fail with the system's disk-full error, and its flushes with `flusherror`.
class FailingDisk {
public:
    FailingDisk(std::int64_t room, int flusherror);

private:
    Replacing<kWrite> write_;
    Replacing<kFlush> flush_;
};

// While it lives, `then` runs right after each read of a load.
class AfterReads {
public:
    explicit AfterReads(void (*then)());

private:
    Replacing<kRead> read_;
};

// While it lives, `missed` runs with each path that binio looks up (lstat(), GetFileAttributesW())
// and finds nothing under, right after the look-up.
class OnMisses {
public:
    explicit OnMisses(void (*missed)(const std::filesystem::path&));

private:
    Replacing<kLookup> lookup_;
};

// While it lives, the file systems make no unnamed files, as FUSE's do not: open(O_TMPFILE)
// fails, and a save writes a hidden file, as it always does on Windows.
struct NoUnnamedFiles {
#ifndef _WIN32
    NoUnnamedFiles();
    const Replacing<&SystemCalls::openat> openat;
#endif
};

}  // namespace fscalls
