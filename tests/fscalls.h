// The file work's system calls, replaced through binio's table (binio/syscalls.h) to wait as on a
// file system that does not answer, or to fail, on Linux and Windows alike.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "binio/fileio.h"
#include "binio/syscalls.h"

namespace fscalls {

using binio::SystemCalls;

// The system's own calls, for a replacement to pass a call on to.
inline const SystemCalls real;

// Each system's way: the entries of the file work's steps (a read, a write, a flush, the call
// that gives a save's file its name, the look-up of a name), what a failed call returns, the
// calling thread's error, where a file is, and a pipe whose reads are false when interrupted.
#ifdef _WIN32
inline constexpr auto kRead = &SystemCalls::ReadFile;
inline constexpr auto kWrite = &SystemCalls::WriteFile;
inline constexpr auto kFlush = &SystemCalls::FlushFileBuffers;
inline constexpr auto kName = &SystemCalls::MoveFileExW;
inline constexpr auto kLookup = &SystemCalls::GetFileAttributesW;
inline constexpr BOOL kFailed = FALSE;
inline constexpr DWORD kMissing = INVALID_FILE_ATTRIBUTES;  // what a look-up finds for no file
inline constexpr DWORD kInterrupted = ERROR_OPERATION_ABORTED;
inline constexpr DWORD kDiskFull = ERROR_DISK_FULL;
struct System {
    static DWORD error() { return ::GetLastError(); }
    static void seterror(DWORD error) { ::SetLastError(error); }
    static std::int64_t position(HANDLE file) {
        LARGE_INTEGER at{};
        return ::SetFilePointerEx(file, at, &at, FILE_CURRENT) ? at.QuadPart : 0;
    }
    static bool makepipe(HANDLE (&ends)[2]) { return ::CreatePipe(&ends[0], &ends[1], nullptr, 0); }
    static bool readbyte(HANDLE pipe) {
        char byte = 0;
        DWORD n = 0;
        return real.ReadFile(pipe, &byte, 1, &n, nullptr) || error() != kInterrupted;
    }
    static void writebyte(HANDLE pipe) {
        DWORD n = 0;
        (void)real.WriteFile(pipe, "", 1, &n, nullptr);
    }
    // The bytes a read gave or a write took.
    static std::int64_t bytes(BOOL done, auto, auto, auto, LPDWORD n, auto) {
        return done ? *n : 0;
    }
};
#else
inline constexpr auto kRead = &SystemCalls::read;
inline constexpr auto kWrite = &SystemCalls::write;
inline constexpr auto kFlush = &SystemCalls::fdatasync;
inline constexpr auto kName = &SystemCalls::linkat;
inline constexpr auto kLookup = &SystemCalls::lstat;
inline constexpr int kFailed = -1;
inline constexpr int kMissing = -1;
inline constexpr int kInterrupted = EINTR;
inline constexpr int kDiskFull = ENOSPC;
struct System {
    static int error() { return errno; }
    static void seterror(int error) { errno = error; }
    static std::int64_t position(int fd) { return ::lseek(fd, 0, SEEK_CUR); }
    static bool makepipe(int (&ends)[2]) { return ::pipe2(ends, O_CLOEXEC) == 0; }
    static bool readbyte(int pipe) {
        char byte = 0;
        return real.read(pipe, &byte, 1) >= 0 || errno != kInterrupted;
    }
    static void writebyte(int pipe) { (void)!real.write(pipe, "", 1); }
    static std::int64_t bytes(ssize_t n, auto...) { return std::max<ssize_t>(n, 0); }
};
#endif

// An entry's replacement, a call of it passed on to the system's own, and a failed call.
template <auto Entry>
using Replacing = decltype(binio::Replaced(Entry, nullptr));
template <auto Entry, typename... Args>
auto call(Args... args) {
    return (real.*Entry)(args...);
}
template <auto Entry, typename... Args>
auto failed(Args... args) {
    return decltype(call<Entry>(args...))(kFailed);
}

// Runs `then`, the system's error kept, and returns `result`.
template <typename Result, typename Then>
Result keeping(Result result, Then then) {
    const auto error = System::error();
    then();
    System::seterror(error);
    return result;
}

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
    static Stall& instance() {
        static Stall stall;
        return stall;
    }
    ~Stall() { release(); }

    bool arm(int interrupts, Step at = Step::io, std::int64_t after = 0) {
        release();
        const std::lock_guard lock(mutex_);
        signalsneeded_ = interrupts;
        step = at;
        after_ = after;
        read_ = 0;
        binio::NativeHandle ends[2] = {binio::Handle().get(), binio::Handle().get()};
        armed_ = System::makepipe(ends);
        readend_ = binio::Handle(ends[0]);
        writeend_ = binio::Handle(ends[1]);
        calls_ = std::make_unique<Calls>();
        bound_ = std::jthread([this](std::stop_token stop) {
            for (int ms = 0; ms < kStallBoundMs && !stop.stop_requested(); ms += 10) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (!stop.stop_requested()) {
                std::fprintf(stderr, "the stall let the work go after %d ms\n", kStallBoundMs);
                letgo();
            }
        });
        return armed_;
    }

    // Moves the stall on to the step `at`, letting the call that waits go on.
    void moveto(Step at) {
        step = at;
        const std::lock_guard lock(mutex_);
        System::writebyte(writeend_.get());
    }

    // Lets every waiting call and every later one go on.
    void release() {
        bound_ = {};
        letgo();
        calls_.reset();
    }

    // Waits, as the thread that calls it, until a call waits (for the bound at most); whether one
    // does.
    bool waitforcall() const {
        for (int ms = 0; waiting == 0 && armed_ && ms < kStallBoundMs; ++ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return waiting > 0;
    }

    std::atomic<Step> step{Step::io};
    std::atomic<int> waiting{0};  // calls waiting now
    std::atomic<int> entered{0};  // calls that have waited, or wait now

private:
    Stall() = default;

    // Waits in a call of `at`; false when interrupted, and the call is to fail as interrupted.
    bool wait(Step at) {
        std::unique_lock lock(mutex_);
        if (!armed_ || step != at || (at == Step::io && read_ < after_)) {
            return true;
        }
        const binio::NativeHandle pipe = readend_.get();
        lock.unlock();
        ++waiting;
        ++entered;
        int received = 0;
        while (!System::readbyte(pipe) && ++received != signalsneeded_) {
        }
        --waiting;
        System::seterror(kInterrupted);
        return received == 0 || received != signalsneeded_;
    }

    // The call of a step: it waits first, then passes the call on to the system's own.
    template <auto Entry, Step At>
    static Replacing<Entry> held() {
        return {Entry, [](auto... args) {
                    const auto result =
                        instance().wait(At) ? call<Entry>(args...) : failed<Entry>(args...);
                    if constexpr (At == Step::io) {
                        instance().read_ += System::bytes(result, args...);
                    }
                    return result;
                }};
    }
    struct Calls {
        Replacing<kRead> read = held<kRead, Step::io>();
        Replacing<kWrite> write = held<kWrite, Step::io>();
        Replacing<kFlush> flush = held<kFlush, Step::flush>();
        Replacing<kName> name = held<kName, Step::link>();
#ifndef _WIN32
        // The window asks a file system that left work waiting whether it answers again: not while
        // the stall holds (the call waits, taking no byte from the pipe, until its end).
        Replacing<&SystemCalls::statfs> statfs{
            &SystemCalls::statfs, [](const char* path, struct statfs* fs) {
                std::unique_lock lock(instance().mutex_);
                pollfd from{instance().armed_ ? instance().readend_.get() : -1, POLLIN, 0};
                lock.unlock();
                (void)::poll(&from, 1, from.fd < 0 ? 0 : kStallBoundMs);
                return real.statfs(path, fs);
            }};
#endif
    };

    // Closes the pipe's writing end: every call that waits, and every later one, reads its end.
    void letgo() {
        const std::lock_guard lock(mutex_);
        armed_ = false;
        writeend_.close();
    }

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
inline Stall& stall = Stall::instance();

// While it lives, a disk with room for `room` bytes in each file of a save (-1: any number), whose
// writes past that fail with the system's disk-full error, and its flushes with `flusherror`.
class FailingDisk {
public:
    FailingDisk(std::int64_t room, int flusherror) {
        room_ = room;
        flusherror_ = flusherror;
    }

private:
    static inline std::atomic<std::int64_t> room_;
    static inline std::atomic<int> flusherror_;
    Replacing<kWrite> write_{
        kWrite, [](auto file, auto data, auto size, auto... rest) {
            const std::int64_t held = System::position(file);
            const std::int64_t left = room_ < 0 ? std::int64_t(size) : room_ - held;
            const auto room = decltype(size)(std::clamp<std::int64_t>(left, 0, std::int64_t(size)));
            System::seterror(kDiskFull);
            return room > 0 ? call<kWrite>(file, data, room, rest...)
                            : failed<kWrite>(file, data, room, rest...);
        }};
    Replacing<kFlush> flush_{kFlush, [](auto file) {
                                 System::seterror(decltype(System::error())(flusherror_));
                                 return flusherror_ == 0 ? call<kFlush>(file)
                                                         : failed<kFlush>(file);
                             }};
};

// While it lives, `then` runs right after each read of a load.
class AfterReads {
public:
    explicit AfterReads(void (*then)()) { then_ = then; }

private:
    static inline std::atomic<void (*)()> then_;
    Replacing<kRead> read_{
        kRead, [](auto... args) { return keeping(call<kRead>(args...), then_.load()); }};
};

// While it lives, `missed` runs with each path that binio looks up (lstat(), GetFileAttributesW())
// and finds nothing under, right after the look-up.
class OnMisses {
public:
    explicit OnMisses(void (*missed)(const std::filesystem::path&)) { missed_ = missed; }

private:
    static inline std::atomic<void (*)(const std::filesystem::path&)> missed_;
    Replacing<kLookup> lookup_{kLookup, [](auto path, auto... rest) {
                                   const auto found = call<kLookup>(path, rest...);
                                   return keeping(found, [&] {
                                       if (found == kMissing) {
                                           missed_.load()(path);
                                       }
                                   });
                               }};
};

// While it lives, the file systems make no unnamed files, as FUSE's do not: open(O_TMPFILE)
// fails, and a save writes a hidden file, as it always does on Windows.
struct NoUnnamedFiles {
#ifndef _WIN32
    const Replacing<&SystemCalls::openat> openat{
        &SystemCalls::openat, [](int dir, const char* path, int flags, mode_t mode) {
            System::seterror(EOPNOTSUPP);
            return (flags & O_TMPFILE) == O_TMPFILE ? -1 : real.openat(dir, path, flags, mode);
        }};
#endif
};

}  // namespace fscalls
